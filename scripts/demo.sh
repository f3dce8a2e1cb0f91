#!/usr/bin/env bash
# The demo: installs what is missing, builds the Windows program, installs a
# sample filter in a throwaway Wine prefix with its installer, uninstalls it
# (the uninstaller runs the program) and shows what is left and what the
# media framework still finds.
# Exits 0 when the filter was removed and everything else is still in place,
# 1 when not, 2 when the demo itself could not run.
# The prefix is a 64-bit one, with a 64-bit registration of the same filter
# beside the one that the program removes; RF_DEMO_ARCH=win32 makes it a
# 32-bit one. RF_KEEP_PREFIX=1 keeps the prefix for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

log=$(mktemp /tmp/remove_filter-demo-build.XXXXXX.log)
run_logged() {
  if ! "$@" >>"$log" 2>&1; then
    tail -n 30 "$log"
    echo "The demo could not run: '$*' failed (whole log: $log)."
    exit 2
  fi
}

export RF_RETRY_COMMAND="scripts/demo.sh"

echo "== 1/5 Tools"
if ! scripts/install-deps.sh build; then
  echo "The demo could not run: installing the build tools failed."
  exit 2
fi
echo "   cmake, the i686 MinGW-w64 cross compiler and Python are installed"

echo "== 2/5 Building the program (preset win32)"
run_logged scripts/build-preset.sh win32 remove_filter registry_snapshot filter_framework \
  sample_filter_installers
rm -f "$log"
exe=build/win32/remove_filter.exe
echo "   $exe: $(stat -c %s "$exe") bytes"
if ! scripts/install-deps.sh wine; then
  echo "The demo could not run: Wine could not be installed. The program is built: $PWD/$exe"
  exit 2
fi

exec python3 scripts/demo.py \
  --installer build/win32/tests/e2e/installers/sample_filter_installer.exe \
  --snapshot build/win32/tests/e2e/registry_snapshot.exe \
  --filter-framework build/win32/tests/e2e/filter_framework.exe
