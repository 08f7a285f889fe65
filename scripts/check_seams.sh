#!/usr/bin/env bash
# Checks that the emulated registry's seams include only what lies below
# them: calls -> view -> store, calls -> import -> store, all -> system and
# base. The static libraries give the same order at link time, but a link
# can pass by the luck of what was already pulled in; an include can't.
set -euo pipefail
cd "$(dirname "$0")/.."

# seam: the emulated folders its files may include, besides its own
declare -A below=(
  [system]=""
  [store]="system"
  [import]="system store"
  [view]="system store"
  [calls]="system store import view"
)
status=0
for seam in "${!below[@]}"; do
  allowed="$seam ${below[$seam]}"
  while IFS=: read -r file line text; do
    target=$(sed -E 's/.*"platform\/emulated\/([^/"]+)\/.*/\1/' <<<"$text")
    if [[ " $allowed " != *" $target "* ]]; then
      echo "$file:$line: $seam/ must not include $target/: $text" >&2
      status=1
    fi
  done < <(grep -n '#include "platform/emulated/[^/"]*/' \
             platform/emulated/"$seam"/* || true)
done
# The test hooks' header is the calls' public face: nothing below includes it.
if grep -ln 'platform/emulated/TestHooks.h' \
     platform/emulated/{system,store,import,view}/* 2>/dev/null; then
  echo "a seam below calls/ includes TestHooks.h" >&2
  status=1
fi
exit $status
