#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS]: builds the fuzz preset (clang, libFuzzer,
# AddressSanitizer and UBSan) and runs the removal fuzzer for SECONDS
# (default 600) in one process, starting from the seed corpus in
# fuzz/corpus. New inputs go to build/fuzz/corpus; an input that breaks an
# invariant is written to build/fuzz/artifacts/ and the script fails.
# To keep new inputs worth having as seeds:
#   build/fuzz/fuzz/removal_fuzzer -merge=1 fuzz/corpus build/fuzz/corpus
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}

scripts/install-deps.sh build
scripts/build-preset.sh fuzz
mkdir -p build/fuzz/corpus build/fuzz/artifacts
exec build/fuzz/fuzz/removal_fuzzer -max_total_time="$seconds" -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ \
  build/fuzz/corpus fuzz/corpus
