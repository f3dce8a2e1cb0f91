# Sourced by wine-prefix.sh and wine-run.sh once WINEPREFIX is set: the
# environment every Wine process of the build gets.
# Wine 10.0 (Debian 13) crashes at the start of a prefix where TMPDIR is
# set, to any folder.
unset WINEARCH TMPDIR
# Wine 10 writes an error to every process's standard error where
# XDG_RUNTIME_DIR is unset: each prefix has a private one of its own.
XDG_RUNTIME_DIR="$WINEPREFIX/.xdg-runtime"
export WINEPREFIX XDG_RUNTIME_DIR WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
