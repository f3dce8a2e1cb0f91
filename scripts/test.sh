#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test:
# the host build, the host build with sanitizers, and the Windows build
# whose tests run under Wine. Fails when any build or test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

for preset in host host-asan win32; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
