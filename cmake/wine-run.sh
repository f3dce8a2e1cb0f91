#!/bin/sh
# Runs a Windows program under Wine in the build tree's throwaway prefix
# (created by wine-prefix.sh). The prefix is found from the working
# directory's build tree unless WINEPREFIX is already set.
set -e
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  WINEPREFIX="$dir/wineprefix"
fi
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
