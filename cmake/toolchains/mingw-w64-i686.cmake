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
set(CMAKE_C_COMPILER ${APFOLD_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${APFOLD_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${APFOLD_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${APFOLD_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Levels are stored bit for bit: float arithmetic in SSE registers rounds
# each operation to single precision as on x86_64, where the default x87
# code would keep sums in 80-bit registers. Every processor that runs a
# supported Windows has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
