#!/usr/bin/env bash
# scripts/fidelity.sh [N]: the differential check of the two builds (the
# win32 preset's fidelity_* tests) over N generated registries (default
# 20000) in place of the test run's 1000: the host's stand-in and the real
# calls under Wine, in a fresh prefix, compared seed by seed. Installs and
# builds what is missing first; the test run's count is back afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-20000}

scripts/install-deps.sh
trap 'cmake --preset win32 -URF_FIDELITY_SEEDS >/dev/null' EXIT
scripts/build-preset.sh win32 -DRF_FIDELITY_SEEDS="$n" fidelity_run
start=$(date +%s)
status=0
ctest --preset win32 -R '^fidelity_' || status=$?
echo "$n seeds in $(($(date +%s) - start)) s"
exit $status
