#!/bin/sh
# host_seeds.sh SOURCE_DIR HOST_EXE FIRST LAST RESULTS: the host build's
# records of the seeds FIRST to LAST, for the Windows build's comparison.
# Brings the host preset's fidelity_run (HOST_EXE) up to date (nothing to
# do after scripts/test.sh's host build) and runs it, so that the Windows
# build's tests need no host test run before them.
set -e
source_dir=$1 host_exe=$2 first=$3 last=$4 results=$5
"$source_dir/scripts/build-preset.sh" host fidelity_run >/dev/null
exec "$host_exe" "$first" "$last" "$results"
