#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour
# sanitizers) into build/fuzz and runs them, one at a time, at the lowest
# priority.
#
#   scripts/fuzz.sh [smoke]             every target for FUZZ_SECONDS (default 20) from
#                                       fuzz/corpus; what it finds is thrown away
#   scripts/fuzz.sh campaign [SECONDS]  every target for SECONDS (default 600); the inputs it
#                                       finds are kept in build/fuzz/corpus/<target> and the
#                                       next campaign goes on from them
#   FUZZ_TARGETS="scan_text decimal" scripts/fuzz.sh ...    only those targets
#
# A crash, leak, hang, sanitizer report or broken invariant fails the run; the
# input is saved as build/fuzz/artifacts/<target>/crash-... (or leak-, timeout-).
# Replay one with build/fuzz/fuzz/fuzz_<target> <file>.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-smoke}
case "$mode" in
  smoke) seconds=${FUZZ_SECONDS:-20} ;;
  campaign) seconds=${2:-${FUZZ_SECONDS:-600}} ;;
  *) echo "usage: $0 [smoke | campaign [SECONDS]]" >&2; exit 2 ;;
esac

all_targets=(scan_text scan_listing seq_text decimal decimal_diff laserscan_text folding db_reader)
read -r -a targets <<<"${FUZZ_TARGETS:-${all_targets[*]}}"

# Longest input per target: enough for every shape its seeds have, small
# enough to keep executions fast.
max_len() {
  case "$1" in
    decimal | decimal_diff) echo 256 ;;
    seq_text) echo 2048 ;;
    folding | db_reader) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

dict_for() {
  case "$1" in
    decimal | decimal_diff) echo fuzz/dict/decimal.dict ;;
    scan_text | folding) echo fuzz/dict/scan_text.dict ;;
    *) echo "fuzz/dict/$1.dict" ;;
  esac
}

scripts/deps.sh
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DAPFOLD_FUZZ=ON -DAPFOLD_BUILD_TESTS=OFF -DAPFOLD_WERROR=ON >/dev/null
cmake --build build/fuzz --target fuzz_targets

# CPU time of waited-for children, in clock ticks (fields 16 and 17 of stat).
children_ticks() { awk '{ print $16 + $17 }' "/proc/$$/stat"; }
ticks_per_second=$(getconf CLK_TCK)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
summary=()
for t in "${targets[@]}"; do
  bin=build/fuzz/fuzz/fuzz_$t
  [[ -x "$bin" ]] || { echo "no fuzz target $t" >&2; exit 2; }
  if [[ "$mode" == smoke ]]; then
    work=build/fuzz/smoke/$t
    rm -rf "$work"
  else
    work=build/fuzz/corpus/$t
  fi
  artifacts=build/fuzz/artifacts/$t
  mkdir -p "$work" "$artifacts"
  log=build/fuzz/$t.$mode.log
  dict=$(dict_for "$t")
  dict_arg=()
  [[ -f "$dict" ]] && dict_arg=("-dict=$dict")

  echo "== fuzz_$t: $seconds s ($mode)"
  before=$(children_ticks)
  status=0
  nice -n 19 "$bin" "$work" "fuzz/corpus/$t" "${dict_arg[@]}" \
    -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1 || status=$?
  after=$(children_ticks)
  cpu=$(awk -v t=$((after - before)) -v hz="$ticks_per_second" 'BEGIN { printf "%.0f", t / hz }')
  execs=$(awk '/stat::number_of_executed_units/ { print $NF }' "$log")
  files=$(find "$work" -type f | wc -l)
  line="fuzz_$t: status $status, ${cpu:-?} s CPU, ${execs:-?} executions, $files new corpus files"
  summary+=("$line")
  if ((status != 0)); then
    failed+=("$t")
    grep -E 'invariant broken|ERROR:|runtime error|SUMMARY|Test unit written' "$log" | head -20 >&2 || true
    echo "   full log: $log" >&2
  fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]} (inputs in build/fuzz/artifacts/)" >&2
  exit 1
fi
