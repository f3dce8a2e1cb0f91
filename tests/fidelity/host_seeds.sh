#!/bin/sh
# host_seeds.sh SOURCE_DIR FIRST LAST RESULTS: the host build's records of
# the seeds FIRST to LAST, for the Windows build's comparison. Configures
# the host preset when it is not yet, brings its fidelity_run up to date
# (nothing to do after scripts/test.sh's host build) and runs it, so that
# the Windows build's tests need no host test run before them.
set -e
source_dir=$1 first=$2 last=$3 results=$4
cd "$source_dir"
[ -f build/host/CMakeCache.txt ] || cmake --preset host >/dev/null
cmake --build --preset host --target fidelity_run >/dev/null
exec build/host/tests/fidelity/fidelity_run "$first" "$last" "$results"
