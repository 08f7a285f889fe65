#!/bin/sh
# corvane-reg import against Wine's reg import, on the .reg syntax beyond
# what regedit writes: headers, Windows 3.1 files, comments, continuations,
# blanks, escapes, string data without its NUL. Each case is imported in an
# 8-bit and a UTF-16 file:
#   same     Wine's reg and corvane-reg.exe must leave the same values (both
#            exported by corvane-reg.exe, which writes the data exactly), and
#            the Linux corvane-reg must export the same bytes again;
#   refused  Wine's reg passes over the value named "bad" (as Windows does),
#            while corvane-reg, on both systems, refuses the whole file with
#            FILE:LINE and applies nothing;
#   windows  Wine reads the case otherwise than Windows does: skipped here
#            (tests/RegFileTest.cpp has what corvane-reg does with it).
#
#   tests/wine/corvane_reg_import.sh NATIVE_BUILD WINDOWS_BUILD
#
# Runs under the caller's WINEPREFIX / WINEDEBUG / WINEDLLOVERRIDES; keys
# under HKEY_CURRENT_USER\Software\Corvane Import Test and
# HKEY_CLASSES_ROOT\CorvaneImportTest are replaced.
set -eu

export LANG=C.UTF-8
unset LC_ALL LC_CTYPE LC_MESSAGES 2>/dev/null || true

native=$(cd "$1" && pwd)/cli/corvane-reg
exe=$(cd "$2" && pwd)/cli/corvane-reg.exe
user='HKEY_CURRENT_USER\Software\Corvane Import Test'
classes='HKEY_CLASSES_ROOT\CorvaneImportTest'
work=$(mktemp -d)
export CORVANE_REGISTRY="$work/store.reg"
failures=0
cases=0

cleanup() {
  wine reg delete "$user" /f >/dev/null 2>&1 || true
  wine reg delete "$classes" /f >/dev/null 2>&1 || true
}
trap 'cleanup; rm -rf "$work"' EXIT
cleanup
cd "$work"

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The key a case writes: the Windows 3.1 cases write below HKEY_CLASSES_ROOT.
key_of() { case $1 in *@C@*) echo "$classes" ;; *) echo "$user" ;; esac; }

# write FILE ENCODING BODY: BODY (printf format, @K@ and @C@ for the keys)
# as an 8-bit file or as UTF-16LE with its byte-order mark; in UTF-16 a
# REGEDIT4 header becomes Version 5.00's, whose hex string bytes are UTF-16.
write() {
  text=$(printf '%s' "$3" | sed "s/@K@/$(printf '%s' "$user" | sed 's/\\/\\\\\\\\/g')/g; s/@C@/$(printf '%s' "$classes" | sed 's/\\/\\\\\\\\/g')/g")
  if [ "$2" = utf16 ]; then
    text=$(printf '%s' "$text" | sed 's/^REGEDIT4\\r/Windows Registry Editor Version 5.00\\r/')
    { printf '\377\376'; printf "$text" | iconv -f UTF-8 -t UTF-16LE; } >"$1"
  else
    printf "$text" >"$1"
  fi
}

# export_with TOOL KEY OUT: the key's tree as TOOL exports it, or "none".
export_with() {
  if ! $1 export "$2" "$3" /y >/dev/null 2>&1; then echo none >"$3"; fi
}

same() {
  id=$1 body=$2
  key=$(key_of "$body")
  for enc in ansi utf16; do
    cases=$((cases + 1))
    file=$id-$enc.reg
    write "$file" $enc "$body"
    cleanup
    wine reg import "$file" >/dev/null 2>&1 || fail "$id ($enc): wine reg import"
    export_with "wine $exe" "$key" wine.reg
    cleanup
    wine "$exe" import "$file" >exe.out 2>&1 ||
      fail "$id ($enc): corvane-reg.exe import: $(cat exe.out)"
    export_with "wine $exe" "$key" exe.reg
    cleanup
    grep -qx none exe.reg && fail "$id ($enc): corvane-reg.exe imported nothing"
    cmp -s wine.reg exe.reg ||
      fail "$id ($enc): corvane-reg.exe read it otherwise than Wine's reg"
    rm -f "$CORVANE_REGISTRY"*
    "$native" import "$file" >native.out 2>&1 ||
      fail "$id ($enc): corvane-reg import: $(cat native.out)"
    export_with "$native" "$key" native.reg
    cmp -s exe.reg native.reg ||
      fail "$id ($enc): the Linux corvane-reg read it otherwise"
  done
}

