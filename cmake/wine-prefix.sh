#!/bin/sh
# wine-prefix.sh create|stop PREFIX: makes a fresh 32-bit Wine prefix (its
# registry written out to disk before returning), or stops its server.
set -e
action=$1
export WINEPREFIX="$2" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
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
