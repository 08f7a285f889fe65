#!/bin/sh
# corvane-reg against Wine's own reg: builds a tree under HKEY_CURRENT_USER
# with `wine reg add`, then requires corvane-reg.exe to print exactly what
# `wine reg query` prints for it (same bytes, same exit status), and the Linux
# corvane-reg to print the same again after the tree has travelled to its
# emulated store through export and import.
#
#   tests/wine/corvane_reg_query.sh NATIVE_BUILD WINDOWS_BUILD
#
# Runs under the caller's WINEPREFIX / WINEDEBUG / WINEDLLOVERRIDES.
# Left out on purpose: REG_QWORD (Wine 8's reg prints "(null)" for its data)
# and REG_DWORD_BIG_ENDIAN (Wine's reg stores and shows it little-endian).
set -eu

native=$1/cli/corvane-reg
exe=$2/cli/corvane-reg.exe
key='HKCU\Software\Corvane Reg Query Test'
work=$(mktemp -d)
failures=0

cleanup() {
  wine reg delete "$key" /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
cleanup
mkdir -p "$work"

add() { wine reg add "$@" /f >/dev/null; }
add "$key" /ve /d 'top'
add "$key" /v Text /d 'hello world'
add "$key" /v Empty /d ''
add "$key" /v Number /t REG_DWORD /d 42
add "$key" /v Max /t REG_DWORD /d 0xffffffff
add "$key" /v Bytes /t REG_BINARY /d 00ff10ab
add "$key" /v NoBytes /t REG_BINARY
add "$key" /v List /t REG_MULTI_SZ /d 'one\0two\0three'
add "$key" /v Path /t REG_EXPAND_SZ /d '%SystemRoot%\system32'
add "$key" /v Nothing /t REG_NONE /d ab
add "$key\Sub One" /v 'Spaced Name' /d 'x y'
add "$key\Sub One\Deeper" /v Leaf /t REG_DWORD /d 1
add "$key\Sub Two\Inner" /v Leaf /d 'second'

# compare LABEL ARGS...: `reg query ARGS` from both programs.
compare() {
  label=$1
  shift
  status=0
  wine reg query "$@" >"$work/expected" 2>/dev/null || status=$?
  ours=0
  wine "$exe" query "$@" >"$work/actual" 2>"$work/stderr" || ours=$?
  if [ "$status" != "$ours" ] || ! cmp -s "$work/expected" "$work/actual"; then
    echo "FAIL: query $label (exit $status vs $ours)"
    diff "$work/expected" "$work/actual" | cat -A | head -20
    grep -v -e wine32 -e multiarch -e 'dpkg --add' -e 'apt-get install' \
      "$work/stderr" | head -5
    failures=$((failures + 1))
  fi
}

compare 'KEY /s' "$key" /s
compare 'KEY' "$key"
compare 'KEY lowercase' 'hkcu\software\corvane reg query test\' /s
compare 'SUBKEY /s' "$key\Sub One" /s
compare 'KEY without values' "$key\Sub Two"
compare '/v' "$key" /v Number
compare '/ve' "$key" /ve
compare '/ve not set' "$key\Sub Two" /ve
compare '/v /s' "$key" /v Leaf /s
compare '/ve /s' "$key" /ve /s

# Failures: the same exit status. The messages differ on purpose: Wine's reg
# writes its own to stdout, corvane-reg writes reg.exe's "ERROR: ..." to
# stderr.
expect_failure() {
  status=0
  wine reg query "$@" >/dev/null 2>&1 || status=$?
  ours=0
  wine "$exe" query "$@" >/dev/null 2>"$work/errors" || ours=$?
  if [ "$status" != 1 ] || [ "$ours" != 1 ] ||
    ! grep -q '^ERROR: ' "$work/errors"; then
    echo "FAIL: query $* should fail (exit $status vs $ours)"
    failures=$((failures + 1))
  fi
}
expect_failure "$key\Missing"
expect_failure "$key" /v Missing

# The same tree on the Linux build's emulated store, by way of a .reg file.
wine "$exe" export "$key" "$(winepath -w "$work/tree.reg")" /y >/dev/null
CORVANE_REGISTRY="$work/store.reg" "$native" import "$work/tree.reg" >/dev/null
wine reg query "$key" /s | tr -d '\r' >"$work/expected"
CORVANE_REGISTRY="$work/store.reg" "$native" query "$key" /s >"$work/actual"
if ! cmp -s "$work/expected" "$work/actual"; then
  echo "FAIL: query /s on the emulated store after export and import"
  diff "$work/expected" "$work/actual" | head -20
  failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
  echo "corvane_reg_query: $failures comparison(s) failed"
  exit 1
fi
echo "corvane_reg_query: corvane-reg prints what reg prints"
