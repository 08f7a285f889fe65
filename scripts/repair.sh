#!/usr/bin/env bash
# Builds the Linux program and runs the repair on the emulated registry's
# store (CORVANE_REGISTRY, else ~/.local/share/corvane/registry.reg.db), then
# shows the authentication levels it leaves under HKCR\AppID.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh native
cmake --preset native -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build --preset native -j "$(nproc)" --target corvane corvane-reg >/dev/null

# The store the program will use: a name ending in .reg stands for <name>.db
# (an old hive there is imported into it once).
data_home=${XDG_DATA_HOME:-}
[[ "$data_home" == /* ]] || data_home=$HOME/.local/share
store=$(realpath -m -s "${CORVANE_REGISTRY:-$data_home/corvane/registry.reg}")
[[ "$store" == *.reg ]] && store=$store.db
echo "Repairing the registry in the store $store"
status=0
build/native/app/corvane || status=$?
if [ "$status" -eq 0 ]; then
  echo "Done. AuthenticationLevel values under HKEY_CLASSES_ROOT\\AppID now:"
  build/native/cli/corvane-reg query 'HKCR\AppID' /s /f AuthenticationLevel || true
  echo "See any key with: build/native/cli/corvane-reg query 'HKCR\\AppID\\<key>'"
fi
exit "$status"
