#!/bin/sh
# wine-prefix.sh create|stop PREFIX [ARCH]: makes a fresh Wine prefix of
# ARCH (win32, the default, or win64; its registry written out to disk
# before returning) and names the Wine release that made it, or stops its
# server.
set -e
action=$1
WINEPREFIX=$2
. "$(dirname "$0")/wine-env.sh"
export WINEARCH="${3:-win32}"
case "$action" in
  create)
    [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"; }
    mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"
    echo "Wine: $(wine --version), $WINEARCH prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
esac
