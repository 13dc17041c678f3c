#!/usr/bin/env bash
# The Debian package as a user gets it, unpacked into a throwaway root (nothing is installed
# on this machine): the files where they belong with their permissions, the control data,
# no firmware image, the collection when the tree has one, and the unpacked program started
# in tmux on the built-in emulated drives, showing its version and listing them.
#
# Usage: check-deb.sh <package.deb> <version>
# Prints one line per problem and "deb: ok" when there is none.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
export LC_ALL=C.UTF-8

deb=$(realpath "$1")
version=$2
short=${version%.*}
root=$(mktemp -d "${TMPDIR:-/tmp}/fwdeb.XXXXXX")
socket="fwdeb-$$"
T() { tmux -L "$socket" -f /dev/null "$@"; }
trap 'T kill-server >/dev/null 2>&1; rm -rf "$root"' EXIT
problems=0
fail() { echo "deb: $*" >&2; problems=1; }

dpkg-deb -x "$deb" "$root/fs" || { echo "deb: dpkg-deb cannot unpack $deb" >&2; exit 1; }
[ "$(dpkg-deb -f "$deb" Package)" = fwupgrade ] || fail "package name is not fwupgrade"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version), expected $version"
# grep reads all it is given (no -q): under pipefail a writer cut off by an early exit fails.
dpkg-deb -f "$deb" Depends | grep libncursesw >/dev/null || fail "no dependency on ncurses: $(dpkg-deb -f "$deb" Depends)"

# mode path [what the file must start with]
expect() {
  local mode=$1 path=$root/fs/$2 magic=${3:-}
  if [ ! -f "$path" ]; then fail "/$2 is missing"; return; fi
  [ "$(stat -c %a "$path")" = "$mode" ] || fail "/$2 has mode $(stat -c %a "$path"), expected $mode"
  local owner
  owner=$(dpkg-deb -c "$deb" | awk -v p="./$2" '$6 == p {print $2}')
  [ "$owner" = root/root ] || fail "/$2 is owned by $owner, not root/root"
  if [ -n "$magic" ] && [ "$(head -c "${#magic}" "$path")" != "$magic" ]; then fail "/$2 is not a $magic file"; fi
}
expect 755 usr/bin/fwupgrade $'\x7fELF'
expect 644 usr/share/fwupgrade/dl.avi RIFF
expect 644 usr/share/man/man1/fwupgrade.1.gz
expect 644 usr/lib/udev/rules.d/60-fwupgrade.rules
expect 644 usr/share/doc/fwupgrade/copyright
expect 644 usr/share/doc/fwupgrade/changelog.gz
# root's journal has its folder from the package (fwupgrade history reads it).
[ -d "$root/fs/var/lib/fwupgrade" ] || fail "/var/lib/fwupgrade is missing"
grep -q 'ATTRS{model}=="KMR-47000\*"' "$root/fs/usr/lib/udev/rules.d/60-fwupgrade.rules" 2>/dev/null ||
  fail "the udev rule does not match the KMR-47000"
# The sample image is a fixture of the emulated drives, never shipped as firmware.
found=$(find "$root/fs" -name '*.gbf')
[ -z "$found" ] || fail "an image is shipped: ${found#"$root"/fs}"

if [ -f ansible/galaxy.yml ]; then
  collection=$(find "$root/fs/usr/share/fwupgrade" -name '*.tar.gz' | head -n1)
  if [ -z "$collection" ]; then
    fail "the tree has ansible/ but the package has no collection in /usr/share/fwupgrade"
  elif ! tar -tzf "$collection" | grep -x 'MANIFEST.json' >/dev/null; then
    fail "${collection#"$root"/fs} is not a collection (no MANIFEST.json)"
  fi
  # Also unpacked where ansible-core finds it with no install step, and found there.
  installed=usr/share/ansible/collections/ansible_collections/vorn/tape
  for file in MANIFEST.json FILES.json LICENSE meta/runtime.yml plugins/modules/tape_firmware.py \
    plugins/modules/tape_drive_facts.py plugins/action/tape_firmware.py roles/firmware_rollout/tasks/main.yml \
    playbooks/rollout.yml; do
    expect 644 "$installed/$file"
  done
  if ! env -i PATH="$PATH" HOME="$root/home" ANSIBLE_COLLECTIONS_PATH="$root/fs/usr/share/ansible/collections" \
    ansible-doc vorn.tape.tape_firmware 2>&1 | grep '^> VORN.TAPE.TAPE_FIRMWARE' >/dev/null; then
    fail "ansible-doc does not find vorn.tape.tape_firmware in /usr/share/ansible/collections"
  fi
fi

# The unpacked program, started in a folder of its own on the built-in drives.
mkdir -p "$root/run"
T new-session -d -s program -x 100 -y 30 -c "$root/run" \
  "env ZURVAX_EMULATION=demo FWUPGRADE_REGISTRY=$root/run/none.reg $root/fs/usr/bin/fwupgrade; sleep 100000"
seen=0
for _ in $(seq 100); do
  screen=$(T capture-pane -p -t program 2>/dev/null)
  # The agreement first: its default button accepts.
  if [ "$seen" = 0 ] && grep -q 'Agree' <<<"$screen"; then T send-keys -t program Enter; seen=1; fi
  if grep -qF "Ver. $short" <<<"$screen" && grep -q 'KMR-47000' <<<"$screen"; then seen=2; break; fi
  sleep 0.1
done
[ "$seen" = 2 ] || fail "the unpacked program did not show \"Ver. $short\" and the emulated drives; its screen:
$screen"

[ "$problems" -eq 0 ] || exit 1
echo "deb: ok"
