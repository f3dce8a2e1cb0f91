#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test:
# the host build, the host build with sanitizers, the fuzzer (the
# release's clang) over its seed corpus for a few seconds, and the Windows
# build whose tests run under Wine. Fails when any build or test fails.
#
# The tools come in two groups, each installed just before it is needed:
# the compilers first, Wine only before the Windows tests. When Wine
# cannot be installed, the host results and the built program stand, and
# the run fails naming what is missing: the Windows tests are the
# program's proof and never count as passed without Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
export RF_RETRY_COMMAND="scripts/test.sh"

scripts/install-deps.sh build

for preset in host host-asan fuzz win32; do
  echo "=== $preset"
  if [ "$preset" = fuzz ]; then
    # Seconds, not minutes: enough that a change which breaks the fuzz
    # build or an invariant on the seed corpus does not land.
    scripts/fuzz.sh "${RF_FUZZ_SECONDS:-5}"
    continue
  fi
  scripts/build-preset.sh "$preset"
  if [ "$preset" = win32 ] && ! scripts/install-deps.sh wine; then
    echo "scripts/test.sh: the host tests passed and build/win32/remove_filter.exe is built," \
      "but Wine could not be installed, so the Windows tests did not run: not a pass."
    exit 1
  fi
  [ "$preset" != win32 ] || echo "=== win32 tests under $(wine --version)"
  ctest --preset "$preset"
done
