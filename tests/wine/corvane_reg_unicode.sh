#!/bin/sh
# corvane-reg and text outside any code page, against Wine's own reg. Each
# .reg script below (Cyrillic, CJK, characters past U+FFFF, unpaired
# surrogates, Latin and Greek) is imported by `wine reg` and by
# corvane-reg.exe in turn: both must print the same `query` output and export
# the same bytes. The Linux corvane-reg then imports it into an emulated
# store, exports exactly Wine's bytes and prints the text in UTF-8 (U+FFFD
# for an unpaired surrogate). Last, non-ASCII arguments: `add`, `query /v`
# and `delete` of non-ASCII names, both ways.
#
#   tests/wine/corvane_reg_unicode.sh NATIVE_BUILD WINDOWS_BUILD
#
# Runs under the caller's WINEPREFIX / WINEDEBUG / WINEDLLOVERRIDES.
# Values are written in the order Wine's registry sorts them (it sorts value
# names, Windows and the emulation keep them in creation order).
set -eu

# Wine decodes its command line and picks its code pages from the locale:
# pinned, so that the arguments below arrive as written and redirected output
# comes in the same code page on every machine.
export LANG=C.UTF-8
unset LC_ALL LC_CTYPE LC_MESSAGES 2>/dev/null || true

native=$1/cli/corvane-reg
exe=$2/cli/corvane-reg.exe
top='HKEY_CURRENT_USER\Software\Corvane Unicode Test'
work=$(mktemp -d)
export CORVANE_REGISTRY="$work/store.reg"
failures=0

