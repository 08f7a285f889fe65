#!/usr/bin/env bash
# Runs the benchmarks on the emulated registry's shared store and the same
# work on Wine's registry (the Windows build, through the real registry API),
# and prints one table with the ratios and the targets they are held to:
# warm and cold walks, the repair on an existing store, importing the
# classes file (the benchmark's .reg file), RemoveKeyTree (and, beside it, the store's own commits of
# the same deletes: its floor), one writer and four writers at once against
# that floor, how soon another process sees a write, and a reader's speed
# beside a writer of another key against its speed alone, and how soon a
# change notification reaches another process.
#
#   bench/compare_wine.sh [NATIVE_BUILD_DIR] [WINDOWS_BUILD_DIR]
#
# Defaults: build/native and build/windows below the checkout (Release
# builds give the figures worth quoting). Environment:
#   STORE_DIR     folder for the native stores (default: the work folder in
#                 /tmp; /dev/shm/... puts them on tmpfs). Its file system is
#                 printed with the results.
#   WINE_WALKS    tree sizes walked under Wine (default 10000,100000; a
#                 million keys takes Wine most of an hour)
#   WINE_REMOVE   subtree size deleted under Wine (default 100000)
#   REPETITIONS   repetitions of each native case, fastest kept (default 3)
#   WRITES        values each of the four writers writes (default 5000)
#   BEATS         writes the latency case times (default 1000, BEAT_GAP_US
#                 apart)
#   BEAT_GAP_US   the beats' gap in microseconds (default 2000)
#   READ_SECONDS  how long the reader runs, alone and beside a writer
#                 (default 3)
#   SAVE_WAIT     seconds to let Wine's server save the writers' changes
#                 before the latency case (default 31)
#   WINEPREFIX    Wine prefix to use (default a fresh one in the work folder,
#                 removed at the end)
#   KEEP_AWAKE    1 (default): a lowest-priority busy loop runs throughout, so
#                 that no core sleeps. Each of Wine's registry calls is a round
#                 trip to its server, and on an idle virtual machine every one
#                 waits for a sleeping core to wake: its 100k walk took 15 s
#                 idle and 4 s with one core kept awake. Awake, Wine runs at its
#                 best and the ratios are the conservative ones. 0: no loop.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
native=$(realpath "${1:-$here/build/native}")
windows=$(realpath "${2:-$here/build/windows}")
wine_walks=${WINE_WALKS:-10000,100000}
wine_remove=${WINE_REMOVE:-100000}
repetitions=${REPETITIONS:-3}
writes=${WRITES:-5000}
beats=${BEATS:-1000}
beat_gap_us=${BEAT_GAP_US:-2000}
read_seconds=${READ_SECONDS:-3}
read_values=10000
cold_keys=100000

for tool in "$native/bench/corvane_bench" "$native/bench/corvane_benchstore" \
            "$native/bench/corvane_walktimer" "$native/app/corvane" \
            "$native/cli/corvane-reg" "$windows/bench/corvane_walktimer.exe" \
            "$windows/app/corvane.exe"; do
  [[ -x $tool || -f $tool ]] || { echo "missing $tool (build it first)" >&2; exit 2; }
done
for cmd in jq wine /usr/bin/time; do
  command -v "$cmd" >/dev/null || { echo "needs $cmd" >&2; exit 2; }
done

work=$(mktemp -d /tmp/corvane-compare.XXXXXX)
if [[ -n ${STORE_DIR:-} ]]; then
  mkdir -p "$STORE_DIR"
  stores=$(mktemp -d "$STORE_DIR/corvane-stores.XXXXXX")
else
  stores=$work/stores
  mkdir -p "$stores"
fi
own_prefix=0
if [[ -z ${WINEPREFIX:-} ]]; then
  export WINEPREFIX=$work/wine
  own_prefix=1
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset CORVANE_REGISTRY_READONLY
awake_pid=
if [[ ${KEEP_AWAKE:-1} == 1 ]]; then
  nice -n 19 sh -c 'while :; do :; done' &
  awake_pid=$!
fi
cleanup() {
  if [[ -n $awake_pid ]]; then kill "$awake_pid" 2>/dev/null || true; fi
  if ((own_prefix)); then wineserver -k 2>/dev/null || true; fi
  rm -rf "$work" "$stores"
}
trap cleanup EXIT

