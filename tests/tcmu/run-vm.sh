#!/usr/bin/env bash
# Boots Debian's own kernel in qemu with an initramfs holding busybox, the target modules
# (target_core_user, tcm_loop), fwupgrade-tcmu and our statically linked test program. For
# each case the VM makes a TCMU backstore, starts the handler on its uio device, then
# exports the backstore through tcm_loop (the kernel scans it at once, so the handler must
# already run) and runs the program on the /dev/sg node it gets; sg3_utils' sg_vpd, a client
# of its own, reads the drive's serial number there. Passes only when every expected
# "TCMU PASS" line came out on the serial console.
#
# Usage: run-vm.sh <fwupgrade-tcmu> <test program> <work folder>
# The kernel package is downloaded once (apt-get download, never installed) into the user's
# cache (kernel_cache_dir in tests/vm/kernel-initramfs.sh). Needs qemu-system-x86,
# busybox-static, cpio, sg3-utils.
# FWUPGRADE_TCMU_VM_TIMEOUT: seconds the VM may take (default 150).
set -euo pipefail

handler=$(realpath "$1")
program=$(realpath "$2")
work=$(realpath -m "$3")
vm_timeout=${FWUPGRADE_TCMU_VM_TIMEOUT:-150}

# Module load order: every module after those it needs.
modules=(scsi_common scsi_mod sg crct10dif_common crct10dif_generic crc-t10dif
         configfs target_core_mod uio target_core_user tcm_loop)

common=(open listed-at-kernel-address power-on-attention-absorbed upgrade-offered script-complete)
expected=(
  "${common[@]/#/complete/}" complete/every-chunk-written-and-verified complete/commit-accepted
  complete/polled-through-activation complete/success-outcome complete/rescan-shows-new-revision
  complete/quick complete/image-received complete/serial-read complete/sg-vpd-serial
  complete/firmware-kept
  "${common[@]/#/corrupt/}" corrupt/stopped-at-mismatch corrupt/mismatch-reported corrupt/no-commit
  corrupt/drive-polled corrupt/failure-outcome corrupt/no-image-taken
  "${common[@]/#/rejected/}" rejected/every-chunk-written-and-verified rejected/commit-refused
  rejected/refusal-reported rejected/drive-polled rejected/failure-outcome
  "${common[@]/#/stall/}" stall/time-out-reported-as-status stall/time-out-shown stall/no-commit
  stall/drive-polled stall/failure-outcome stall/nothing-hangs stall/no-image-taken
)

fail() { echo "tcmu test: $*" >&2; exit 1; }

for tool in qemu-system-x86_64 busybox cpio gzip dpkg-deb apt-get apt-cache timeout ldd sg_vpd; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
for binary in "$handler" "$program"; do
  [ -x "$binary" ] || fail "no program at $binary"
done

. "$(dirname "$0")/../vm/kernel-initramfs.sh"
prepare_kernel_initramfs "tcmu test" "$work" "${modules[@]}" || exit 1
cp "$handler" "$root/fwupgrade-tcmu"
cp "$program" "$root/tcmu-test"
# sg_vpd as Debian ships it: the program with its shared libraries and loader, each where the
# program looks for it.
tool=$(command -v sg_vpd)
mkdir -p "$root/usr/bin"
cp "$tool" "$root/usr/bin/sg_vpd"
for library in $(ldd "$tool" | grep -o '/[^ ]*'); do
  mkdir -p "$root$(dirname "$library")"
  cp -L "$library" "$root$library"
done
printf 'root:x:0:0:root:/:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\n' >"$root/etc/group"
cat >"$root/init" <<EOF
$(init_start_lines TCMU)
for m in ${modules[*]}; do
  insmod /lib/modules/\$m.ko || echo "TCMU FAIL insmod-\$m: insmod failed"
done
mount -t configfs none /sys/kernel/config 2>/dev/null
target=/sys/kernel/config/target
cd /tmp
n=0

# waitfor <seconds> <test...>: polls the test every 0.1 s.
waitfor() {
  tries=\$((\$1 * 10)); shift
  while ! "\$@"; do
    tries=\$((tries - 1))
    [ \$tries -gt 0 ] || return 1
    sleep 0.1
  done
}
any_sg() { ls /dev/sg* >/dev/null 2>&1; }
no_sg() { ! any_sg; }

