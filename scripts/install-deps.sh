#!/usr/bin/env bash
# Installs, from Debian's own archive only, what is asked for and the machine lacks. Safe to
# run again: packages already present are left alone.
#   install-deps.sh [run|test]
#     run   what the Linux program needs to build and start (scripts/run.sh)
#     test  everything every step of scripts/test.sh needs (the default)
set -euo pipefail

need_root() { if [ "$(id -u)" -ne 0 ]; then echo "sudo"; fi; }
SUDO=$(need_root)

profile=${1:-test}
case $profile in
run | test) ;;
*) echo "usage: install-deps.sh [run|test]" >&2; exit 2 ;;
esac

# The Linux program alone: configured without its tests (preset linux-program), the sample
# files made by Python scripts of ours.
packages=(
  cmake ninja-build g++ pkg-config python3 nlohmann-json3-dev libncurses-dev
)
[ "$profile" = run ] || packages+=(
  libgtest-dev libgmock-dev googletest libbenchmark-dev tmux
  # Every build compiles through it where it is installed (cmake/Ccache.cmake).
  ccache
  g++-mingw-w64-i686-posix mingw-w64-i686-dev
  wine wine32:i386 wine64 xvfb imagemagick
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  qemu-system-x86 busybox-static cpio linux-libc-dev sg3-utils
  clang libclang-rt-14-dev
  # The static step (scripts/static-analysis.sh, scripts/check-format.sh).
  git clang-tidy clang-format cppcheck
  # The udev rule's test in qemu runs Debian's udevd.
  udev
  # scripts/package.sh and the package step: the Debian package, its checks, the Windows
  # installer, and the Ansible collection where the tree has one.
  build-essential dpkg-dev debhelper lintian man-db groff-base nsis ansible-core
  # The ansible step (tests/ansible/run.sh) checks the program's --json documents against
  # docs/fwupgrade-result.schema.json, lints the collection and runs validate-modules
  # (offline, with voluptuous), and reaches its test hosts over SSH (sshd on loopback
  # addresses, started and stopped by the test itself, which waits for them with iproute2's
  # ss) with become through sudo.
  python3-jsonschema ansible-lint python3-voluptuous openssh-server openssh-client sudo iproute2
  # scripts/test-in-minimal-root.sh (not a step: the check of this list on a fresh root).
  debootstrap
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

# wine32 lives in the i386 architecture, which a fresh machine does not have enabled.
if [[ " ${missing[*]} " == *:i386\ * ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# 32-bit Wine on its own, after the rest: its i386 libraries must match the amd64 ones
# version for version, which a mirror part-way through an update cannot always give, and the
# test command runs the Windows suites from the 64-bit build where 32-bit Wine does not run.
optional=() required=()
for p in "${missing[@]}"; do
  if [ "$p" = wine32:i386 ]; then optional+=("$p"); else required+=("$p"); fi
done
# A mirror being synced answers with index files of the wrong size for a while: what is
# required is tried again rather than failing the whole run on it; what is optional once.
tries=1
[ ${#required[@]} -eq 0 ] || tries=3
retry() {
  local attempt
  for attempt in $(seq "$tries"); do
    "$@" && return 0
    [ "$attempt" -lt "$tries" ] && { echo "install-deps: '$*' failed; again in $((attempt * 20)) s" >&2; sleep $((attempt * 20)); }
  done
  return 1
}
# An index that still fails is left out (apt keeps the ones it has): the install below says
# whether what it needs is there.
retry $SUDO apt-get update -qq ||
  echo "install-deps: going on with the package indexes apt has" >&2
[ ${#required[@]} -eq 0 ] || retry $SUDO apt-get install -y -qq --no-install-recommends "${required[@]}"
if [ ${#optional[@]} -gt 0 ] && ! $SUDO apt-get install -y -qq --no-install-recommends "${optional[@]}"; then
  echo "install-deps: ${optional[*]} could not be installed: the Windows suites will run from the 64-bit build" >&2
fi
