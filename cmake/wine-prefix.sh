#!/bin/sh
# wine-prefix.sh create|stop PREFIX [ARCH]: makes a fresh Wine prefix of
# ARCH (win32, the default, or win64; its registry written out to disk
# before returning), or stops its server.
set -e
action=$1
export WINEPREFIX="$2" WINEARCH="${3:-win32}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  create)
    [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"; }
    wineboot -i >/dev/null 2>&1
    wineserver -w
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
esac
