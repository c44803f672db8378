#!/usr/bin/env bash
# Builds the "bench" preset and runs the benchmark: apfold against the
# bare-I/O baseline on a generated survey, aplocate's evaluation of the same
# survey against apfold, then the micro-benchmarks.
# Arguments go to bench/run_bench.py, e.g. --points 500 --scans 10,
# --pairs 9, --scaling (also a survey ten times larger), --no-micro,
# --cold (the page cache dropped before every run; root on Linux).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
command -v python3 >/dev/null || { echo "bench.sh needs python3" >&2; exit 1; }
cmake --preset bench >/dev/null
cmake --build --preset bench --target apfold aplocate apfold_baseline apfold_launch apfold_micro
exec python3 bench/run_bench.py --apfold build/bench/apfold \
  --baseline build/bench/bench/apfold_baseline --launch build/bench/bench/apfold_launch \
  --micro build/bench/bench/apfold_micro --aplocate build/bench/aplocate \
  --surveys build "$@"
