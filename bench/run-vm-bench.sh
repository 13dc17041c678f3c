#!/usr/bin/env bash
# Boots Debian's own kernel in qemu, with scsi_debug posing as a KMR-47000 on /dev/sg0, and
# times 8192-byte WRITE BUFFER commands there through our SG_IO transport and through
# sg3_utils' sg_write_buffer (bench/SgBench.cpp). Prints one line of figures:
#   sg_io WRITE BUFFER 8K: ours <n> ns, sg_write_buffer <n> ns, ratio <r> (target <= 1.0)
# and exits non-zero when the run did not produce them.
#
# Usage: run-vm-bench.sh <sg bench program> <work folder>
# Needs what the kernel test needs, and sg3-utils (scripts/install-deps.sh installs both).
# FWUPGRADE_KERNEL_VM_TIMEOUT: seconds the VM run may take (default 240).
set -euo pipefail

program=$(realpath "$1")
work=$(realpath -m "$2")
vm_timeout=${FWUPGRADE_KERNEL_VM_TIMEOUT:-240}
modules=(scsi_common scsi_mod sg crct10dif_common crct10dif_generic crc-t10dif scsi_debug)

fail() { echo "sg bench: $*" >&2; exit 1; }
for tool in qemu-system-x86_64 busybox cpio gzip dpkg-deb apt-get apt-cache timeout ldd sg_write_buffer; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
[ -x "$program" ] || fail "no benchmark program at $program"

. "$(dirname "$0")/../tests/vm/kernel-initramfs.sh"
prepare_kernel_initramfs "sg bench" "$work" "${modules[@]}" >&2 || exit 1
strip -o "$root/sg-bench" "$program" 2>/dev/null || cp "$program" "$root/sg-bench"

# sg_write_buffer as Debian ships it: the program with its shared libraries and loader, each
# where the program looks for it.
tool=$(command -v sg_write_buffer)
mkdir -p "$root/usr/bin"
cp "$tool" "$root/usr/bin/sg_write_buffer"
for library in $(ldd "$tool" | grep -o '/[^ ]*'); do
  mkdir -p "$root$(dirname "$library")"
  cp -L "$library" "$root$library"
done

cat >"$root/init" <<EOF
$(init_start_lines SGBENCH)
# delay=0: answered at once, not after the jiffy scsi_debug waits by default, so that the
# commands' own cost is what is timed.
$(scsi_debug_drive_lines SGBENCH delay=0)
/sg-bench /usr/bin/sg_write_buffer
poweroff -f
EOF
chmod 0755 "$root/init" "$root/sg-bench" "$root/bin/busybox"
boot_and_check "sg bench" SGBENCH files ready commands figures >&2
figures=$(sed -n 's/^SGBENCH FIGURES //p' "$work/serial.log.txt")
[ -n "$figures" ] || fail "the VM printed no figures"
ours=$(sed -n 's/.*ours_ns=\([0-9]*\).*/\1/p' <<<"$figures")
theirs=$(sed -n 's/.*sg3_ns=\([0-9]*\).*/\1/p' <<<"$figures")
ratio=$(sed -n 's/.*ratio=\([0-9.]*\).*/\1/p' <<<"$figures")
echo "sg_io WRITE BUFFER 8K: ours $ours ns, sg_write_buffer $theirs ns, ratio $ratio (target <= 1.0)"
