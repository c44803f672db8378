#!/usr/bin/env bash
# Builds apfold and its tests and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --workflow --preset default
