#!/usr/bin/env bash
# End-to-end checks of the repair program on fixture hives: the Linux program
# on the emulated registry, and corvane.exe under Wine on Wine's registry
# (reg import, run, reg export). The same expectations hold for both, except
# where Wine's registry is known to differ from Windows' (per_user).
#   tests/e2e/repair_e2e.sh NATIVE_BUILD_DIR [WINDOWS_BUILD_DIR]
# Wine runs in a copy of a throwaway prefix made here; WINEDEBUG and
# WINEDLLOVERRIDES should be set by the caller so that Wine never prompts.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
native=$(cd "$1" && pwd)
windows=${2:+$(cd "$2" && pwd)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

appid='HKEY_LOCAL_MACHINE\SOFTWARE\Classes\AppID'
user_appid='HKEY_CURRENT_USER\Software\Classes\AppID'
sky6_guid='{11111111-2222-3333-4444-555555555555}'
sky_guid='{66666666-7777-8888-9999-AAAAAAAAAAAA}'
driver_guid='{4A017BC9-347F-4745-A1A8-993E83E8A331}'
level_one='"AuthenticationLevel"=dword:00000001'

passed=0
failed=0
backend=""
label=""

ok() { passed=$((passed + 1)); }
bad() {
  failed=$((failed + 1))
  echo "FAIL [$backend] $label: $*" >&2
}

# A .reg file as UTF-8 text without CRs, whichever encoding it was saved in.
as_text() {
  if [ "$(head -c 2 "$1" | od -An -tx1 | tr -d ' ')" = "fffe" ]; then
    iconv -f UTF-16 -t UTF-8 "$1" | tr -d '\r'
  else
    tr -d '\r' <"$1"
  fi
}

# The value lines of exactly the key KEY in the state text.
section() {
  awk -v header="[$1]" '$0 == header { on = 1; next } /^\[/ { on = 0 } on && NF' \
    "$work/state.txt"
}
has_key() { grep -qxF "[$1]" "$work/state.txt"; }
# The keys below AppID in the state text, sorted.
keys() { grep -F "[$appid\\" "$work/state.txt" | sort; }

expect_line() {
  if section "$1" | grep -qxF "$2"; then ok; else bad "no $2 in [$1]"; fi
}
expect_no_value() {
  if section "$1" | grep -q "^\"$2\"="; then bad "[$1] has $2"; else ok; fi
}
expect_key() { if has_key "$1"; then ok; else bad "missing key [$1]"; fi; }
expect_no_key() { if has_key "$1"; then bad "unexpected key [$1]"; else ok; fi; }
expect_rc() { if [ "$rc" -eq "$1" ]; then ok; else bad "exit status $rc, wanted $1"; fi; }
expect_stderr() {
  if grep -qF -- "$1" "$work/stderr"; then ok; else
    bad "stderr lacks '$1': $(cat "$work/stderr")"
  fi
}

# --- the two backends: load FIXTURE, run the program, capture the state ----

# The fixture is an old-layout hive: the first call imports it into the
# store beside it (hive.reg.db), which corvane-reg then exports. The state is
# the machine's AppID tree followed by the user's, when there is one.
linux_load() {
  rm -f "$work"/hive.reg*
  cp "$here/$1" "$work/hive.reg"
}
linux_capture() {
  : >"$work/state.txt"
  for key in "$appid" "$user_appid"; do
    rm -f "$work/export.reg"
    CORVANE_REGISTRY="$work/hive.reg" "$native/cli/corvane-reg" export \
      "$key" "$work/export.reg" /y >/dev/null 2>&1
    [ -e "$work/export.reg" ] && as_text "$work/export.reg" >>"$work/state.txt"
  done
}
linux_run() {
  CORVANE_REGISTRY="$work/hive.reg" "$@" "$native/app/corvane" \
    >"$work/stdout" 2>"$work/stderr"
  rc=$?
  linux_capture
}

wine_load() {
  # The old prefix's server must be gone, not only told to go: the new
  # prefix may get the old one's inode, which names the server's socket, and
  # a wine started meanwhile would talk to the server that is going away.
  if [ -d "$work/prefix" ]; then
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    WINEPREFIX="$work/prefix" wineserver -w 2>/dev/null || true
  fi
  rm -rf "$work/prefix"
  cp -a "$work/template" "$work/prefix"
  WINEPREFIX="$work/prefix" wine reg import "$here/$1" >/dev/null 2>&1 ||
    bad "wine reg import $1 failed"
}
wine_capture() {
  : >"$work/state.txt"
  for key in "$appid" "$user_appid"; do
    rm -f "$work/export.reg"
    WINEPREFIX="$work/prefix" wine reg export "$key" "$work/export.reg" /y \
      >/dev/null 2>&1
    [ -e "$work/export.reg" ] && as_text "$work/export.reg" >>"$work/state.txt"
  done
}
wine_run() {
  WINEPREFIX="$work/prefix" wine "$windows/app/corvane.exe" \
    >"$work/stdout" 2>"$work/stderr"
  rc=$?
  wine_capture
}

# --- the cases --------------------------------------------------------------

all_present() {
  label="everything present"
  ${backend}_load all_present.reg
  ${backend}_capture
  keys >"$work/keys.before"
  ${backend}_run
  expect_rc 0
  if keys | cmp -s "$work/keys.before" -; then ok; else
    bad "keys changed: $(keys | diff "$work/keys.before" - | head -5)"
  fi
  for guid in "$sky6_guid" "$sky_guid" "$driver_guid"; do
    expect_line "$appid\\$guid" "$level_one"
  done
  expect_no_value "$appid" AuthenticationLevel
  [ "$backend" = linux ] && { [ -s "$work/stderr" ] && bad "printed: $(cat "$work/stderr")" || ok; }
}

driver_missing() {
  label="driver registration missing"
  ${backend}_load driver_missing.reg
  ${backend}_run
  expect_rc 0
  expect_line "$appid\\$sky6_guid" "$level_one"
  expect_line "$appid\\Gemini Driver.exe" "\"AppID\"=\"$driver_guid\""
  expect_line "$appid\\$driver_guid" '@="Gemini Driver"'
  expect_line "$appid\\$driver_guid" "$level_one"
  expect_no_value "$appid" AuthenticationLevel
}

other_level() {
  label="existing level of another value or type"
  ${backend}_load other_level.reg
  ${backend}_run
  expect_rc 0
  for guid in "$sky6_guid" "$sky_guid" "$driver_guid"; do
    expect_line "$appid\\$guid" "$level_one"
  done
}

second_run() {
  label="a second run changes nothing"
  ${backend}_load driver_missing.reg
  ${backend}_run
  cp "$work/state.txt" "$work/first.txt"
  ${backend}_run
  expect_rc 0
  if cmp -s "$work/first.txt" "$work/state.txt"; then ok; else
    bad "state differs after the second run: $(diff "$work/first.txt" "$work/state.txt" | head -5)"
  fi
}

empty_guid() {
  label="registration without an AppID"
  ${backend}_load empty_guid.reg
  ${backend}_run
  expect_rc 0
  expect_no_value "$appid" AuthenticationLevel
  expect_no_value "$appid\\Sky.EXE" AuthenticationLevel
  expect_line "$appid\\$driver_guid" "$level_one"
}

backslash_guid() {
  label="an AppID of backslashes only"
  ${backend}_load backslash_guid.reg
  ${backend}_run
  expect_rc 0
  expect_no_value "$appid" AuthenticationLevel
  expect_line "$appid\\$driver_guid" "$level_one"
}

# Registrations made for this user. Windows' HKEY_CLASSES_ROOT merges the
# user's classes over the machine's, and so does the emulation: the repair
# finds the user-only registration and writes the user's copy of a key both
# hold. Wine has no merged view: its HKEY_CLASSES_ROOT is the machine's
# classes alone, so there the user's keys stay untouched and the machine's
# copy is written.
per_user() {
  label="registrations for this user"
  ${backend}_load per_user.reg
  ${backend}_run
  expect_rc 0
  expect_key "$user_appid\\$sky_guid"
  expect_line "$appid\\$driver_guid" "$level_one"
  expect_no_value "$appid" AuthenticationLevel
  if [ "$backend" = wine ]; then
    expect_line "$appid\\$sky6_guid" "$level_one"
    expect_no_value "$user_appid\\$sky6_guid" AuthenticationLevel
    expect_no_value "$user_appid\\$sky_guid" AuthenticationLevel
  else
    expect_line "$user_appid\\$sky6_guid" "$level_one"
    expect_line "$user_appid\\$sky_guid" "$level_one"
    expect_no_value "$appid\\$sky6_guid" AuthenticationLevel
    expect_no_key "$appid\\$sky_guid"
  fi
}

# Linux only: two repairs at once on one store leave what one leaves.
two_at_once() {
  label="two repairs started together"
  linux_load driver_missing.reg
  linux_run
  cp "$work/state.txt" "$work/single.txt"
  linux_load driver_missing.reg
  CORVANE_REGISTRY="$work/hive.reg" "$native/app/corvane" 2>"$work/stderr.1" &
  local first=$!
  CORVANE_REGISTRY="$work/hive.reg" "$native/app/corvane" 2>"$work/stderr.2"
  rc=$?
  wait "$first" || rc=$?
  expect_rc 0
  linux_capture
  if cmp -s "$work/single.txt" "$work/state.txt"; then ok; else
    bad "state differs from one repair's: $(diff "$work/single.txt" "$work/state.txt" | head -5)"
  fi
}

# Linux only: Wine runs every program as an administrator, and its registry
# is Wine's to parse.
not_administrator() {
  label="non-administrator, driver missing"
  linux_load driver_missing.reg
  linux_run env CORVANE_REGISTRY_READONLY=1
  expect_rc 1
  expect_stderr "Run-time error '-2147220480 (80040400)':"
  expect_stderr "Failed to Fix The Sky to work with Gemini Driver"
  if cmp -s "$here/driver_missing.reg" "$work/hive.reg"; then ok; else bad "hive was rewritten"; fi
  expect_no_key "$appid\\$driver_guid"
}

corrupt_hive() {
  label="hive that can't be parsed"
  linux_load corrupt.reg
  linux_run
  expect_rc 2
  expect_stderr "hive.reg:4:"
  if cmp -s "$here/corrupt.reg" "$work/hive.reg"; then ok; else bad "hive was rewritten"; fi
  if [ -e "$work/hive.reg.db" ]; then bad "a store was made"; else ok; fi
}

backend=linux
for check in all_present driver_missing other_level second_run empty_guid \
    backslash_guid per_user two_at_once not_administrator corrupt_hive; do
  $check
done

if [ -n "$windows" ]; then
  backend=wine
  mkdir -p "$work/template"
  WINEPREFIX="$work/template" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$work/template" wineserver -w
  for check in all_present driver_missing other_level second_run empty_guid \
      backslash_guid per_user; do
    $check
  done
fi

echo "repair end-to-end: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
