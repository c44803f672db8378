#!/usr/bin/env bash
# Builds apfold and apdump, runs apfold on the example survey in a scratch
# copy and shows what it wrote with apdump.
#   scripts/example.sh            with the default preset (build/default)
#   scripts/example.sh release    with another configure preset, e.g. the
#                                 Release build that CI checks
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
scripts/deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target apfold apdump
bin=$PWD/build/$preset
work=build/example-run-$preset
[[ "$preset" == default ]] && work=build/example-run
rm -rf "$work"
cp -r examples/survey "$work"
cd "$work"
echo "== apfold 12 3 in $work"
"$bin/apfold" 12 3
echo "== db.bin: $(stat -c %s db.bin) bytes (20-byte header + 12 records of 1228 bytes)"
echo "== apdump db.bin"
"$bin/apdump" db.bin