# run_case <case> <command time-out or -> [handler options...]
run_case() {
  name=\$1; timeout=\$2; shift 2
  n=\$((n + 1))
  no_sg || echo "TCMU FAIL \$name/clean-start: \$(ls /dev/sg*) left from an earlier case"
  core=\$target/core/user_\$n/kmr\$n
  mkdir -p \$core
  echo -n "dev_config=fwupgrade/kmr\$n,dev_size=1048576,max_data_area_mb=32" >\$core/control
  [ "\$timeout" = - ] || echo \$timeout >\$core/attrib/cmd_time_out
  echo 1 >\$core/enable
  uio=
  for u in /sys/class/uio/uio*; do
    case \$(cat \$u/name) in */kmr\$n/*) uio=\${u##*/} ;; esac
  done
  [ -n "\$uio" ] || echo "TCMU FAIL \$name/uio: no uio device for kmr\$n"
  rm -rf /tmp/record /tmp/ready
  mkdir -p /tmp/record
  # The complete case's drive comes from an emulation file that keeps its state.
  emulation=
  if [ \$name = complete ]; then
    echo '{"state_file": "kept.json", "devices": [ {} ]}' >/tmp/kmr.json
    emulation=/tmp/kmr.json
  fi
  ZURVAX_EMULATION=\$emulation /fwupgrade-tcmu --ready /tmp/ready --record /tmp/record "\$@" /dev/\$uio 2>/tmp/handler.log &
  handler=\$!
  waitfor 10 test -e /tmp/ready || echo "TCMU FAIL \$name/handler: not ready"
  wwn=naa.50014050000000\$(printf %02x \$n)
  tpg=\$target/loopback/\$wwn/tpgt_1
  mkdir -p \$tpg
  echo naa.50014051000000\$(printf %02x \$n) >\$tpg/nexus
  mkdir -p \$tpg/lun/lun_0
  ln -s \$core \$tpg/lun/lun_0/kmr
  waitfor 10 any_sg || echo "TCMU FAIL \$name/sg: no SCSI generic node"
  if [ \$name = complete ]; then
    # The handler's only drive is the first of its set: its serial number is the first default.
    if sg_vpd --page=sn /dev/sg0 >/tmp/vpd.txt 2>&1 && grep -qx '  Unit serial number: EMU0000001' /tmp/vpd.txt
    then echo "TCMU PASS \$name/sg-vpd-serial"
    else echo "TCMU FAIL \$name/sg-vpd-serial: \$(tr '\n' '|' </tmp/vpd.txt)"; fi
  fi
  start=\$(date +%s)
  /tcmu-test \$name /tmp/image-\$name.gbf
  echo "TCMU INFO \$name: test program exit \$? after \$((\$(date +%s) - start)) s"
  case \$name in
    complete)
      if cmp /tmp/record/image0.bin /tmp/image-\$name.gbf; then echo "TCMU PASS \$name/image-received"
      else echo "TCMU FAIL \$name/image-received: the handler's image differs from the file"; fi
      if grep -q '"revision": "0200"' /tmp/kept.json 2>/dev/null; then echo "TCMU PASS \$name/firmware-kept"
      else echo "TCMU FAIL \$name/firmware-kept: \$(tr '\n' ' ' </tmp/kept.json 2>&1)"; fi ;;
    corrupt|stall)
      if [ -e /tmp/record/image0.bin ]; then echo "TCMU FAIL \$name/no-image-taken: the drive took an image"
      else echo "TCMU PASS \$name/no-image-taken"; fi ;;
  esac
  rm \$tpg/lun/lun_0/kmr
  rmdir \$tpg/lun/lun_0 \$tpg \$target/loopback/\$wwn
  kill \$handler
  wait \$handler
  rmdir \$core \$target/core/user_\$n
  waitfor 5 no_sg || echo "TCMU FAIL \$name/teardown: \$(ls /dev/sg*) still there"
  sed "s/^/TCMU HANDLER \$name: /" /tmp/handler.log
}

run_case complete -
run_case corrupt - --corrupt-read 2
run_case rejected -
# A time-out of 2 s, the handler silent for 5 s from the third data WRITE BUFFER on.
run_case stall 2 --stall-after-writes 2 --stall-ms 5000
echo "TCMU DONE"
poweroff -f
EOF
chmod 0755 "$root/init" "$root/fwupgrade-tcmu" "$root/tcmu-test" "$root/bin/busybox"
boot_and_check "tcmu test" TCMU "${expected[@]}"
