#!/bin/sh
# corvane-reg's /reg:32 and /reg:64 against Wine's own reg: the same adds,
# copy and delete in the 32-bit view, done by each below a key of its own
# under HKLM\Software, must leave trees that `wine reg query /s` lists alike
# in both views (the 32-bit view's below Software\Wow6432Node), and query,
# export and import in either view must agree, statuses included; both
# options at once is a syntax error for both. Then the Linux corvane-reg
# imports the export in the 32-bit view of an emulated store and finds it
# where Windows keeps it.
#
#   tests/wine/corvane_reg_views.sh NATIVE_BUILD WINDOWS_BUILD
#
# Runs under the caller's WINEPREFIX / WINEDEBUG / WINEDLLOVERRIDES. Only
# results and statuses are compared: Wine's reg prints its own messages.
set -eu

native=$1/cli/corvane-reg
exe=$2/cli/corvane-reg.exe
name='Corvane Reg Views Test'
base="HKLM\\Software\\$name"
node="HKLM\\Software\\Wow6432Node\\$name"
work=$(mktemp -d)
failures=0

cleanup() {
  wine reg delete "$base" /f /reg:32 >/dev/null 2>&1 || true
  wine reg delete "$base" /f /reg:64 >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
cleanup
mkdir -p "$work"

fail() {
  echo "FAIL: $1"
  failures=$((failures + 1))
}

# tool SIDE ARGS...: Wine's reg for Wine, corvane-reg.exe for Ours.
tool() {
  side=$1
  shift
  if [ "$side" = Wine ]; then
    wine reg "$@" </dev/null
  else
    wine "$exe" "$@" </dev/null
  fi
}

# listing KEY VIEW: `wine reg query KEY /s VIEW`, the side's name made <side>.
listing() {
  wine reg query "$1" /s "$2" 2>/dev/null | tr -d '\r' |
    sed -e 's/\\Wine\(\\\|$\)/\\<side>\1/' -e 's/\\Ours\(\\\|$\)/\\<side>\1/'
}

# The same changes by each tool, each below its own key.
for side in Wine Ours; do
  tool $side add "$base\\$side\\Tree" /v Text /d hello /f /reg:32 >/dev/null
  tool $side add "$base\\$side\\Tree\\Sub" /v N /t REG_DWORD /d 5 /f \
    /reg:32 >/dev/null
  tool $side add "$base\\$side\\Tree\\Gone" /f /reg:32 >/dev/null
  tool $side add "$base\\$side\\Sixty" /v Text /d four /f /reg:64 >/dev/null
  tool $side copy "$base\\$side\\Tree" "$base\\$side\\Copy" /s /f \
    /reg:32 >/dev/null
  tool $side delete "$base\\$side\\Tree\\Gone" /f /reg:32 >/dev/null
done
for view in /reg:32 /reg:64; do
  for key in "$base" "$node"; do
    listing "$key\\Wine" $view >"$work/expected"
    listing "$key\\Ours" $view >"$work/actual"
    if ! cmp -s "$work/expected" "$work/actual"; then
      fail "the trees made differ in $key ($view)"
      diff "$work/expected" "$work/actual" | head -20
    fi
  done
done
# The 32-bit view's keys are below Wow6432Node, the 64-bit view's are not.
if ! wine reg query "$node\\Ours\\Tree\\Sub" /v N /reg:64 >/dev/null 2>&1 ||
  wine reg query "$base\\Ours\\Tree" /reg:64 >/dev/null 2>&1 ||
  ! wine reg query "$base\\Ours\\Sixty" /reg:64 >/dev/null 2>&1; then
  fail "corvane-reg.exe's keys are not where the views keep them"
fi

# query in each view: the same output (the side's name aside) and status.
for args in "/s /reg:32" "/s /reg:64" "/v Text /reg:32" "/v Text /reg:64"; do
  for side in Wine Ours; do
    status=0
    # shellcheck disable=SC2086
    tool $side query "$base\\$side\\Tree" $args >"$work/raw" 2>/dev/null ||
      status=$?
    # Wine's reg prints its errors on stdout: a failure is its status.
    [ "$status" = 0 ] || : >"$work/raw"
    tr -d '\r' <"$work/raw" |
      sed "s/\\\\$side\\\\/\\\\<side>\\\\/; s/\\\\$side\$/\\\\<side>/" \
        >"$work/query-$side"
    echo "$status" >>"$work/query-$side"
  done
  if ! cmp -s "$work/query-Wine" "$work/query-Ours"; then
    fail "query $args"
    diff "$work/query-Wine" "$work/query-Ours" | head -20
  fi
done

# export in each view: the same file, the side's name aside.
for view in /reg:32 /reg:64; do
  for side in Wine Ours; do
    status=0
    tool $side export "$base\\$side" "$(winepath -w "$work/$side.reg")" /y \
      $view >/dev/null 2>&1 || status=$?
    { echo "$status"; iconv -f UTF-16LE -t UTF-8 "$work/$side.reg" 2>/dev/null |
      sed "s/\\\\$side\\([]\\\\]\\)/\\\\<side>\\1/"; } >"$work/export-$side"
  done
  if ! cmp -s "$work/export-Wine" "$work/export-Ours"; then
    fail "export $view"
    diff "$work/export-Wine" "$work/export-Ours" | head -20
  fi
done

# import in each view: the file's keys land in that view.
for view in /reg:32 /reg:64; do
  for side in Wine Ours; do
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n"From"="%s"\r\n\r\n' \
      "HKEY_LOCAL_MACHINE\\Software\\$name\\Imported $side" "$view" |
      iconv -f UTF-8 -t UTF-16LE >"$work/import-$side.reg"
    status=0
    tool $side import "$(winepath -w "$work/import-$side.reg")" $view \
      >/dev/null 2>&1 || status=$?
    echo "$status" >"$work/imported-$side"
  done
  for key in "$base" "$node"; do
    for side in Wine Ours; do
      wine reg query "$key\\Imported $side" /v From /reg:64 2>/dev/null |
        tr -d '\r' | sed "s/Imported $side/Imported <side>/" \
        >>"$work/imported-$side" || echo missing >>"$work/imported-$side"
    done
  done
  if ! cmp -s "$work/imported-Wine" "$work/imported-Ours"; then
    fail "import $view"
    diff "$work/imported-Wine" "$work/imported-Ours" | head -20
  fi
  for side in Wine Ours; do
    wine reg delete "$base\\Imported $side" /f $view >/dev/null 2>&1 || true
  done
done

# Both views at once: a syntax error for both.
for command in "query $base" "add $base\\Both /f" "delete $base\\Both /f"; do
  status=0
  # shellcheck disable=SC2086
  wine reg $command /reg:32 /reg:64 >/dev/null 2>&1 || status=$?
  ours=0
  # shellcheck disable=SC2086
  wine "$exe" $command /reg:32 /reg:64 >/dev/null 2>&1 || ours=$?
  if [ "$status" != 1 ] || [ "$ours" != 1 ]; then
    fail "$command with both views (exit $status vs $ours)"
  fi
done

# The Linux build: the 32-bit view's export imported in the 32-bit view of
# an emulated store, then found where Windows keeps it.
wine "$exe" export "$base\\Ours" "$(winepath -w "$work/ours32.reg")" /y \
  /reg:32 >/dev/null
export CORVANE_REGISTRY="$work/store.reg"
"$native" import "$work/ours32.reg" /reg:32 >/dev/null
listing "$node\\Ours" /reg:64 >"$work/expected"
"$native" query "$node\\Ours" /s /reg:64 |
  sed -e 's/\\Ours\(\\\|$\)/\\<side>\1/' >"$work/actual"
if ! cmp -s "$work/expected" "$work/actual"; then
  fail "the Linux import /reg:32 is not below Wow6432Node"
  diff "$work/expected" "$work/actual" | head -20
fi
if "$native" query "$base\\Ours\\Tree" /reg:64 >/dev/null 2>&1 ||
  ! "$native" query "$base\\Ours\\Tree" /reg:32 >/dev/null 2>&1; then
  fail "the Linux corvane-reg's views"
fi

if [ "$failures" -ne 0 ]; then
  echo "corvane_reg_views: $failures comparison(s) failed"
  exit 1
fi
echo "corvane_reg_views: corvane-reg's views are reg's"
