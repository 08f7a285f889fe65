#!/bin/sh
# corvane-reg save, load, unload and restore: Wine's reg has none of them,
# so corvane-reg.exe on Wine's registry (through the system's hive
# functions, with the privileges enabled as Windows' reg enables them) and
# the Linux corvane-reg on an emulated store run the same commands, and
# their messages, exit statuses and the trees they leave must agree.
#
#   tests/wine/corvane_reg_hive.sh NATIVE_BUILD WINDOWS_BUILD
#
# Runs under the caller's WINEPREFIX / WINEDEBUG / WINEDLLOVERRIDES. Only
# failures both systems word alike (a missing file, a key that isn't there,
# a key name refused before any call) are compared; Wine's texts for the
# others differ from Windows'.
set -eu

native=$1/cli/corvane-reg
exe=$2/cli/corvane-reg.exe
base='HKCU\Software\Corvane Reg Hive Test'
mount='HKU\Corvane Reg Hive Test'
work=$(mktemp -d)
failures=0

cleanup() {
  wine "$exe" unload "$mount" >/dev/null 2>&1 || true
  wine reg delete "$base" /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
cleanup
mkdir -p "$work/wine" "$work/linux"
export CORVANE_REGISTRY="$work/store.reg"

# seed RUN: the same tree through either tool.
seed() {
  "$@" add "$base\Source" /ve /d top /f
  "$@" add "$base\Source" /v Number /t REG_DWORD /d 42 /f
  "$@" add "$base\Source\Sub One" /v 'Spaced Name' /d 'x y' /f
  "$@" add "$base\Source\Sub One\Deeper" /v Leaf /t REG_BINARY /d 00ff /f
  "$@" add "$base\Target\Gone" /f
}
seed wine "$exe" >/dev/null
seed "$native" >/dev/null

# run SIDE ARGS...: one command, its output and exit status, CR dropped and
# the file's folder written as <dir>.
run() {
  side=$1
  shift
  status=0
  if [ "$side" = wine ]; then
    wine "$exe" "$@" </dev/null >"$work/out" 2>&1 || status=$?
    dir=$(winepath -w "$work/wine")
  else
    "$native" "$@" </dev/null >"$work/out" 2>&1 || status=$?
    dir=$work/linux
  fi
  tr -d '\r' <"$work/out" | awk -v dir="$dir" '{
      i = index($0, dir); if (i) $0 = substr($0, 1, i - 1) "<dir>" substr($0, i + length(dir))
      print }'
  echo "exit $status"
}

# both LABEL ARGS...: ARGS with FILE standing for the hive's path.
both() {
  label=$1
  shift
  wine_file=$(winepath -w "$work/wine/tree.hiv")
  for side in wine linux; do
    file=$wine_file
    [ "$side" = linux ] && file=$work/linux/tree.hiv
    args=""
    for a in "$@"; do
      [ "$a" = FILE ] && a=$file
      [ "$a" = MISSING ] && a=${file%tree.hiv}missing.hiv
      args="$args$(printf '%s' "$a" | sed "s/'/'\\\\''/g; s/^/'/; s/\$/'/") "
    done
    eval "run $side $args" >"$work/$side.txt"
  done
  if ! cmp -s "$work/wine.txt" "$work/linux.txt"; then
    echo "FAIL: $label"
    diff "$work/wine.txt" "$work/linux.txt" | head -20
    failures=$((failures + 1))
  fi
}

both "save" save "$base\Source" FILE
both "save over a file with /y" save "$base\Source" FILE /y
both "load" load "$mount" FILE
both "the loaded hive" query "$mount" /s
both "unload" unload "$mount"
both "unload again" unload "$mount"
both "load a missing file" load "$mount" MISSING
both "load below HKCU" load 'HKCU\Corvane Reg Hive Test' FILE
both "restore" restore "$base\Target" FILE

# The restored key against the source. Wine's RegRestoreKey answers 0 and
# changes nothing, so only the emulation's tree is looked at.
for side in linux; do
  run "$side" query "$base\Target" /s | sed 's/\\Target/\\<key>/' \
    >"$work/$side-target.txt"
  run "$side" query "$base\Source" /s | sed 's/\\Source/\\<key>/' \
    >"$work/$side-source.txt"
  if ! cmp -s "$work/$side-target.txt" "$work/$side-source.txt"; then
    echo "FAIL: restore on $side"
    diff "$work/$side-source.txt" "$work/$side-target.txt" | head -20
    failures=$((failures + 1))
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "corvane_reg_hive: $failures comparison(s) failed"
  exit 1
fi
echo "corvane_reg_hive: both builds save, load, unload and restore alike"
