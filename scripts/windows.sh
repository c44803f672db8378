#!/usr/bin/env bash
# Cross-builds apfold for Windows with MinGW-w64, 64-bit (build/win-x86_64)
# and 32-bit (build/win-i686), and runs each test suite under wine: the
# 64-bit one under wine64, the 32-bit one under 32-bit wine. Each build
# folder names its own emulator, so plain ctest works in either.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --windows

for arch in x86_64 i686; do
  echo "== Windows $arch"
  cmake -S . -B "build/win-$arch" -G Ninja --toolchain "cmake/toolchains/mingw-w64-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAPFOLD_WERROR=ON >/dev/null
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

for arch in x86_64 i686; do
  emulator=$(sed -n 's/^APFOLD_WINE[0-9]*:FILEPATH=//p' "build/win-$arch/CMakeCache.txt")
  [[ -x "$emulator" ]] || { echo "windows.sh: no wine to run the $arch tests" >&2; exit 1; }
  # 32-bit wine is a 32-bit Linux program: a kernel built without IA32
  # emulation cannot start it at all ("Exec format error").
  if [[ "$arch" == i686 ]] && ! "$emulator" --version >/dev/null 2>&1; then
    echo "== Windows i686 tests NOT RUN: this kernel cannot execute 32-bit programs, 32-bit wine included"
    echo "   ($("$emulator" --version 2>&1 | head -n 1))"
    continue
  fi
  echo "== Windows $arch tests under $emulator"
  ctest --test-dir "build/win-$arch" -j2 --output-on-failure --no-tests=error
done
