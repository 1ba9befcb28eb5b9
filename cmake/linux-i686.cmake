# Linux i686 (32-bit) with the host's multilib GCC. The machines here run no
# 32-bit program natively: scripts/test.sh runs the suite under qemu-i386,
# named as CMAKE_CROSSCOMPILING_EMULATOR.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT -m32)
endforeach()
# The 32-bit libraries (lib32ncurses-dev and GCC's own) are in /usr/lib32;
# the 64-bit ones beside them must never be found.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set_property(GLOBAL PROPERTY FIND_LIBRARY_USE_LIB32_PATHS TRUE)
set_property(GLOBAL PROPERTY FIND_LIBRARY_USE_LIB64_PATHS FALSE)
