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
# The Windows program runs in a throwaway Wine prefix of its own, with
# Wine's temporary and home files beside it; all of it is removed on exit.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

for preset in host win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target bench
done

status=0

echo
echo "=== host: the program's code against the in-memory stand-in"
build/host/bench/bench || status=1

echo
echo "=== win32: the real program's calls under Wine"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/rf-bench.XXXXXX")
mkdir "$scratch/tmp" "$scratch/home"
# Wine keeps its server's socket below TMPDIR and writes menus and caches
# below HOME: both go into the scratch directory, removed with the prefix.
wine_env=(env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_RUNTIME_DIR
          TMPDIR="$scratch/tmp" HOME="$scratch/home" WINEPREFIX="$scratch/prefix")
cleanup() {
  "${wine_env[@]}" cmake/wine-prefix.sh stop "$scratch/prefix"
  rm -rf "$scratch"
}
trap cleanup EXIT
"${wine_env[@]}" cmake/wine-prefix.sh create "$scratch/prefix"
"${wine_env[@]}" cmake/wine-run.sh build/win32/bench/bench.exe || status=1

exit $status
