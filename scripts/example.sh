#!/usr/bin/env bash
# Builds apfold, runs it on the example survey in a scratch copy and shows
# what it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target apfold
work=build/example-run
rm -rf "$work"
cp -r examples/survey "$work"
cd "$work"
echo "== apfold 12 3 in $work"
../default/apfold 12 3
echo "== db.bin: $(stat -c %s db.bin) bytes (20-byte header + 12 records of 1228 bytes)"
# od prints the five header fields over two lines; word-splitting joins them.
set -- $(od -A n -t d4 -N 20 db.bin)
n=$1 width=$2 height=$3 offset_x=$4 offset_y=$5
echo "num_refpoints=$n width=$width height=$height offset_x=$offset_x offset_y=$offset_y"
