#!/usr/bin/env bash
# Checks the README's promise of a fresh Debian 12: makes a minimal Debian 12 root
# (debootstrap --variant=minbase bookworm), clones this repository into it (what is
# committed, as CI sees it) and runs `bash .ci/run` there, which must install everything it
# needs through scripts/install-deps.sh and pass. Not part of the test command: it takes
# about as long as the test command plus the installs. Run it after changing dependencies.
#
# With --run it checks the newcomer's promise instead: `bash scripts/run.sh` on a terminal
# (script(1)'s), timed from its start to the program's first screen, in a root of its own
# (installing the test command's packages there would hide a missing `run` package).
#
# Usage (as root): bash scripts/test-in-minimal-root.sh [--run] [root folder]
#   The root (default /var/tmp/fwupgrade-minimal-root, or ...-run with --run; outside the
#   tree: while the script runs it holds bind mounts of /dev, which a careless rm -rf must
#   never reach) is made once and reused; delete it to start over.
# Environment: FWUPGRADE_MIRROR  the Debian mirror (default: the one this machine's apt uses)
#              FWUPGRADE_STEPS   passed on: only these steps of the test command run
# The run's output goes to the terminal and to <root folder>.log.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

[ "$(id -u)" -eq 0 ] || { echo "run as root: debootstrap and chroot need it" >&2; exit 1; }
repo=$(pwd)
mode=test
if [ "${1:-}" = --run ]; then
  mode=run
  shift
fi
default_root=/var/tmp/fwupgrade-minimal-root
[ $mode = test ] || default_root+=-run
root=$(realpath -m "${1:-$default_root}")
log=$root.log

mirror=${FWUPGRADE_MIRROR:-$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
  /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -E '^(deb|URIs:) ' |
  grep -oE 'https?://[^ ]+/debian/?$|https?://[^ ]+/debian/? ' | tr -d ' ' | head -n1 || true)}
mirror=${mirror:-http://deb.debian.org/debian}
security=${mirror%/debian*}/debian-security

command -v debootstrap >/dev/null || bash scripts/install-deps.sh

if grep -q " $root/" /proc/mounts; then
  echo "$root still has file systems mounted (an earlier run killed?): unmount them first" >&2
  exit 1
fi
if [ ! -f "$root/.fw-bootstrapped" ]; then
  rm -rf --one-file-system "$root"
  echo "minimal root: debootstrap --variant=minbase bookworm from $mirror"
  debootstrap --variant=minbase bookworm "$root" "$mirror"
  printf 'deb %s bookworm main\ndeb %s bookworm-updates main\ndeb %s bookworm-security main\n' \
    "$mirror" "$mirror" "$security" >"$root/etc/apt/sources.list"
  touch "$root/.fw-bootstrapped"
fi
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'exit 143' INT TERM
mount_in() { mount "$@" && mounted+=("${*: -1}"); }
mount_in -t proc proc "$root/proc"
mount_in -t sysfs sys "$root/sys"
mount_in --bind /dev "$root/dev"
mount_in -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
mount_in -t tmpfs tmpfs "$root/dev/shm"
mount_in -t tmpfs tmpfs "$root/tmp"

rm -rf --one-file-system "$root/src/fwupgrade"
mkdir -p "$root/src"
git clone -q --no-hardlinks "$repo" "$root/src/fwupgrade"
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root CI=true \
    ${FWUPGRADE_STEPS:+FWUPGRADE_STEPS="$FWUPGRADE_STEPS"} \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}
if [ $mode = test ]; then
  echo "minimal root: bash .ci/run in $root/src/fwupgrade (log: $log)"
  in_root TERM="${TERM:-dumb}" bash -c 'cd /src/fwupgrade && bash .ci/run' </dev/null 2>&1 | tee "$log"
  exit "${PIPESTATUS[0]}"
fi

# The first screen is the agreement, drawn on an 80x24 terminal.
echo "minimal root: bash scripts/run.sh in $root/src/fwupgrade (log: $log)"
in_root TERM=xterm COLUMNS=80 LINES=24 bash -c '
  cd /src/fwupgrade
  start=$(date +%s)
  script -qfec "bash scripts/run.sh" /tmp/run.typescript </dev/null >/dev/null 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null && ! grep -aq "User Agreement" /tmp/run.typescript 2>/dev/null; do
    [ $(($(date +%s) - start)) -lt 900 ] || break
    sleep 1
  done
  seconds=$(($(date +%s) - start))
  kill "$pid" 2>/dev/null
  sed "s/\x1b\[[0-9;?]*[a-zA-Z]//g" /tmp/run.typescript | tail -c 20000
  if grep -aq "User Agreement" /tmp/run.typescript; then
    echo "minimal root: the first screen after ${seconds}s"
  else
    echo "minimal root: no first screen after ${seconds}s"
    exit 1
  fi' 2>&1 | tee "$log"
exit "${PIPESTATUS[0]}"