refused() {
  id=$1 line=$2 body=$3
  key=$(key_of "$body")
  for enc in ansi utf16; do
    cases=$((cases + 1))
    file=$id-$enc.reg
    write "$file" $enc "$body"
    cleanup
    wine reg import "$file" >/dev/null 2>&1 || true
    if wine reg query "$key" /v bad >/dev/null 2>&1; then
      fail "$id ($enc): Wine's reg imported the value, the case is wrong"
    fi
    cleanup
    if wine "$exe" import "$file" >exe.out 2>&1; then
      fail "$id ($enc): corvane-reg.exe imported it"
    fi
    grep -q "ERROR: $file:$line: " exe.out ||
      fail "$id ($enc): corvane-reg.exe said $(cat exe.out)"
    wine reg query "$key" >/dev/null 2>&1 &&
      fail "$id ($enc): corvane-reg.exe applied part of the file"
    rm -f "$CORVANE_REGISTRY"*
    if "$native" import "$file" >native.out 2>&1; then
      fail "$id ($enc): corvane-reg imported it"
    fi
    grep -q "ERROR: $file:$line: " native.out ||
      fail "$id ($enc): corvane-reg said $(cat native.out)"
  done
}

windows() { echo "skip $1: $2"; }

R4='REGEDIT4\r\n\r\n[@K@]\r\n"0"="first"\r\n'

# --- headers -----------------------------------------------------------
same header-after-blanks ' \tREGEDIT4\r\n\r\n[@K@]\r\n"a"="x"\r\n'
windows header-regedit3 "Wine's reg imports nothing; Windows reads it as REGEDIT4"
windows header-regedit-space-4 "Wine's reg imports nothing; Windows reads it as REGEDIT4"
windows header-regedit4-foo "Wine's reg imports nothing; Windows reads it as REGEDIT4"

# --- Windows 3.1 -------------------------------------------------------
same win31 'REGEDIT\r\n@C@ = Value0\r\n\r\n@C@\\a =no space\r\n@C@\\b =  one kept \r\n@C@\\c\t=\ttab\r\n@C@\\d  no equals = "q\\\\" \\\\0 ;x\r\n@C@\\e\r\n@C@\\\\f\\\\ = doubled\r\n'

# --- comments and continuations ----------------------------------------
same comment-lines "$R4"'#one\r\n  # two\r\n\t;three\r\n"a"="x"\r\n'
same first-column-comment-in-continuation "$R4"'"m"=hex(7):4c,69,6e,\\\r\n;comment\r\n  65,00,\\;comment\r\n  00\r\n"n"=hex:01,\\ ; c\r\n;\r\n  02\r\n'
same continuation-at-start-and-end "$R4"'"a"=hex:\\\r\n  01,02\r\n"b"=hex:01,02,\r\n"c"=hex:01,02,;c\r\n"d"=hex:03,04,\\\r\n'
same blanks-after-dword "$R4"'"a"=dword: 1\r\n"b"=dword:\t2a ;c\r\n"c" = dword:3 \r\n'
same escapes "$R4"'"a"="x\\qy\\\\z\\"w"\r\n"b\\\\c"="\\r\\n"\r\n'
refused nul-in-string 5 "$R4"'"bad"="a\\0b"\r\n'
refused nul-in-name 5 "$R4"'"bad\\0"="b"\r\n'
refused hash-comment-in-continuation 6 "$R4"'"bad"=hex:01,\\\r\n#c\r\n  02\r\n'
refused indented-hash-in-continuation 6 "$R4"'"bad"=hex:01,\\\r\n  #c\r\n  02\r\n'
refused lone-backslash-in-continuation 6 "$R4"'"bad"=hex:01,\\\r\n  \\\r\n  02\r\n'
refused hash-after-backslash 5 "$R4"'"bad"=hex:01,\\#c\r\n  02\r\n'
refused byte-after-byte-across-lines 6 "$R4"'"bad"=hex:01,02\\\r\n  03\r\n'
windows blank-line-in-continuation "Wine's reg goes on past the blank line; Windows drops the value"
windows indented-comment-in-continuation "Wine's reg goes on past the comment; Windows cuts the value there"
windows comma-after-continued-byte "Wine's reg drops 01\\ then ,02; Windows reads the lines as one"
windows blanks-around-hex-bytes "Wine's reg drops hex: 01 , 02; Windows reads it"

# --- string data without its NUL ---------------------------------------
same terminators "$R4"'"a"=hex(1):41,00,42,00\r\n"b"=hex(2):41,42\r\n"c"=hex(7):41,00,00,00,42,00\r\n"d"=hex(1):\r\n"e"=hex(1):41,00,00,00\r\n"f"=hex(7):\r\n'

echo "corvane_reg_import: $cases cases, $failures failures"
[ "$failures" -eq 0 ]
