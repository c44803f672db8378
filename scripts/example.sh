#!/usr/bin/env bash
# Builds apfold and apdump, runs apfold on the example survey in a scratch
# copy and shows what it wrote with apdump.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target apfold apdump
work=build/example-run
rm -rf "$work"
cp -r examples/survey "$work"
cd "$work"
echo "== apfold 12 3 in $work"
../default/apfold 12 3
echo "== db.bin: $(stat -c %s db.bin) bytes (20-byte header + 12 records of 1228 bytes)"
echo "== apdump db.bin"
../default/apdump db.bin
