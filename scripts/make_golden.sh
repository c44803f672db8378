#!/usr/bin/env bash
# Remakes tests/golden/example.db.bin: the database that the Linux build of
# apfold writes for examples/survey with "apfold 12 3". The tests hold what
# apfold writes, on Linux and on Windows, and what a program built on the
# installed library writes, to it byte for byte (tests/golden/README.md).
# Remake it only for a change that is meant to change the database.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=build/ship-golden
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAPFOLD_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target apfold
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r examples/survey/. "$work"
(cd "$work" && "$OLDPWD/$build/apfold" 12 3 >/dev/null)
cp "$work/db.bin" tests/golden/example.db.bin
echo "tests/golden/example.db.bin: $(stat -c %s tests/golden/example.db.bin) bytes, sha256 $(sha256sum tests/golden/example.db.bin | cut -d' ' -f1)"
