#!/usr/bin/env bash
# Installs what building and testing apfold needs, from Debian's packages,
# when it is not there yet. Safe to run again.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev clang libclang-rt-14-dev valgrind librsvg2-bin)
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