log() { printf '%s\n' "$*" >&2; }
wt() { "$native/bench/corvane_walktimer" "$@"; }
wine_wt() { wine "$windows/bench/corvane_walktimer.exe" "$@" | tr -d '\r'; }
# Wall time of a command in ms (bash's clock: no process of its own).
ms_of() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN{printf "%.1f", (e - s) * 1000}'
}
min_of() { tr ' ' '\n' | awk 'NF && (m == "" || $1 < m) {m = $1} END{print m}'; }
# "<count> <median> <p99> <p99.9>" of the numbers on stdin (nearest rank).
dist() {
  sort -n | awk '
    function rank(q,  r) { r = int(NR * q); if (r < NR * q) r++; return r }
    {a[NR] = $1} END{
    if (NR == 0) { print "0 - - -"; exit }
    printf "%d %.1f %.1f %.1f\n", NR, a[int((NR + 1) / 2)], a[rank(0.99)],
      a[rank(0.999)] }'
}

# --- Emulated registry, in process: Google Benchmark ------------------------
log "native benchmarks ($repetitions repetitions)..."
TMPDIR=$stores "$native/bench/corvane_bench" \
  --benchmark_filter='^(WalkAllNodes|WalkItems|RemoveKeyTree|StoreDeleteCommits/100000|Import|Repair)' \
  --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
  --benchmark_out="$work/native.json" --benchmark_out_format=json >/dev/null
# "<case> <wall ns> <cpu ns>" per line.
jq -r '.benchmarks[] | select(.run_type == "iteration" or .aggregate_name == "min")
  | ({"ns":1,"us":1e3,"ms":1e6,"s":1e9}[.time_unit]) as $unit
  | [(.run_name | sub("/real_time$"; "")), .real_time * $unit, .cpu_time * $unit]
  | @tsv' "$work/native.json" | tr '\t' ' ' >"$work/native.txt"

# --- Wine: the self-timing harness on the real registry API ----------------
log "starting Wine in $WINEPREFIX..."
wineboot -i >/dev/null 2>&1 || wine wineboot -i >/dev/null 2>&1
wineserver -p 600 2>/dev/null || true  # one server for all runs
wine cmd /c exit >/dev/null 2>&1 || true
log "Wine walks ($wine_walks) and RemoveKeyTree ($wine_remove)..."
wine_wt --walk "$wine_walks" --items 10000 --remove "$wine_remove" \
  --min-time 0 2>"$work/wine.err" | awk '{print $1, $2}' >"$work/wine.txt" ||
  { cat "$work/wine.err" >&2; exit 1; }

# --- Cold walks: a new process's first registry work ------------------------
log "cold walks of $cold_keys keys..."
export CORVANE_REGISTRY=$stores/walk.db
wt --build "$cold_keys"
native_cold=$(for _ in 1 2 3; do wt --cold "$cold_keys" | awk '{print $2}'; done | min_of)
wt --drop
wine_wt --build "$cold_keys"
wine_cold=$(wine_wt --cold "$cold_keys" | awk '{print $2}')
wine_wt --drop

# --- Import of the classes file into an empty store -------------------------
log "importing the 100k-key classes file..."
classes=$work/classes100k.reg
"$native/bench/corvane_benchstore" make "$classes" 100000
classes_bytes=$(stat -c %s "$classes")
import_ms=
for i in 1 2 3; do
  rm -rf "$stores/import$i" && mkdir "$stores/import$i"
  export CORVANE_REGISTRY=$stores/import$i/registry.db
  import_ms+=" $(ms_of "$native/bench/corvane_benchstore" import "$classes")"
done
best_import=$(min_of <<<"$import_ms")
start=$EPOCHREALTIME
wine reg import "$(winepath -w "$classes" 2>/dev/null)" >/dev/null 2>&1 ||
  { echo "wine reg import failed" >&2; exit 1; }
