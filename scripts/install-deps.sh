#!/usr/bin/env bash
# Installs whatever of the build and test tools is missing (Debian, as root
# or through sudo). Does nothing when everything is already there.
set -euo pipefail

packages=(cmake make g++ googletest libbenchmark-dev clang-format g++-mingw-w64-i686-posix
          binutils-mingw-w64-i686 wine wine32:i386 wine64 python3 "$@")
# Signing the release program (Authenticode) and the certificate its test makes.
packages+=(osslsigncode openssl)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
