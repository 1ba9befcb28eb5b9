# Windows x86_64: what current 64-bit hosts load, and where the suite runs under Wine.
set(KIVREL_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
