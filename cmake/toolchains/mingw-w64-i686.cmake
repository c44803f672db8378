# Cross-building for 32-bit Windows with Debian's MinGW-w64 (package
# g++-mingw-w64-i686-posix: the posix thread model, which GoogleTest needs).
#
#   cmake -S . -B build/win-i686 -G Ninja --toolchain cmake/toolchains/mingw-w64-i686.cmake
#
# The programs are linked statically, so an .exe runs on its own (no
# libstdc++, libgcc or winpthread DLLs beside it). When 32-bit wine is
# installed (Debian's wine32:i386), ctest runs the test programs under it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(APFOLD_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Debian's 32-bit wine loader; wine64 cannot start 32-bit programs.
find_program(APFOLD_WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(APFOLD_WINE32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${APFOLD_WINE32})
endif()
