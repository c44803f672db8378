#!/usr/bin/env bash
# Installs what building and testing apfold needs, from Debian's packages,
# when it is not there yet. Safe to run again.
#   scripts/deps.sh            the Linux build, tests, benchmarks, fuzzing
#   scripts/deps.sh --package  and what building the Debian package needs
#   scripts/deps.sh --windows  and the MinGW-w64 cross compilers (posix thread
#                              model, for GoogleTest), GoogleTest's sources,
#                              and wine64 and 32-bit wine to run the Windows
#                              tests (the i386 architecture is enabled for it)
set -euo pipefail

# locales-all: the test that levels are read whatever the locale needs a
# locale with a decimal comma.
packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev clang libclang-rt-14-dev valgrind librsvg2-bin
  locales-all)
PACKAGE_PACKAGES=(dpkg-dev)
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest wine64 wine32:i386)
for flag in "$@"; do
  case "$flag" in
    --package) packages+=("${PACKAGE_PACKAGES[@]}") ;;
    --windows) packages+=("${WINDOWS_PACKAGES[@]}") ;;
    *) echo "deps.sh: unknown option $flag" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  # 32-bit wine comes from Debian's i386 architecture.
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
