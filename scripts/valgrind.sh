#!/usr/bin/env bash
# Runs apfold under valgrind's memcheck: once on a scratch copy of the example
# survey (apfold 12 3), and under the command-line tests, which start apfold
# themselves (--trace-children=yes checks every process they start).
# Fails on any memory error or any definite or possible leak. Reports go to
# build/valgrind/logs/<pid>.log, one per process, so that the tests still see
# exactly what apfold prints.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
build=build/valgrind
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAPFOLD_WERROR=ON >/dev/null
cmake --build "$build" --target apfold apfold_tests

logs=$PWD/$build/logs
rm -rf "$logs"
mkdir -p "$logs"
memcheck=(valgrind --tool=memcheck --error-exitcode=1 --leak-check=full
  --errors-for-leak-kinds=definite,possible --show-leak-kinds=definite,possible
  --log-file="$logs/%p.log")

status=0

echo "== apfold 12 3 on the example survey"
work=$build/example-survey
rm -rf "$work"
cp -r examples/survey "$work"
if ! (cd "$work" && "${memcheck[@]}" "$PWD/../apfold" 12 3 >/dev/null); then
  echo "apfold 12 3 failed under memcheck" >&2
  status=1
fi
# The same database as without valgrind.
mv "$work/db.bin" "$work/db.bin.memcheck"
(cd "$work" && "$PWD/../apfold" 12 3 >/dev/null)
cmp "$work/db.bin" "$work/db.bin.memcheck" || { echo "the database differs under memcheck" >&2; status=1; }

# Memcheck gives every byte of an allocation shadow memory, so the runs whose
# counts ask for coordinate arrays of 8 GB or more would exhaust the
# machine: those run unchecked (--trace-children-skip-by-arg). The memory
# bound of Cli.AbsurdCountsStayWithinMemory cannot hold when apfold is
# started from a process running under valgrind, whose memory the child's
# peak includes; its other counts are run on their own below.
echo "== command-line tests"
if ! "${memcheck[@]}" --trace-children=yes --trace-children-skip-by-arg='*2147483647*,*99999999999*' \
  "$build/tests/apfold_tests" --gtest_filter='Cli.*:-Cli.AbsurdCountsStayWithinMemory'; then
  echo "command-line tests failed under memcheck" >&2
  status=1
fi

echo "== absurd counts"
absurd=$build/absurd-counts
rm -rf "$absurd"
mkdir -p "$absurd"
printf '1\t(0,0)\n2\t(0,1)\n' >"$absurd/seq.txt"
printf 'Cell 01 - Address: A Signal level=-50\n' >"$absurd/scan1-1"
for counts in "0 2147483647" "1 2147483647"; do
  # Only memcheck's verdict counts here: the run's own status is 0, 1 or 2.
  (cd "$absurd" && "${memcheck[@]}" --error-exitcode=99 "$PWD/../apfold" $counts >/dev/null 2>&1) ||
    [[ $? -ne 99 ]] || { echo "apfold $counts: memcheck found errors" >&2; status=1; }
done

# Every finished process's report must show no errors and nothing definitely
# or possibly lost. A report without a summary is left by a forked copy of
# the test program that then started apfold unchecked; one of apfold's own
# must have its summary.
reports=0
for f in "$logs"/*.log; do
  reports=$((reports + 1))
  if grep -q 'ERROR SUMMARY: 0 errors' "$f"; then continue; fi
  if ! grep -q 'ERROR SUMMARY' "$f" && ! grep -q 'Command: .*/apfold ' "$f"; then continue; fi
  echo "--- memcheck report $f" >&2
  cat "$f" >&2
  status=1
done
echo "== memcheck: $reports process reports in $logs, $( [[ $status -eq 0 ]] && echo clean || echo FAILED)"
exit $status
