#!/usr/bin/env bash
# Boots Debian's own kernel in qemu with a small initramfs holding busybox, the SCSI modules,
# scsi_debug posing as a KMR-47000 and our statically linked test program, runs the test
# program's scenarios there and passes only when every expected "KTEST PASS" line came out
# on the serial console (qemu's exit status says nothing about the tests).
#
# Usage: run-vm.sh <kernel test program> <work folder>
# The kernel package is downloaded once (apt-get download, never installed) into
# <work folder>/kernel-cache. Needs qemu-system-x86, busybox-static and cpio.
# FWUPGRADE_KERNEL_VM_TIMEOUT: seconds one VM run may take (default 240).
set -euo pipefail

program=$(realpath "$1")
work=$(realpath -m "$2")
cache=$work/kernel-cache
vm_timeout=${FWUPGRADE_KERNEL_VM_TIMEOUT:-240}

# Module load order: every module after those it needs.
modules=(scsi_common scsi_mod sg crct10dif_common crct10dif_generic crc-t10dif scsi_debug)

# What the test program must report; any "KTEST FAIL" fails the test as well.
expected=(
  sysfs-address open scan-lists-drive unit-attention-absorbed upgrade-enabled
  first-chunk-written read-buffer-refused sense-read no-commit-after-failed-verify
  drive-polled failure-outcome script-complete
  commit-accepted commit-unit-attention descriptor-sense residual-short-transfer
  revision-read-afresh
  permission-warning warning-before-scan denied-commands
  member-opens member-writes
  read-only-opens read-only-write-denied
  claim-holds-tape release-frees-tape claim-in-use in-use-drive-still-answers
)

fail() { echo "kernel test: $*" >&2; exit 1; }

for tool in qemu-system-x86_64 busybox cpio gzip dpkg-deb apt-get apt-cache timeout; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
[ -x "$program" ] || fail "no test program at $program"
file_type=$(od -An -c -N4 "$program" | tr -d ' ')
[ "$file_type" = '177ELF' ] || fail "$program is not an ELF program"

. "$(dirname "$0")/../vm/kernel-initramfs.sh"
# st is loaded last, by the init script, once the scenarios without it have run.
prepare_kernel_initramfs "kernel test" "$cache" "$work" "${modules[@]}" st || exit 1
# Without its debug information the program packs and unpacks several times faster.
strip -o "$root/ktest" "$program" 2>/dev/null || cp "$program" "$root/ktest"
printf 'root:x:0:0:root:/:/bin/sh\nnobody:x:65534:65534:nobody:/tmp:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\ndisk:x:6:\nnogroup:x:65534:\n' >"$root/etc/group"
cat >"$root/init" <<EOF
$(init_start_lines KTEST)
$(scsi_debug_drive_lines KTEST)
# As a distribution sets SCSI generic nodes up: owned by root and the disk group.
chown 0:6 /dev/sg0
chmod 0660 /dev/sg0
cd /tmp
/ktest upgrade
/ktest commit
/ktest no-access
/ktest group-member
chmod 0640 /dev/sg0
/ktest read-only
# The tape driver attaches to the drive: claims then hold its node.
insmod /lib/modules/st.ko || echo "KTEST FAIL insmod-st: insmod failed"
tries=0
while [ ! -c /dev/nst0 ] && [ \$tries -lt 100 ]; do sleep 0.1; tries=\$((tries + 1)); done
[ -c /dev/nst0 ] || echo "KTEST FAIL nst0: /dev/nst0 never appeared"
/ktest claim
/ktest hold-tape &
holder=\$!
tries=0
while [ ! -e /tmp/held ] && [ \$tries -lt 100 ]; do sleep 0.1; tries=\$((tries + 1)); done
/ktest claim-busy
kill \$holder
echo "KTEST DONE"
poweroff -f
EOF
chmod 0755 "$root/init" "$root/ktest" "$root/bin/busybox"
boot_and_check "kernel test" KTEST "${expected[@]}"
