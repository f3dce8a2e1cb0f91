#!/usr/bin/env bash
# Runs the test command, or another command, from a copy of this work tree
# inside a throwaway root of the other supported Debian release: Debian 13
# (trixie, Wine 10) on a Debian 12 machine, Debian 12 (bookworm, Wine 8) on
# a Debian 13 one.
#
#   scripts/other-release.sh                 # scripts/test.sh in the other release
#   scripts/other-release.sh scripts/demo.sh # any command, run from the copy's root
#   scripts/other-release.sh bash            # a shell there, to look around
#   scripts/other-release.sh --prepare       # only make the cached root
#   scripts/other-release.sh --bare [--release CODENAME] COMMAND...
#
# --bare makes a minimal root afresh, without the tools and without the
# cache, as a newcomer's fresh machine is; --release picks the release
# (bookworm or trixie) in place of the other one.
# The root is made with debootstrap from Debian's archive as this machine
# reaches it (the same mirrors and apt settings), its tools installed by
# scripts/install-deps.sh, and kept as a tarball in the cache folder
# (RF_ROOT_CACHE, default ~/.cache/remove_filter), keyed by the release,
# the mirrors and the install list: a changed list makes it anew. Each run
# unpacks it afresh and removes it afterwards. The command runs in a private
# mount namespace, so nothing stays mounted when it ends or is killed.
# Exits with the command's status; with 2 when the root could not be made
# (a download failed: never a pass).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD

if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=RF_ROOT_CACHE,CI "$0" "$@"
fi
bare=0
prepare=0
release=
while [ $# -gt 0 ]; do
  case "$1" in
    --bare) bare=1; shift ;;
    --prepare) prepare=1; shift ;;
    --release) release=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || set -- scripts/test.sh

RF_RETRY_COMMAND="scripts/other-release.sh" scripts/install-deps.sh root ||
  { echo "other-release: the tools that make a root could not be installed"; exit 2; }

this=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
case "$this" in
  bookworm) other=trixie ;;
  trixie) other=bookworm ;;
  *) echo "other-release: this machine runs '$this', not Debian 12 or 13"; exit 2 ;;
esac
other=${release:-$other}

# The archive as this machine reaches it: the URI of the sources that serve
# this release, and of those that serve its security suite.
sources_uri() {
  local suite=$1
  {
    { cat /etc/apt/sources.list.d/*.sources 2>/dev/null || true; } | awk -v s="$suite" '
      /^URIs:/ { uri = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == s) hit = 1 }
      /^$/ { if (hit) print uri; hit = 0; uri = "" }
      END { if (hit) print uri }'
    { cat /etc/apt/sources.list 2>/dev/null || true; } | awk -v s="$suite" '
      $1 == "deb" { i = 2; if ($2 ~ /^\[/) while ($i !~ /\]$/) i++; if ($2 ~ /^\[/) i++
                    if ($(i + 1) == s) print $i }'
  } | head -n 1 || true
}
mirror=$(sources_uri "$this")
security=$(sources_uri "$this-security")
[ -n "$mirror" ] || { echo "other-release: no apt source serves $this on this machine"; exit 2; }
[ -n "$security" ] || security=${mirror%/debian}/debian-security
# The machine's own settings for reaching the archive (no apt.conf.d file
# of a package, only those that say how to fetch).
apt_settings=$(grep -l '^Acquire::' /etc/apt/apt.conf.d/* 2>/dev/null || true)

key=$( {
  echo "root format 1 $other $mirror $security"
  scripts/install-deps.sh --list all
  for f in $apt_settings; do echo "$f"; cat "$f"; done
} | sha256sum | cut -c1-16)
cache=${RF_ROOT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/remove_filter}
tarball=$cache/$other-$key.tar.zst

work=$(mktemp -d "${TMPDIR:-/var/tmp}/rf-$other.XXXXXX")
# Nothing is mounted outside the namespace below, so this never reaches
# below the root.
trap 'rm -rf --one-file-system "$work"' EXIT
root=$work/root

# enter ROOT COMMAND...: runs COMMAND in ROOT, in a mount namespace of its
# own with /dev, /proc, /sys and a fresh /tmp, with a clean environment.
enter() {
  unshare --mount --propagation private -- /bin/bash -euc '
    r=$1; shift
    mount --rbind /dev "$r/dev"
    mount -t proc proc "$r/proc"
    mount --rbind /sys "$r/sys"
    mount -t tmpfs tmpfs "$r/tmp"
    cp /etc/resolv.conf "$r/etc/resolv.conf"
    exec chroot "$r" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin \
      HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI:-}" "$@"' bash "$@"
}

make_root() {
  echo "other-release: making a $other root from $mirror"
  if ! debootstrap --variant=minbase "$other" "$root" "$mirror" >"$work/debootstrap.log" 2>&1; then
    tail -n 5 "$work/debootstrap.log"
    echo "other-release: the $other root could not be made: a download failed, not the project."
    echo "other-release: run again later: scripts/other-release.sh"
    exit 2
  fi
  cat >"$root/etc/apt/sources.list.d/debian.sources" <<EOF
Types: deb
URIs: $mirror
Suites: $other $other-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: $security
Suites: $other-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  rm -f "$root/etc/apt/sources.list"
  for f in $apt_settings; do cp "$f" "$root/etc/apt/apt.conf.d/"; done
  [ "$bare" -eq 0 ] || return 0
  cp scripts/install-deps.sh "$root/tmp-install-deps.sh"
  if ! enter "$root" /bin/bash -c \
    'RF_RETRY_COMMAND=scripts/other-release.sh /tmp-install-deps.sh all && apt-get clean'; then
    echo "other-release: the $other root's tools could not be installed: not a pass."
    exit 2
  fi
  rm -f "$root/tmp-install-deps.sh"
  mkdir -p "$cache"
  rm -f "$cache/$other-"*.tar.zst
  tar -C "$root" --numeric-owner -cf - . | zstd -q -T0 -3 -o "$tarball.part"
  mv "$tarball.part" "$tarball"
}

if [ "$prepare" -eq 1 ]; then
  [ -f "$tarball" ] || make_root
  exit 0
fi
if [ -f "$tarball" ] && [ "$bare" -eq 0 ]; then
  mkdir "$root"
  zstd -q -dc "$tarball" | tar -C "$root" --numeric-owner -xf -
else
  make_root
fi

# A copy of the work tree as it stands, without its builds.
mkdir "$root/src"
python3 scripts/work_tree.py "$src" "$root/src"

echo "=== $other: $* (in a throwaway root)"
status=0
enter "$root" /bin/bash -c 'cd /src && exec "$@"' bash "$@" || status=$?
echo "=== $other: $* exited with $status"
exit $status
