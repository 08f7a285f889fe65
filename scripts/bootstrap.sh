#!/usr/bin/env bash
# Installs what building and testing Corvane needs on a Debian machine, once:
# a package already present is skipped, and nothing is printed when all are.
#   scripts/bootstrap.sh           everything (native, Windows cross build, Wine)
#   scripts/bootstrap.sh native    only what the Linux build needs
#   scripts/bootstrap.sh quick     that and clang-format (test.sh --quick)
set -euo pipefail

native=(cmake make g++ libgtest-dev libbenchmark-dev libsqlite3-dev sqlite3)
# clang-format is the check for drift in test.sh.
quick=("${native[@]}" clang-format)
# clang and its runtime build the fuzz target; jq and time serve the Wine
# benchmark comparison.
full=("${quick[@]}" googletest g++-mingw-w64-x86-64 wine64 wine clang
      libclang-rt-14-dev jq time)

case "${1:-all}" in
  native) wanted=("${native[@]}") ;;
  quick) wanted=("${quick[@]}") ;;
  all) wanted=("${full[@]}") ;;
  *) echo "usage: $0 [native|quick|all]" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
