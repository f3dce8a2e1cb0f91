#!/usr/bin/env bash
# Runs N generated registries (default 20000) through the removal on both
# builds, the host's stand-in and the real calls under Wine, and compares
# their canonical dumps seed by seed. Builds what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-20000}

for preset in host win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target fidelity_run >/dev/null
done
prefix=$PWD/build/win32/wineprefix
[ -d "$prefix" ] || cmake/wine-prefix.sh create "$prefix"
export WINEPREFIX=$prefix

start=$(date +%s)
build/host/tests/fidelity/fidelity_run 1 "$n" build/host/tests/fidelity/fidelity-$n.txt
cmake/wine-run.sh build/win32/tests/fidelity/fidelity_run.exe 1 "$n" \
  build/win32/tests/fidelity/fidelity-$n.txt
status=0
python3 tests/fidelity/compare_runs.py \
  --host-results build/host/tests/fidelity/fidelity-$n.txt \
  --host-exe build/host/tests/fidelity/fidelity_run \
  --win32-results build/win32/tests/fidelity/fidelity-$n.txt \
  --win32-exe build/win32/tests/fidelity/fidelity_run.exe \
  --wine-run cmake/wine-run.sh || status=$?
echo "$n seeds in $(( $(date +%s) - start )) s"
exit $status
