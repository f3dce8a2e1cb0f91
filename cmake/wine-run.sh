#!/bin/sh
# Runs a Windows program under Wine in the build tree's throwaway prefix
# (created by wine-prefix.sh). The prefix is found from the working
# directory's build tree unless WINEPREFIX is already set; Wine tells a
# 32-bit prefix from a 64-bit one by itself.
set -e
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  WINEPREFIX="$dir/wineprefix"
fi
unset WINEARCH
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
