#!/bin/sh
# The example written as ordinary Windows code, built twice from one source:
# registry_tour on Linux (emulated registry, through corvane::winreg) and
# registry_tour.exe under Wine (the system's registry) must print the same
# lines and both exit 0. Line endings aside, the output is compared byte for
# byte.
#
#   tests/wine/example_same_output.sh NATIVE_BUILD WINDOWS_BUILD
#
# Runs under the caller's WINEPREFIX / WINEDEBUG / WINEDLLOVERRIDES; the
# Linux run gets a store of its own in a scratch folder.
set -eu

native=$1/examples/registry_tour
exe=$2/examples/registry_tour.exe
for program in "$native" "$exe"; do
  [ -f "$program" ] || { echo "example_same_output: no $program" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

status=0
CORVANE_REGISTRY="$work/registry.reg" "$native" >"$work/linux.txt" || status=$?
[ "$status" -eq 0 ] || echo "example_same_output: FAIL: $native exited $status" >&2
wine_status=0
wine "$exe" >"$work/wine-crlf.txt" || wine_status=$?
[ "$wine_status" -eq 0 ] || echo "example_same_output: FAIL: $exe exited $wine_status" >&2
tr -d '\r' <"$work/wine-crlf.txt" >"$work/wine.txt"

if ! diff -u "$work/wine.txt" "$work/linux.txt"; then
  echo "example_same_output: FAIL: the Linux build prints otherwise (+) than Windows' (-)" >&2
  exit 1
fi
[ "$status" -eq 0 ] && [ "$wine_status" -eq 0 ] || exit 1
echo "example_same_output: ok ($(wc -l <"$work/linux.txt") lines)"
