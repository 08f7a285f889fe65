#!/usr/bin/env bash
# Builds and runs every test: the native build on the emulated registry, the
# same under AddressSanitizer + UBSan and under ThreadSanitizer, the fuzz
# target's corpus, and the Windows build under Wine against Wine's own
# registry, then the checks that compare us with Wine's tools.
#   scripts/test.sh           everything (what CI runs)
#   scripts/test.sh --quick   format check, native build, native ctest
set -euo pipefail
cd "$(dirname "$0")/.."

quick=false
case "${1:-}" in
  "") ;;
  --quick) quick=true ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac

if $quick; then
  scripts/bootstrap.sh quick
else
  scripts/bootstrap.sh
fi

step() { printf '\n=== %s\n' "$*"; }

# Formatting first: a file that drifted from .clang-format fails the run
# before anything is built.
git ls-files -z '*.cpp' '*.h' '*.c' |
  xargs -0 clang-format --dry-run -Werror
# The emulated registry's seams include only what lies below them.
scripts/check_seams.sh

jobs=$(nproc)

# Warnings fail the build here (users build without -Werror).
build() {
  step "build $1"
  cmake --preset "$1" -DCORVANE_WERROR=ON >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

if $quick; then
  build native
  step "test native"
  ctest --preset native -j "$jobs"
  exit 0
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# A throwaway Wine prefix that never prompts (no Mono, no Gecko).
export WINEPREFIX="$scratch/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

for preset in native native-asan native-tsan windows; do
  build "$preset"
done

# Every seed of the .reg reader's fuzz target, run once under ASan + UBSan:
# through libFuzzer with clang, through a plain replay program otherwise.
step "fuzz corpus replay"
if command -v clang++ >/dev/null; then
  cmake -S fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build build/fuzz -j "$jobs"
  build/fuzz/regfile_fuzz fuzz/corpus/*
  # The replay program too, so that the fallback keeps working.
  build/fuzz/regfile_replay fuzz/corpus
else
  cmake -S fuzz -B build/fuzz-replay >/dev/null
  cmake --build build/fuzz-replay -j "$jobs"
  build/fuzz-replay/regfile_replay fuzz/corpus
fi

step "package: find_package(corvane) from an installed tree"
cmake --install build/native --prefix "$scratch/prefix" >/dev/null
cmake -S tests/install -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
"$scratch/consumer/consumer"

step "repair end to end: Linux program and corvane.exe under Wine"
bash tests/e2e/repair_e2e.sh build/native build/windows

# The checks share one prefix: it is made here, and its setup (which goes on
# writing the registry in the background after wineboot returns) is waited
# out, so that no check runs beside it.
step "wine prefix"
wineboot -i >/dev/null 2>&1 || wine wineboot -i >/dev/null 2>&1 || true
timeout 300 wineserver -w || true

for script in tests/wine/*.sh; do
  [ -e "$script" ] || continue
  step "wine check: $script"
  bash "$script" build/native build/windows
done

for preset in native native-asan windows; do
  step "test $preset"
  ctest --preset "$preset"
done

# ThreadSanitizer's shadow memory needs a fixed layout, which kernels with
# more address randomization than it expects (vm.mmap_rnd_bits above 28)
# don't give: the suite runs with randomization off.
step "test native-tsan"
setarch "$(uname -m)" -R ctest --preset native-tsan
