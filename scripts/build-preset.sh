#!/bin/sh
# scripts/build-preset.sh PRESET [-DNAME=VALUE...] [TARGET...]: the one way
# the scripts configure and build a preset. Its build tree (build/PRESET)
# is configured when it is new or options are given (a build reconfigures
# by itself when a CMakeLists.txt changed; a changed preset wants a fresh
# tree), then the TARGETs are built (by default the preset's own).
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
if [ ! -f "build/$preset/CMakeCache.txt" ] || [ -n "$options" ]; then
  # shellcheck disable=SC2086 # one word an option
  cmake --preset "$preset" $options >/dev/null
fi
# shellcheck disable=SC2086 # one word a target
cmake --build --preset "$preset" ${targets:+--target $targets}
