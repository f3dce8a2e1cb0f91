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
# Wine 10.0 (Debian 13) crashes at the start of a prefix where TMPDIR is
# set, to any folder.
unset WINEARCH TMPDIR
# Wine 10 writes an error to every process's standard error where
# XDG_RUNTIME_DIR is unset: each prefix has a private one of its own.
XDG_RUNTIME_DIR="$WINEPREFIX/.xdg-runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"
export WINEPREFIX XDG_RUNTIME_DIR WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "Wine: $(wine --version)" >&2
exec wine "$@"
