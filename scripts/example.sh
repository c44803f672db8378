#!/usr/bin/env bash
# Builds apfold, apdump and aplocate, runs apfold on the example survey in a
# scratch copy, shows what it wrote with apdump, and ends with aplocate's
# evaluation of the survey.
#   scripts/example.sh            with the default preset (build/default)
#   scripts/example.sh release    with another configure preset, e.g. the
#                                 Release build that CI checks
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
scripts/deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target apfold apdump aplocate
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
echo "== aplocate scan7-2 (a scan located with the map)"
"$bin/aplocate" scan7-2
echo "== aplocate --evaluate 12 3 --svg errors.svg (leave one point out)"
"$bin/aplocate" --evaluate 12 3 --svg errors.svg
