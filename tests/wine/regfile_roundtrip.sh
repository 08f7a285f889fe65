#!/bin/sh
# Trades .reg files with Wine's reg.exe both ways: what `reg export` writes
# loads into regfiletool's key tree with every value intact, and what the
# tree saves goes through `reg import` and `reg export` unchanged.
# Usage: regfile_roundtrip.sh BUILD_DIR_NATIVE  (WINEPREFIX should name a
# throwaway prefix; keys under HKEY_CURRENT_USER\Software\Corvane* are
# replaced).
set -eu

build=${1:?usage: regfile_roundtrip.sh BUILD_DIR_NATIVE}
tool=
for t in "$build/tests/tools/regfiletool" "$build/tools/regfiletool"; do
  [ -x "$t" ] && tool=$t && break
done
[ -n "$tool" ] || { echo "regfile_roundtrip: no regfiletool in $build" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
fail() { echo "regfile_roundtrip: FAIL: $*" >&2; exit 1; }
quiet() { "$@" >/dev/null 2>&1; }

# 1. Values written by Wine, exported by Wine, read by us.
from='HKEY_CURRENT_USER\Software\CorvaneFromWine'
quiet wine reg delete "$from" /f || true
add() { quiet wine reg add "$from" "$@" /f || fail "reg add $*"; }
add /ve /d "default text"
add /v binary /t REG_BINARY /d 00ff10
add /v dword /t REG_DWORD /d 0xdeadbeef
add /v expand /t REG_EXPAND_SZ /d '%SystemRoot%\x'
add /v multi /t REG_MULTI_SZ /d 'one\0two'
add /v none /t REG_NONE /d ""
add /v qword /t REG_QWORD /d 0x1122334455667788
add /v 'quote " back \' /t REG_SZ /d 'C:\dir\"x"'
quiet wine reg export "$from" "$work/wine.reg" /y || fail "reg export $from"

"$tool" dump "$work/wine.reg" "$from" >"$work/wine.txt"
cat >"$work/expected.txt" <<'DUMP'
[HKEY_CURRENT_USER\Software\CorvaneFromWine]
  "" 1 640065006600610075006c007400200074006500780074000000
  "binary" 3 00ff10
  "dword" 4 efbeadde
  "expand" 2 2500530079007300740065006d0052006f006f00740025005c0078000000
  "multi" 7 6f006e0065000000740077006f0000000000
  "none" 0 0000
  "quote " back \" 1 43003a005c006400690072005c002200780022000000
  "qword" 11 8877665544332211
DUMP
diff "$work/expected.txt" "$work/wine.txt" ||
  fail "values read from Wine's export differ from what reg add stored"

# Resaved by us, the key comes out byte for byte as Wine exported it.
"$tool" resave "$work/wine.reg" "$work/resaved.reg"
"$tool" export "$work/resaved.reg" "$from" "$work/resaved-key.reg"
cmp "$work/wine.reg" "$work/resaved-key.reg" ||
  fail "our save of Wine's export differs from it"

# A large real subtree: loading and saving keeps every key and value.
big='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion'
quiet wine reg export "$big" "$work/big.reg" /y || fail "reg export $big"
"$tool" resave "$work/big.reg" "$work/big-resaved.reg"
"$tool" dump "$work/big.reg" "$big" >"$work/big.txt"
"$tool" dump "$work/big-resaved.reg" "$big" >"$work/big-resaved.txt"
cmp "$work/big.txt" "$work/big-resaved.txt" ||
  fail "keys or values of $big changed through load and save"

# 2. A .reg file saved by us (every type, names and text outside the ANSI code
# page), imported into Wine and exported back: the same bytes. It holds no
# REG_DWORD of 2 bytes, which Wine's importer rewrites, nor string data
# without its terminator, which an import gives one; the native tests cover
# those.
to='HKEY_CURRENT_USER\Software\CorvaneToWine'
quiet wine reg delete "$to" /f || true
"$tool" sample "$work/ours.reg" "$to"
quiet wine reg import "$work/ours.reg" || fail "reg import of our .reg file"
quiet wine reg export "$to" "$work/back.reg" /y || fail "reg export $to"
"$tool" export "$work/ours.reg" "$to" "$work/ours-key.reg"
cmp "$work/ours-key.reg" "$work/back.reg" ||
  fail "our .reg file changed through reg import and reg export"

echo "regfile_roundtrip: ok"
