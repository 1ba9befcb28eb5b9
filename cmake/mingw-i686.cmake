# Windows i686 (32-bit); compiled and checked here, never run.
set(KIVREL_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
