#!/bin/sh
# wine-prefix.sh create|stop PREFIX [ARCH]: makes a fresh Wine prefix of
# ARCH (win32, the default, or win64; its registry written out to disk
# before returning) and names the Wine release that made it, or stops its
# server.
set -e
action=$1
# XDG_RUNTIME_DIR: a private folder in the prefix (as wine-run.sh sets it),
# without which Wine 10 writes an error to every process's standard error.
export WINEPREFIX="$2" WINEARCH="${3:-win32}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  XDG_RUNTIME_DIR="$2/.xdg-runtime"
# Wine 10.0 (Debian 13) crashes at the start of a prefix where TMPDIR is
# set, to any folder.
unset TMPDIR
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