cleanup() {
  wine reg delete "$top" /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
cleanup
mkdir -p "$work"

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# --- writing .reg files -----------------------------------------------------
# u16 TEXT: UTF-16LE with CRLF line ends. (The X keeps a final line break
# from being lost to awk.)
u16() {
  printf '%sX' "$1" | awk '{ if (NR > 1) printf "\r\n"; printf "%s", $0 }' |
    head -c -1 | iconv -f UTF-8 -t UTF-16LE
}
# unit HEX: one UTF-16LE code unit, such as a lone surrogate no UTF-8 carries.
unit() {
  n=$((0x$1))
  printf "\\$(printf '%03o' $((n & 255)))\\$(printf '%03o' $((n >> 8)))"
}
# hexdata TEXT: TEXT (printf format, so "\0" ends a string) as a .reg file's
# hex(N): byte list.
hexdata() {
  printf "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 |
    tr -s ' \n' ',,' | sed 's/^,//; s/,$//'
}
header() { printf '\377\376'; u16 'Windows Registry Editor Version 5.00
'; }

header >"$work/cyrillic.reg"
u16 "
[$top\\Кириллица]
@=\"Значение по умолчанию\"
\"Имя\"=\"Строка с \\\"кавычками\\\" и \\\\чертой\"
\"Путь\"=hex(2):$(hexdata '%%ДОМ%%\\Папка\0')
\"Список\"=hex(7):$(hexdata 'один\0два\0\0')

[$top\\Кириллица\\Вложенный ключ]
\"Число\"=dword:0000002a
" >>"$work/cyrillic.reg"

header >"$work/cjk.reg"
u16 "
[$top\\中文 キー 한국어]
\"値\"=\"日本語のテキスト\"
\"名字\"=\"简体中文，繁體中文\"
\"이름\"=hex(7):$(hexdata '한국어\0조선말\0\0')
" >>"$work/cjk.reg"

# Surrogate pairs in key names, value names and data; 𝄞 (D834 DD1E) sorts
# before 🎉 (D83C DF89).
header >"$work/astral.reg"
u16 "
[$top\\😀 Smile]
@=\"🚀 to the 🌕\"
\"𝄞 clef\"=\"𝄞𝄢 music\"
\"🎉\"=hex(7):$(hexdata '🎈\0🎁\0\0')

[$top\\😀 Smile\\🐍\\🦀]
\"𓂀\"=\"\"
" >>"$work/astral.reg"

# Unpaired surrogates, which Windows stores as they are.
{
  header
  u16 "
[$top\\Lone "
  unit DC01
  u16 " key]
\"a"
  unit D800
  u16 "b\"=\"x"
  unit DC00
  u16 "y\"
\"c\"=hex(7):70,00,ff,db,00,00,71,00,00,00,00,00
"
} >"$work/lone.reg"

header >"$work/latin.reg"
u16 "
[$top\\Café]
\"Größe\"=\"naïve façade\"
\"αβγ\"=\"Ωmega ±5°\"
" >>"$work/latin.reg"

# What the Linux corvane-reg prints for `query TOP /s` after each import.
cat >"$work/cyrillic.txt" <<EOF

$top\\Кириллица
    (Default)    REG_SZ    Значение по умолчанию
    Имя    REG_SZ    Строка с "кавычками" и \\чертой
    Путь    REG_EXPAND_SZ    %ДОМ%\\Папка
    Список    REG_MULTI_SZ    один\\0два

$top\\Кириллица\\Вложенный ключ
    Число    REG_DWORD    0x2a

EOF
cat >"$work/cjk.txt" <<EOF

$top\\中文 キー 한국어
    値    REG_SZ    日本語のテキスト
    名字    REG_SZ    简体中文，繁體中文
    이름    REG_MULTI_SZ    한국어\\0조선말

EOF
cat >"$work/astral.txt" <<EOF

$top\\😀 Smile
    (Default)    REG_SZ    🚀 to the 🌕
    𝄞 clef    REG_SZ    𝄞𝄢 music
    🎉    REG_MULTI_SZ    🎈\\0🎁

$top\\😀 Smile\\🐍

$top\\😀 Smile\\🐍\\🦀
    𓂀    REG_SZ    

EOF
cat >"$work/lone.txt" <<EOF

$top\\Lone � key
    a�b    REG_SZ    x�y
    c    REG_MULTI_SZ    p�\\0q

EOF
cat >"$work/latin.txt" <<EOF

$top\\Café
    Größe    REG_SZ    naïve façade
    αβγ    REG_SZ    Ωmega ±5°

EOF

# --- the scripts, both ways -------------------------------------------------
# run COMMAND...: runs it quietly, its exit status in $status.
run() {
  status=0
  "$@" >/dev/null 2>&1 || status=$?
}

for script in cyrillic cjk astral lone latin; do
  file="$work/$script.reg"
  winfile=$(winepath -w "$file")

  run wine reg import "$winfile"
  [ "$status" = 0 ] || fail "$script: wine reg import (exit $status)"
  wine reg query "$top" /s >"$work/$script.wine-query" 2>&1 || true
  run wine reg export "$top" "$(winepath -w "$work/$script.wine.reg")" /y
  wine reg delete "$top" /f >/dev/null 2>&1 || true

  run wine "$exe" import "$winfile"
  [ "$status" = 0 ] || fail "$script: corvane-reg.exe import (exit $status)"
  wine "$exe" query "$top" /s >"$work/$script.exe-query" 2>&1 || true
  cmp -s "$work/$script.wine-query" "$work/$script.exe-query" ||
    fail "$script: corvane-reg.exe query differs from reg query"
  run wine "$exe" export "$top" "$(winepath -w "$work/$script.exe.reg")" /y
  cmp -s "$work/$script.wine.reg" "$work/$script.exe.reg" ||
    fail "$script: corvane-reg.exe export differs from reg export"
  run wine "$exe" delete "$top" /f
  run wine reg query "$top"
  [ "$status" = 1 ] || fail "$script: corvane-reg.exe delete left the key"

  rm -f "$work/store.reg.db"*
  run "$native" import "$file"
  [ "$status" = 0 ] || fail "$script: corvane-reg import (exit $status)"
  "$native" query "$top" /s >"$work/$script.linux-query" 2>&1 || true
  cmp -s "$work/$script.txt" "$work/$script.linux-query" || {
    fail "$script: corvane-reg query on Linux"
    diff "$work/$script.txt" "$work/$script.linux-query" | head -10
  }
  run "$native" export "$top" "$work/$script.linux.reg" /y
  cmp -s "$work/$script.wine.reg" "$work/$script.linux.reg" ||
    fail "$script: corvane-reg export on Linux differs from reg export"
done

# --- non-ASCII arguments ----------------------------------------------------
key="$top\\Аргументы 中文"
name='Имя 😀'
# Both programs add the same values; the exports must agree.
adds() {
  "$@" add "$key" /v "$name" /d 'Данные 中文 🚀' /f &&
    "$@" add "$key" /v 'Список' /t REG_MULTI_SZ /d 'α\0β' /f &&
    "$@" add "$key\\Ключ" /ve /t REG_EXPAND_SZ /d '%ПУТЬ%\файл' /f
}
adds wine reg >/dev/null 2>&1 || fail "wine reg add"
run wine reg export "$top" "$(winepath -w "$work/args.wine.reg")" /y
wine reg query "$key" /v "$name" >"$work/args.wine-query" 2>&1 || true
wine reg delete "$top" /f >/dev/null 2>&1 || true

adds wine "$exe" >/dev/null 2>&1 || fail "corvane-reg.exe add"
run wine "$exe" export "$top" "$(winepath -w "$work/args.exe.reg")" /y
cmp -s "$work/args.wine.reg" "$work/args.exe.reg" ||
  fail "corvane-reg.exe add of non-ASCII arguments stored other text"
wine "$exe" query "$key" /v "$name" >"$work/args.exe-query" 2>&1 || true
cmp -s "$work/args.wine-query" "$work/args.exe-query" ||
  fail "corvane-reg.exe query /v of a non-ASCII name"
run wine "$exe" delete "$key" /v "$name" /f
run wine reg query "$key" /v "$name"
[ "$status" = 1 ] || fail "corvane-reg.exe delete /v left a non-ASCII value"
run wine "$exe" delete "$key\\Ключ" /f
run wine reg query "$key\\Ключ"
[ "$status" = 1 ] || fail "corvane-reg.exe delete left a non-ASCII key"

rm -f "$work/store.reg.db"*
adds "$native" >/dev/null 2>&1 || fail "corvane-reg add on Linux"
run "$native" export "$top" "$work/args.linux.reg" /y
cmp -s "$work/args.wine.reg" "$work/args.linux.reg" ||
  fail "corvane-reg add of non-ASCII arguments on Linux stored other text"
printf '\n%s\n    %s    REG_SZ    %s\n\n' "$key" "$name" 'Данные 中文 🚀' \
  >"$work/args.txt"
"$native" query "$key" /v "$name" >"$work/args.linux-query" 2>&1 || true
cmp -s "$work/args.txt" "$work/args.linux-query" ||
  fail "corvane-reg query /v of a non-ASCII name on Linux"

if [ "$failures" -ne 0 ]; then
  echo "corvane_reg_unicode: $failures check(s) failed"
  exit 1
fi
echo "corvane_reg_unicode: no text lost, both ways"
