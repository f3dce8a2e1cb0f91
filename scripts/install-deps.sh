#!/usr/bin/env bash
# Installs whatever of one group of tools is missing (Debian, as root or
# through sudo), and runs no package client at all when nothing is missing.
#
#   scripts/install-deps.sh [GROUP] [PACKAGE...]
#
# GROUP is "build" (the host builds, the fuzzer with the release's clang,
# and the Windows cross-build with the sample filter's installers, which
# makensis and wixl build), "wine"
# (Wine with its 32-bit and 64-bit parts, for the Windows tests), "root"
# (what makes another release's root), "all" (build and wine; the default)
# or "--list GROUP", which prints the group's packages and installs nothing.
# Further PACKAGEs are installed with the group.
#
# A package index that fails to download does not stop the install: the
# other indexes may hold everything. When the install fails, it is tried
# once more with the running release's own suite preferred (-t CODENAME),
# which is consistent across architectures while an update suite's index
# for one of them is missing; so is a group at once when the tools of all
# groups could not be installed together (apt-get's simulation), since what
# it installs now would bar a later group. When that fails too, it names
# the packages, says that a download failed, and exits with 3.
set -uo pipefail

build=(cmake make g++ googletest libbenchmark-dev clang-format g++-mingw-w64-i686-posix
       binutils-mingw-w64-i686 python3 git osslsigncode openssl clang libclang-rt-dev nsis wixl)
wine=(wine wine32:i386 wine64)
root=(debootstrap zstd python3)

list_only=0
if [ "${1:-}" = --list ]; then
  list_only=1
  shift
fi
group=all
case "${1:-}" in
  build | wine | root | all)
    group=$1
    shift
    ;;
esac
case "$group" in
  build) packages=("${build[@]}") ;;
  wine) packages=("${wine[@]}") ;;
  root) packages=("${root[@]}") ;;
  all) packages=("${build[@]}" "${wine[@]}") ;;
esac
packages+=("$@")

if [ "$list_only" -eq 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

# missing_packages PACKAGE...: those that dpkg does not have installed.
missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

mapfile -t missing < <(missing_packages "${packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0
# What this group installs now must leave the later ones installable: the
# amd64 library that a build tool brings from an update suite whose i386
# index is missing would leave Wine's i386 half of it without a match.
mapfile -t together < <({
  printf '%s\n' "${missing[@]}"
  missing_packages "${build[@]}" "${wine[@]}" | grep -vxF -f <(printf '%s\n' "${missing[@]}")
})

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
log=$(mktemp /tmp/remove_filter-install.XXXXXX.log)
# apt ARGS...: apt-get with apt's own retries, its output kept in the log;
# reason: the first error line of the last call.
apt() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o Acquire::Retries=3 -o DPkg::Lock::Timeout=300 "$@" >"$log.last" 2>&1
  local rc=$?
  cat "$log.last" >>"$log"
  return $rc
}
reason() { grep -m1 '^E:' "$log.last" | cut -c4-; }

if printf '%s\n' "${together[@]}" | grep -q ':i386$' &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
if ! apt update; then
  echo "install-deps: a package index failed to download ($(reason)); trying the install with the others"
fi
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [ ${#together[@]} -gt ${#missing[@]} ] && ! apt install -s "${together[@]}"; then
  echo "install-deps: the tools of every group could not be installed together ($(reason)); installing with $codename's own suite preferred (-t $codename)"
  [ -n "$codename" ] && apt install -y -q -t "$codename" "${missing[@]}"
elif ! apt install -y -q "${missing[@]}"; then
  echo "install-deps: the install failed ($(reason)); trying once more with $codename's own suite preferred (-t $codename)"
  [ -n "$codename" ] && apt install -y -q -t "$codename" "${missing[@]}"
fi

mapfile -t still < <(missing_packages "${packages[@]}")
if [ ${#still[@]} -ne 0 ]; then
  echo "install-deps: could not install: ${still[*]}"
  echo "install-deps: a package download failed, not the project (apt-get's log: $log)"
  echo "install-deps: run again later: ${RF_RETRY_COMMAND:-$0 $group}"
  rm -f "$log.last"
  exit 3
fi
rm -f "$log" "$log.last"
