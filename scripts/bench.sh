#!/usr/bin/env bash
# Runs every benchmark and prints its table: the host benchmarks against the
# stand-in (Google Benchmark; growth from 1,000 to 100,000 keys), then the
# Windows benchmark program under Wine (the lookup against its floor, and
# DeleteKeyTree against the platform's RegDeleteTreeA). Installs what is
# missing and builds the `bench` targets first.
#
# Benchmarks are not tests: a figure that misses its goal is reported, not
# failed; the exit status is non-zero only when a benchmark could not run.
# The machine may be busy with other work, so every figure is a median.
#
# The Windows program runs in throwaway Wine prefixes of its own, a 32-bit
# one and then a 64-bit one (where it runs under WOW64, as on most users'
# machines), made and removed by the Wine driver (RF_KEEP_PREFIX keeps them).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

for preset in host win32; do
  scripts/build-preset.sh "$preset" bench
done

status=0

echo
echo "=== host: the program's code against the in-memory stand-in"
build/host/bench/bench || status=1

scratch=$(mktemp -d "${TMPDIR:-/tmp}/rf-bench.XXXXXX")
cleanup() {
  for prefix in "$scratch"/prefix-*; do
    [ -d "$prefix" ] && cmake/wine_driver.py remove "$prefix"
  done
  rmdir "$scratch" 2>/dev/null || true
}
trap cleanup EXIT
for arch in win32 win64; do
  echo
  if [ "$arch" = win32 ]; then
    echo "=== win32: the real program's calls under Wine, 32-bit prefix"
  else
    echo "=== win32 under WOW64: the same program's calls under Wine, 64-bit prefix"
  fi
  prefix="$scratch/prefix-$arch"
  cmake/wine_driver.py create "$prefix" "$arch"
  WINEPREFIX="$prefix" cmake/wine_driver.py run build/win32/bench/bench.exe || status=1
done

exit $status
