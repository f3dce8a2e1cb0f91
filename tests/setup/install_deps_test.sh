#!/usr/bin/env bash
# The set-up's failure paths, with stand-ins for the package tools on the
# PATH: nothing is installed for real. Each case gives the stand-in
# apt-get's behaviour, the group to install and what must follow.
#   tests/setup/install_deps_test.sh scripts/install-deps.sh
set -uo pipefail
script=$(realpath "$1")
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# dpkg-query -W -f=... PACKAGE: installed when the state file names it.
cat >"$work/bin/dpkg-query" <<'STUB'
#!/bin/sh
eval "p=\${$#}"
grep -qxF "$p" "$RF_STATE" && { echo "install ok installed"; exit 0; }
echo "dpkg-query: no packages found matching $p" >&2; exit 1
STUB
# dpkg: no foreign architecture until one is added.
cat >"$work/bin/dpkg" <<'STUB'
#!/bin/sh
echo "dpkg $*" >>"$RF_CALLS"
STUB
# apt-get: every update fails on one index, as on a day a mirror syncs;
# an install (or its simulation, -s) succeeds only with -t (mode
# "needs-t"), only with -t when it holds an i386 package ("i386-needs-t",
# as on the day the i386 index of the update suite is missing) or never
# ("refuses").
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/sh
echo "apt-get $*" >>"$RF_CALLS"
case " $* " in
  *" update "*) echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size"; exit 100 ;;
esac
case "$RF_APT:$*" in
  needs-t:*" -t "* | i386-needs-t:*" -t "*) ;;
  i386-needs-t:*:i386*) echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
  i386-needs-t:*) ;;
  *) echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
esac
case " $* " in *" -s "*) exit 0 ;; esac
skip=1
for a in "$@"; do
  [ "$skip" = t ] && { skip=0; continue; }
  case "$a" in install) skip=0 ;; -t) skip=t ;; -*) ;; *) [ "$skip" = 0 ] && echo "$a" >>"$RF_STATE" ;; esac
done
STUB
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

failures=0
# case NAME APT-MODE GROUP INSTALLED-GROUP EXPECTED-STATUS EXPECTED-CALLS OUTPUT-LINES...
# INSTALLED-GROUP is what the machine has before; every output line must
# appear in what the set-up printed, in order, and the calls exactly so.
case_() {
  local name=$1 mode=$2 group=$3 have=$4 want_status=$5 want_calls=$6
  shift 6
  : >"$work/calls"
  if [ "$have" = none ]; then : >"$work/state"; else bash "$script" --list "$have" >"$work/state"; fi
  PATH="$work/bin:$PATH" RF_APT=$mode RF_STATE="$work/state" RF_CALLS="$work/calls" \
    RF_RETRY_COMMAND="scripts/test.sh" bash "$script" "$group" >"$work/out" 2>&1
  local status=$? calls
  calls=$(sed -e 's/-o Acquire::Retries=3 -o DPkg::Lock::Timeout=300 //' "$work/calls" | tr '\n' ';')
  local ok=1 line
  [ "$status" = "$want_status" ] || ok=0
  [ "$calls" = "$want_calls" ] || ok=0
  for line in "$@"; do grep -qF -- "$line" "$work/out" || ok=0; done
  if [ $ok = 1 ]; then
    echo "ok   $name"
  else
    failures=$((failures + 1))
    echo "FAIL $name: status $status (want $want_status)"
    echo "  calls: $calls"
    echo "  want:  $want_calls"
    sed 's/^/  | /' "$work/out"
  fi
}

wine="wine wine32:i386 wine64"
case_ "every tool there: no package client runs" refuses all all 0 ""
case_ "a failed index, an install that needs the release's own suite" needs-t wine build 0 \
  "dpkg --print-foreign-architectures;dpkg --add-architecture i386;apt-get update;apt-get install -y -q $wine;apt-get install -y -q -t $codename $wine;" \
  "a package index failed to download" "trying once more with $codename's own suite preferred (-t $codename)"
build=$(bash "$script" --list build | tr '\n' ' ')
case_ "build tools that would bar Wine's i386 half: the release's own suite at once" i386-needs-t build none 0 \
  "dpkg --print-foreign-architectures;dpkg --add-architecture i386;apt-get update;apt-get install -s $build$wine;apt-get install -y -q -t $codename ${build% };" \
  "could not be installed together" "installing with $codename's own suite preferred (-t $codename)"
case_ "every install refused: the packages, the cause and the command again" refuses wine build 3 \
  "dpkg --print-foreign-architectures;dpkg --add-architecture i386;apt-get update;apt-get install -y -q $wine;apt-get install -y -q -t $codename $wine;" \
  "could not install: $wine" "a package download failed, not the project" "run again later: scripts/test.sh"
exit $((failures > 0))
