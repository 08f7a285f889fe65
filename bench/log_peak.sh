#!/usr/bin/env bash
# The emulated store's log under load: four writer processes and two reader
# processes on one store for SECONDS (default 60), while the size of the
# log file (-wal) is sampled every 10 ms. Prints the peak, the writes and the
# reads, and the store's file system.
#
#   bench/log_peak.sh [NATIVE_BUILD_DIR] [SECONDS]
#
# STORE_DIR: folder for the store (default /tmp).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
native=$(realpath "${1:-$here/build/native}")
seconds=${2:-60}
wt="$native/bench/corvane_walktimer"
[[ -x $wt ]] || { echo "missing $wt (build it first)" >&2; exit 2; }

work=$(mktemp -d "${STORE_DIR:-/tmp}/corvane-log.XXXXXX")
trap 'rm -rf "$work"' EXIT
export CORVANE_REGISTRY=$work/log.db
"$wt" --reader 0.1 10000 >/dev/null  # makes the readers' key

pids=()
for i in 1 2 3 4; do "$wt" --churn "$seconds" >"$work/writer$i" & pids+=($!); done
for i in 1 2; do "$wt" --reader "$seconds" 10000 >"$work/reader$i" & pids+=($!); done
peak=0
end=$((SECONDS + seconds + 1))
while ((SECONDS < end)); do
  size=$(stat -c %s "$CORVANE_REGISTRY-wal" 2>/dev/null || echo 0)
  ((size > peak)) && peak=$size
  sleep 0.01
done
wait "${pids[@]}"
writes=$(cat "$work"/writer? | awk '{n += $1} END{print n}')
reads=$(cat "$work"/reader? | awk '{n += $1} END{print n}')
echo "log peak: $peak bytes ($(awk -v b="$peak" 'BEGIN{printf "%.1f", b / 1048576}') MB)" \
  "over $seconds s; $writes writes by 4 writers, $reads reads by 2 readers"
echo "store: $work on $(stat -f -c %T "$work") ($(df --output=source "$work" | tail -1));" \
  "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
