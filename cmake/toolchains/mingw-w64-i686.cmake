# Cross-building for 32-bit Windows with Debian's MinGW-w64 (package
# g++-mingw-w64-i686-posix: the posix thread model, which GoogleTest needs).
#
#   cmake -S . -B build/win-i686 -G Ninja --toolchain cmake/toolchains/mingw-w64-i686.cmake
#
# The programs are linked statically, so an .exe runs on its own (no
# libstdc++, libgcc or winpthread DLLs beside it). The tests are built
# but not run here: wine64 cannot start 32-bit programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(APFOLD_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
