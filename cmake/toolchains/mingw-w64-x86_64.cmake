# Cross-building for 64-bit Windows with Debian's MinGW-w64 (package
# g++-mingw-w64-x86-64-posix: the posix thread model, which GoogleTest needs).
#
#   cmake -S . -B build/win-x86_64 -G Ninja --toolchain cmake/toolchains/mingw-w64-x86_64.cmake
#
# The programs are linked statically, so an .exe runs on its own (no
# libstdc++, libgcc or winpthread DLLs beside it). When wine64 is
# installed, ctest runs the test programs under it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(APFOLD_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Debian puts wine64 in /usr/lib/wine rather than on the PATH.
find_program(APFOLD_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(APFOLD_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${APFOLD_WINE64})
endif()
