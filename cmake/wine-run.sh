#!/bin/sh
# Runs a Windows program under Wine in the build tree's throwaway prefix
# (created by wine-prefix.sh). The prefix is found from the working
# directory's build tree unless WINEPREFIX is already set; Wine tells a
# 32-bit prefix from a 64-bit one by itself. Names the Wine release on the
# standard error first, so that every test's output records it.
set -e
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  WINEPREFIX="$dir/wineprefix"
fi
. "$(dirname "$0")/wine-env.sh"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"
echo "Wine: $(wine --version)" >&2
exec wine "$@"
