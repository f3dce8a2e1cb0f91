#!/usr/bin/env bash
# Mutation check of the program's own code: one small change at a time to a
# copy of the sources (build/mutate/src), rebuilt incrementally and run
# against the host tests. A tool, not a test. `scripts/mutate.sh --help`.
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 scripts/mutate.py "$@"
