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
set(CMAKE_C_COMPILER ${APFOLD_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${APFOLD_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${APFOLD_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${APFOLD_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Debian puts wine64 in /usr/lib/wine rather than on the PATH.
find_program(APFOLD_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(APFOLD_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${APFOLD_WINE64})
endif()