wine_import=$(awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN{printf "%.1f", (e - s) * 1000}')
wine_start=$(ms_of wine cmd /c exit)

# --- corvane on an existing store -------------------------------------------
# A copy of the store as the import left it (database, log, counter), so
# that each first run meets the same files.
log "corvane on an existing store..."
first_ms=
for i in 1 2 3; do
  rm -rf "$stores/run$i" && cp -a "$stores/import1" "$stores/run$i"
  export CORVANE_REGISTRY=$stores/run$i/registry.db
  first_ms+=" $(ms_of /usr/bin/time -f %M -o "$work/rss$i" "$native/app/corvane")"
done
repeat_ms=
for _ in 1 2 3 4 5; do repeat_ms+=" $(ms_of "$native/app/corvane")"; done
rss_kb=$(cat "$work/rss1")
"$native/cli/corvane-reg" query 'HKLM\SOFTWARE\Classes\AppID\Gemini Driver.exe' /v AppID >/dev/null ||
  { echo "the repair left no driver registration in the store" >&2; exit 1; }
first_best=$(min_of <<<"$first_ms")
repeat_best=$(min_of <<<"$repeat_ms")
# The same repair under Wine, on the registry the classes file was imported into.
wine_first=$(ms_of wine "$windows/app/corvane.exe")
wine_repeat=$(ms_of wine "$windows/app/corvane.exe")

# --- One writer, then four at once ------------------------------------------
log "one writer, then four writers, $writes values each..."
export CORVANE_REGISTRY=$stores/writer.db
read -r _ _ _ native_one_rate < <("$native/bench/corvane_benchstore" writers 1 "$writes")
export CORVANE_REGISTRY=$stores/writers.db
read -r _ native_counted native_secs native_rate < \
  <("$native/bench/corvane_benchstore" writers 4 "$writes")
wine_wt --drop
# Wine processes take a while to start: all four wait for a common moment.
at=$(($(date +%s%3N) + 4000))
writers=()
for i in 0 1 2 3; do
  wine_wt --writer "$i" "$writes" "$at" >"$work/writer$i" &
  writers+=($!)
done
wait "${writers[@]}"
wine_span=$(cat "$work"/writer? | awk 'NR == 1 || $1 < s {s = $1} $2 > e {e = $2} END{print e - s}')
wine_counted=$(wine_wt --count)
wine_rate=$(awk -v n=$((4 * writes)) -v ms="$wine_span" 'BEGIN{printf "%.0f", n / (ms / 1000)}')
wine_wt --drop

# --- A write seen by another process ----------------------------------------
log "change propagation, $beats writes..."
# Wine's server saves a changed registry to disk within 30 s, and the four
# writers above changed it: on two cores that save, landing during either
# side's beats, was the whole of a tail. Both sides run after it.
sleep "${SAVE_WAIT:-31}"
export CORVANE_REGISTRY=$stores/beats.db
# The beats with a listener of the kind MODE (--listen polls, --notified is
# woken by RegNotifyChangeKeyValue), on each side in turn: $work/NAME.native
# and $work/NAME.wine.
beats_beside() {
  local mode=$1 name=$2 listener
  wt "$mode" 120 "$beat_gap_us" >"$work/$name.native" &
  listener=$!
  wt --beat "$beats" "$beat_gap_us"
  wait "$listener"
  # Bounded: a listener under Wine once never returned (its own limit is
  # 120 s); then Wine's side of the case has no beats.
  timeout 300 wine "$windows/bench/corvane_walktimer.exe" "$mode" 120 \
    "$beat_gap_us" | tr -d '\r' >"$work/$name.wine" &
  listener=$!
  wine_wt --beat "$beats" "$beat_gap_us"
  wait "$listener" || log "Wine's $mode listener did not finish"
}
beats_beside --listen listen
# Every beat, a missed one at its lower bound (see bench/Workload.h).
to_us() { grep -v end "$1" | awk '{printf "%.1f\n", $1 / 1000}'; }
seen_of() { grep -cv -e end -e missed "$1" || true; }
read -r _ native_median native_p99 native_p999 < <(to_us "$work/listen.native" | dist)
read -r _ wine_median wine_p99 wine_p999 < <(to_us "$work/listen.wine" | dist)
native_seen=$(seen_of "$work/listen.native")
wine_seen=$(seen_of "$work/listen.wine")
wine_wt --drop

# --- A write notified to another process -------------------------------------
# The same beats, the listener woken by RegNotifyChangeKeyValue (registered
# again after each) instead of polling.
log "change notification, $beats writes..."
beats_beside --notified notified
read -r _ native_nmedian native_np99 native_np999 < <(to_us "$work/notified.native" | dist)
read -r _ wine_nmedian wine_np99 wine_np999 < <(to_us "$work/notified.wine" | dist)
native_nseen=$(seen_of "$work/notified.native")
wine_nseen=$(seen_of "$work/notified.wine")
wt --drop
wine_wt --drop

# --- A reader alone, and beside a writer of another key ---------------------
log "a reader of $read_values values, alone and beside a writer..."
export CORVANE_REGISTRY=$stores/reader.db
# "<queries per second>" of a reader run, after one run that makes the key.
per_second() { awk '{printf "%.0f", $1 / $2}'; }
reading() {  # TOOL: alone, then beside --churn
  "$@" --reader 1 "$read_values" >/dev/null
  local alone beside churner
  alone=$("$@" --reader "$read_seconds" "$read_values" | per_second)
  "$@" --churn "$((read_seconds + 2))" >"$work/churn" &
  churner=$!
  sleep 1
  beside=$("$@" --reader "$read_seconds" "$read_values" | per_second)
  wait "$churner"
  echo "$alone $beside $(awk '{printf "%.0f", $1 / $2}' "$work/churn")"
}
read -r native_alone native_beside native_churn < <(reading wt)
wt --drop
read -r wine_alone wine_beside wine_churn < <(reading wine_wt)
wine_wt --drop

# --- The table --------------------------------------------------------------
ns() { awk -v k="$2" '$1 == k {print $2}' "$1"; }
cpu_ns() { awk -v k="$2" '$1 == k {print $3}' "$1"; }
fmt_ms() { awk -v n="$1" 'BEGIN{ if (n == "") print "-"; else printf "%.2f", n / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (a == "" || b == "" || a == "-" || b == "-" || b == 0) print "-"; else printf "%.1f", a / b }'; }
ratio2() { awk -v a="$1" -v b="$2" 'BEGIN{ if (a == "" || b == "" || a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f", a / b }'; }
verdict() { awk -v v="$1" -v op="$2" -v t="$3" 'BEGIN{
  if (v == "-" || v == "") { print "n/a"; exit }
  ok = (op == ">=") ? (v + 0 >= t + 0) : (v + 0 <= t + 0); print ok ? "met" : "MISSED" }'; }
row() { printf '%-34s %11s %11s %9s\n' "$@"; }

echo
row "Benchmark (ms)" "emulated" "Wine" "Wine/emu"
cases=$(awk '{print $1}' "$work/native.txt" "$work/wine.txt" |
  grep -E '^(WalkAllNodes|WalkItems|RemoveKeyTree)/' | sort -t/ -k1,1 -k2n -u)
for c in $cases; do
  n=$(ns "$work/native.txt" "$c")
  w=$(ns "$work/wine.txt" "$c")
  row "$c" "$(fmt_ms "$n")" "$(fmt_ms "$w")" "$(ratio "$w" "$n")"
done
# The floor under RemoveKeyTree: its deletes' commits, with nothing around.
row "  the store's commits alone" "$(fmt_ms "$(ns "$work/native.txt" StoreDeleteCommits/100000)")" "" ""
row "ColdWalk/$cold_keys (new process)" "$(fmt_ms "$native_cold")" "$(fmt_ms "$wine_cold")" "$(ratio "$wine_cold" "$native_cold")"
row "import 100k classes file (process)" "$best_import" "$wine_import" "$(ratio "$wine_import" "$best_import")"
row "  in process (Import)" "$(fmt_ms "$(ns "$work/native.txt" Import)")" "" ""
row "corvane, first run on a copy" "$first_best" "$wine_first" ""
row "corvane, repeat" "$repeat_best" "$wine_repeat" ""
row "  in process (Repair, warm)" "$(fmt_ms "$(ns "$work/native.txt" Repair)")" "" ""
row "(Wine process start alone)" "" "$wine_start" ""
# The single-commit floor, in microseconds per commit.
floor_us=$(awk -v n="$(ns "$work/native.txt" StoreDeleteCommits/100000)" \
  'BEGIN{ if (n == "") print "-"; else printf "%.1f", n / 1e5 / 1e3 }')
per_value() { awk -v r="$1" 'BEGIN{ if (r == "" || r == 0) print "-"; else printf "%.1f", 1e6 / r }'; }
row "1 writer: values/s" "$native_one_rate" "" ""
row "  us per value (floor $floor_us)" "$(per_value "$native_one_rate")" "" ""
row "4 writers: values/s" "$native_rate" "$wine_rate" "$(ratio "$wine_rate" "$native_rate")"
row "  us per value (floor $floor_us)" "$(per_value "$native_rate")" "$(per_value "$wine_rate")" ""
row "  values counted of $((4 * writes))" "$native_counted" "$wine_counted" ""
row "write seen: median us" "$native_median" "$wine_median" "$(ratio "$wine_median" "$native_median")"
row "write seen: p99 us" "$native_p99" "$wine_p99" "$(ratio "$wine_p99" "$native_p99")"
row "write seen: p99.9 us" "$native_p999" "$wine_p999" "$(ratio "$wine_p999" "$native_p999")"
row "  writes seen of $beats, ${beat_gap_us} us apart" "$native_seen" "$wine_seen" ""
row "write notified: median us" "$native_nmedian" "$wine_nmedian" "$(ratio "$wine_nmedian" "$native_nmedian")"
row "write notified: p99 us" "$native_np99" "$wine_np99" "$(ratio "$wine_np99" "$native_np99")"
row "write notified: p99.9 us" "$native_np999" "$wine_np999" "$(ratio "$wine_np999" "$native_np999")"
row "  writes notified of $beats" "$native_nseen" "$wine_nseen" ""
row "reader alone: queries/s" "$native_alone" "$wine_alone" ""
row "reader beside a writer: queries/s" "$native_beside" "$wine_beside" ""
row "  the writer's values/s" "$native_churn" "$wine_churn" ""

walk100=$(ratio "$(ns "$work/wine.txt" "WalkAllNodes/100000")" "$(ns "$work/native.txt" "WalkAllNodes/100000")")
cold=$(ratio "$wine_cold" "$native_cold")
import_ratio=$(ratio "$wine_import" "$best_import")
remove=$(ratio "$(ns "$work/wine.txt" "RemoveKeyTree/100000")" "$(ns "$work/native.txt" "RemoveKeyTree/100000")")
lost=$((4 * writes - native_counted))

echo
printf '%-44s %9s %8s   %s\n' "Target" "value" "target" "verdict"
target() { printf '%-44s %9s %8s   %s\n' "$1" "$2" "$3 $4" "$(verdict "$2" "$3" "$4")"; }
target "walk 100k warm: Wine / emulated" "$walk100" ">=" 100
target "walk 100k cold: Wine / emulated" "$cold" ">=" 50
target "corvane on the store, first run (ms)" "$first_best" "<=" 50
target "corvane on the store, repeat (ms)" "$repeat_best" "<=" 50
target "import: wine reg import / emulated" "$import_ratio" ">=" 10
target "RemoveKeyTree 100k: Wine / emulated" "$remove" ">=" 2
target "4 writers: emulated / Wine values/s" "$(ratio2 "$native_rate" "$wine_rate")" ">=" 1
target "4 writers: values lost" "$lost" "<=" 0
target "1 writer: us per value / floor" "$(ratio2 "$(per_value "$native_one_rate")" "$floor_us")" "<=" 1.5
target "write seen, median: emulated / Wine" "$(ratio2 "$native_median" "$wine_median")" "<=" 1
target "write seen, p99: emulated / Wine" "$(ratio2 "$native_p99" "$wine_p99")" "<=" 1
target "writes missed: emulated - Wine" "$(((beats - native_seen) - (beats - wine_seen)))" "<=" 0
target "write notified, median: emulated / Wine" "$(ratio2 "$native_nmedian" "$wine_nmedian")" "<=" 1
target "reader beside a writer / alone" "$(ratio2 "$native_beside" "$native_alone")" ">=" 0.5
echo
echo "runs: corvane first $first_ms ms; repeat $repeat_ms ms; import $import_ms ms"
echo "classes file: $classes_bytes bytes of UTF-16 text, 100k keys; corvane peak RSS ${rss_kb} kB"
echo "store: $stores on $(stat -f -c %T "$stores") ($(df --output=source "$stores" | tail -1));" \
  "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)," \
  "$([[ -n $awake_pid ]] && echo "one core kept awake" || echo "cores left to sleep")"
