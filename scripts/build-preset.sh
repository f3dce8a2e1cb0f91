#!/bin/sh
# scripts/build-preset.sh PRESET [-DNAME=VALUE...] [TARGET...]: the one way
# the scripts configure and build a preset: configured (quietly, with the
# options given), then the TARGETs built (by default the preset's own).
set -e
cd "$(dirname "$0")/.."
preset=$1
shift
options=
targets=
for arg in "$@"; do
  case $arg in
    -D* | -U*) options="$options $arg" ;;
    *) targets="$targets $arg" ;;
  esac
done
# shellcheck disable=SC2086 # one word an option
cmake --preset "$preset" $options >/dev/null
# shellcheck disable=SC2086 # one word a target
cmake --build --preset "$preset" ${targets:+--target $targets}
