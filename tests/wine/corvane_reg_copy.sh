#!/bin/sh
# corvane-reg copy against Wine's own reg copy: the same source tree copied
# by both (values only, /s, onto a key that already holds values) must leave
# destinations that `wine reg query /s` lists alike, with the same exit
# statuses; then corvane-reg.exe compare must find the two copies identical,
# and the Linux corvane-reg must copy the same tree the same way after it
# travelled to an emulated store through export and import.
#
#   tests/wine/corvane_reg_copy.sh NATIVE_BUILD WINDOWS_BUILD
#
# Runs under the caller's WINEPREFIX / WINEDEBUG / WINEDLLOVERRIDES. Always
# with /f: Wine's reg reads its yes/no answer from the console only. The
# messages differ on purpose (Wine's reg prints nothing on success and its
# own errors on stdout), so only results and statuses are compared. A copy
# into the source's own tree is left out: Wine's reg copies until the key
# depth runs out, corvane-reg refuses it.
set -eu

native=$1/cli/corvane-reg
exe=$2/cli/corvane-reg.exe
base='HKCU\Software\Corvane Reg Copy Test'
src="$base\Source"
work=$(mktemp -d)
failures=0

cleanup() {
  wine reg delete "$base" /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
cleanup
mkdir -p "$work"

add() { wine reg add "$@" /f >/dev/null; }
add "$src" /ve /d 'top'
add "$src" /v Text /d 'hello world'
add "$src" /v Number /t REG_DWORD /d 42
add "$src" /v Bytes /t REG_BINARY /d 00ff10ab
add "$src" /v List /t REG_MULTI_SZ /d 'one\0two'
add "$src" /v Path /t REG_EXPAND_SZ /d '%SystemRoot%\x'
add "$src\Sub One" /v 'Spaced Name' /d 'x y'
add "$src\Sub One\Deeper" /v Leaf /t REG_DWORD /d 1
add "$src\Sub Two"

# listing KEY: `wine reg query KEY /s` with KEY itself written as <top>.
listing() {
  wine reg query "$1" /s 2>/dev/null | tr -d '\r' |
    awk -v top="HKEY_CURRENT_USER${1#HKCU}" '{
      if (index($0, top) == 1) $0 = "<top>" substr($0, length(top) + 1)
      print }'
}

# check LABEL DEST_SUFFIX ARGS...: `reg copy SRC DEST ARGS /f` from both.
check() {
  label=$1
  dest=$2
  shift 2
  status=0
  wine reg copy "$src" "$base\Wine$dest" "$@" /f </dev/null >/dev/null 2>&1 ||
    status=$?
  ours=0
  wine "$exe" copy "$src" "$base\Ours$dest" "$@" /f </dev/null >/dev/null \
    2>"$work/errors" || ours=$?
  listing "$base\Wine$dest" >"$work/expected"
  listing "$base\Ours$dest" >"$work/actual"
  if [ "$status" != "$ours" ] || ! cmp -s "$work/expected" "$work/actual"; then
    echo "FAIL: copy $label (exit $status vs $ours)"
    cat "$work/errors"
    diff "$work/expected" "$work/actual" | head -20
    failures=$((failures + 1))
  fi
}

check 'values only' '\Flat'
check '/s' '\Tree' /s
check '/s into a new chain of keys' '\New\Chain' /s
for side in Wine Ours; do
  add "$base\\$side\\Busy" /v Text /d 'old text'
  add "$base\\$side\\Busy" /v Mine /d 'stays'
  add "$base\\$side\\Busy\Sub One" /v Own /t REG_DWORD /d 7
done
check '/s onto a key that has values and subkeys' '\Busy' /s

# Failures: both refuse with status 1 and create nothing.
refuse() {
  label=$1
  shift
  status=0
  wine reg copy "$@" /f </dev/null >/dev/null 2>&1 || status=$?
  ours=0
  wine "$exe" copy "$@" /f </dev/null >/dev/null 2>&1 || ours=$?
  if [ "$status" != 1 ] || [ "$ours" != 1 ]; then
    echo "FAIL: copy $label should fail (exit $status vs $ours)"
    failures=$((failures + 1))
  fi
}
refuse 'from a missing key' "$base\Missing" "$base\Nowhere"
refuse 'onto itself' "$src" "$src"
if wine reg query "$base\Nowhere" >/dev/null 2>&1; then
  echo "FAIL: a failed copy created its destination"
  failures=$((failures + 1))
fi

# corvane-reg's compare agrees: the two copies are the same tree.
status=0
wine "$exe" compare "$base\Wine\Tree" "$base\Ours\Tree" /s >"$work/compared" ||
  status=$?
if [ "$status" != 0 ] || ! grep -q 'Result Compared: Identical' "$work/compared"; then
  echo "FAIL: compare of the two /s copies (exit $status)"
  cat "$work/compared"
  failures=$((failures + 1))
fi

# The Linux build: the same source through a .reg file, the same copy.
wine "$exe" export "$src" "$(winepath -w "$work/source.reg")" /y >/dev/null
export CORVANE_REGISTRY="$work/store.reg"
"$native" import "$work/source.reg" >/dev/null
"$native" copy "$src" "$base\Linux" /s /f >/dev/null
listing "$base\Wine\Tree" >"$work/expected"
"$native" query "$base\Linux" /s |
  sed "s/^HKEY_CURRENT_USER\\\\Software\\\\Corvane Reg Copy Test\\\\Linux/<top>/" \
    >"$work/actual"
if ! cmp -s "$work/expected" "$work/actual"; then
  echo "FAIL: copy /s on the emulated store"
  diff "$work/expected" "$work/actual" | head -20
  failures=$((failures + 1))
fi
# And the source against the file it was exported to.
status=0
"$native" compare "$src" "$work/source.reg" /s >/dev/null || status=$?
if [ "$status" != 0 ]; then
  echo "FAIL: compare of the imported tree with its .reg file (exit $status)"
  failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
  echo "corvane_reg_copy: $failures comparison(s) failed"
  exit 1
fi
echo "corvane_reg_copy: corvane-reg copies what reg copies"
