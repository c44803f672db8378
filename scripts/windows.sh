#!/usr/bin/env bash
# Cross-builds apfold for Windows with MinGW-w64, 64-bit (build/win-x86_64)
# and 32-bit (build/win-i686), and runs the 64-bit test suite under wine64.
# The 32-bit build is built, tests included, but not run: wine64 cannot
# start 32-bit programs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --windows

for arch in x86_64 i686; do
  echo "== Windows $arch"
  cmake -S . -B "build/win-$arch" -G Ninja --toolchain "cmake/toolchains/mingw-w64-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "build/win-$arch"
done

# wine in a prefix of its own, made for this run and removed after it. A
# persistent wineserver serves every test program (instead of one starting
# per test), and wineboot makes the prefix once, before the tests.
WINEPREFIX=$(mktemp -d /tmp/apfold-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
cleanup() {
  "$wineserver" -k 2>/dev/null || true  # the server of this prefix only
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
"$wineserver" -p
"$wine64" wineboot --init >/dev/null 2>&1

echo "== Windows x86_64 tests under wine64"
ctest --test-dir build/win-x86_64 -j2 --output-on-failure --no-tests=error
