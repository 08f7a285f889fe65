#!/bin/sh
# The examples written as ordinary Windows code, each built twice from one
# source: on Linux (emulated registry, through corvane::winreg) and as an
# .exe under Wine (the system's registry). Both builds of an example must
# print the same lines and exit 0. Line endings aside, the output is
# compared byte for byte, except the system's message texts (lines that
# begin "message: "), which are Windows' in the emulation and Wine's own
# under Wine; the emulation's table is checked by its own tests.
#
#   tests/wine/example_same_output.sh NATIVE_BUILD WINDOWS_BUILD
#
# Runs under the caller's WINEPREFIX / WINEDEBUG / WINEDLLOVERRIDES; each
# Linux run gets a store of its own in a scratch folder.
set -eu

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

mask() { sed 's/^message: .*/message: (the system'"'"'s text)/' "$1"; }

failed=0
for example in registry_tour registry_wrapper registry_watcher; do
  native=$1/examples/$example
  exe=$2/examples/$example.exe
  for program in "$native" "$exe"; do
    [ -f "$program" ] || { echo "example_same_output: no $program" >&2; exit 2; }
  done

  status=0
  CORVANE_REGISTRY="$work/$example.reg" "$native" >"$work/linux.txt" || status=$?
  [ "$status" -eq 0 ] || echo "example_same_output: FAIL: $native exited $status" >&2
  wine_status=0
  wine "$exe" >"$work/wine-crlf.txt" || wine_status=$?
  [ "$wine_status" -eq 0 ] || echo "example_same_output: FAIL: $exe exited $wine_status" >&2
  tr -d '\r' <"$work/wine-crlf.txt" >"$work/wine.txt"

  mask "$work/wine.txt" >"$work/wine-masked.txt"
  mask "$work/linux.txt" >"$work/linux-masked.txt"
  if ! diff -u "$work/wine-masked.txt" "$work/linux-masked.txt"; then
    echo "example_same_output: FAIL: $example on Linux prints otherwise (+) than on Windows (-)" >&2
    failed=1
  elif [ "$status" -ne 0 ] || [ "$wine_status" -ne 0 ]; then
    failed=1
  else
    echo "example_same_output: $example ok ($(wc -l <"$work/linux.txt") lines)"
  fi
done
exit "$failed"
