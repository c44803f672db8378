#!/usr/bin/env bash
# Builds the commands; records a small survey with apsurvey and the fake
# scanner of examples/scanner, and folds it; then runs apfold on the example
# survey in a scratch copy, shows what it wrote with apdump, and ends with
# aplocate's evaluation of the survey.
#   scripts/example.sh            with the default preset (build/default)
#   scripts/example.sh release    with another configure preset, e.g. the
#                                 Release build that CI checks
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
scripts/deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target apfold apdump aplocate apsurvey
bin=$PWD/build/$preset

record=build/example-record-$preset
rm -rf "$record" "$record.runs"
mkdir -p "$record"
scanner="'$PWD/examples/scanner/fake-scanner' '$PWD/$record.runs'"
echo "== apsurvey in $record: 3 points of 2 scans, typed on its standard input, with a fake scanner"
(cd "$record" && printf '0,0\n1,0\n(1,1)\nq\n' | "$bin/apsurvey" --scanner "$scanner" --scans 2 --wait 0)
echo "== seq.txt"
cat "$record/seq.txt"
echo "== scan1-1 (scan1-2 is the same access points as iw listed them, without noise levels)"
cat "$record/scan1-1"
echo "== apfold 3 2 in $record"
(cd "$record" && "$bin/apfold" 3 2)
echo
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
