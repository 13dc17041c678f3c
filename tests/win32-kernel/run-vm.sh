#!/usr/bin/env bash
# The shipped Windows program (fwupgrade.exe and ZURVAX.dll, 32-bit) under Wine against
# drives served by the Linux kernel: Debian's own kernel boots in qemu with the target
# modules of tests/tcmu, fwupgrade-tcmu serves two emulated KMR-47000 through TCMU and
# tcm_loop, and this machine's root, shared read-only over 9p, is the chroot in which this
# machine's 32-bit Wine runs. \\.\ScsiN: and \\.\TapeN are links in the Wine prefix to the
# drives' /dev/sgN and /dev/nstN, so every command goes through the SPTI transport, Wine's
# pass-through and SG_IO. One wineserver stays up for the whole run.
#
# Drive A (serial KMRWINE01) is offered an image the drive refuses at the commit, then a
# good one; drive B (KMRWINE02) corrupts its second data READ BUFFER. The guest only runs
# the program and copies what it wrote (JSON, the library's call trace, the images the
# drives took, their kept state) into <work folder>/out, a second 9p share; check.py
# decides. Passes only when every check passed.
#
# Usage: run-vm.sh <folder with fwupgrade.exe and ZURVAX.dll> <fwupgrade-tcmu> <work folder>
# Exit status 77, with a line saying why, where this machine has no qemu or no 32-bit Wine
# (the guest kernel, not this machine's, has to start Wine's 32-bit loader).
# Wine's first start in a fresh prefix (wineboot) takes seconds here and minutes under the
# guest's software emulation: the prefix is made here, before the boot, and kept in the
# user's cache beside the kernel package (kernel_cache_dir in tests/vm/kernel-initramfs.sh),
# one per Wine version, its copies of Wine's own DLLs replaced by links to them; the guest
# and later runs, from any checkout, start from it. Where this machine cannot start Wine's
# 32-bit loader the guest makes it, and a passing run keeps that one.
# FWUPGRADE_WIN32_KERNEL_VM_TIMEOUT: seconds the VM may take (default 225, so that the whole
# test stays within four minutes; 420 more when the guest has to make the prefix, which on
# a slow machine, beside the Windows suites' build (scripts/test.sh), takes three minutes of
# its own and the whole VM six).
set -euo pipefail

name="win32 kernel test"
skip() { echo "$name: SKIPPED: $*"; exit 77; }
fail() { echo "$name: $*" >&2; exit 1; }

[ $# -ge 3 ] || fail "usage: run-vm.sh <exe folder> <fwupgrade-tcmu> <work folder>"
bin=$(realpath "$1")
handler=$(realpath "$2")
work=$(realpath -m "$3")
vm_timeout=${FWUPGRADE_WIN32_KERNEL_VM_TIMEOUT:-}
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")

command -v qemu-system-x86_64 >/dev/null ||
  skip "qemu-system-x86_64 is missing (scripts/install-deps.sh installs qemu-system-x86)"
[ -x /usr/lib/wine/wine ] ||
  skip "32-bit Wine is missing: no /usr/lib/wine/wine (scripts/install-deps.sh installs wine32:i386)"
for tool in busybox cpio gzip dpkg-deb apt-get apt-cache timeout python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
for file in "$bin/fwupgrade.exe" "$bin/ZURVAX.dll"; do
  [ -f "$file" ] || fail "no $file"
done
[ -x "$handler" ] || fail "no program at $handler"
. "$here/../vm/kernel-initramfs.sh"
cache=$(kernel_cache_dir) || exit 1
wine_version=$(dpkg-query -W -f='${Version}' wine32:i386 2>/dev/null || echo unknown)
prefix_cache=$cache/wine32-prefix-$wine_version.tar

# Every module after those it needs: the TCMU stack with st for the tape nodes, then 9p
# over virtio for the shares.
modules=(scsi_common scsi_mod sg st crct10dif_common crct10dif_generic crc-t10dif
         configfs target_core_mod uio target_core_user tcm_loop
         netfs fscache 9pnet virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev
         virtio_pci 9pnet_virtio 9p)

prepare_kernel_initramfs "$name" "$work" "${modules[@]}" || exit 1
out=$work/out
rm -rf "$out"
mkdir -p "$out" "$root/files"
cp "$handler" "$root/fwupgrade-tcmu"
cp "$bin/fwupgrade.exe" "$bin/ZURVAX.dll" "$root/files/"
python3 "$here/check.py" --images "$root/files"
printf '{"state_file": "a-state.json", "devices": [ {"serial": "KMRWINE01"} ]}\n' >"$root/files/a.json"
printf '{"devices": [ {"serial": "KMRWINE02"} ]}\n' >"$root/files/b.json"

# link_builtin_dlls ROOT PREFIX: the commands (sh: the guest's busybox runs them too) that
# replace PREFIX's copies of Wine's own DLLs by links to them; ROOT is where this machine's
# root is seen ("" here, /host in the guest).
link_builtin_dlls() {
  cat <<LINKS
builtin=/usr/lib/i386-linux-gnu/wine/i386-windows
for f in $2/drive_c/windows/system32/*; do
  b=\$builtin/\${f##*/}
  if [ -f "$1\$b" ] && [ ! -L "\$f" ] && [ \$(stat -c %s "\$f") = \$(stat -c %s "$1\$b") ]; then
    ln -sf \$b "\$f"
  fi
done
LINKS
}
# keep_prefix TAR: TAR becomes this Wine version's kept prefix; other versions' go.
keep_prefix() {
  keep_in_cache "$1" "$prefix_cache" || return
  find "$cache" -maxdepth 1 -name 'wine32-prefix-*.tar' ! -name "${prefix_cache##*/}" -delete
}
# The prefix made here with the environment the guest gives Wine, packed as the guest packs
# the one it makes; the registry is written out as the server ends.
make_prefix_here() {
  local w=$work/host-prefix
  rm -rf "$w"
  mkdir -p "$w/prefix"
  local wine=(env -i PATH=/usr/bin:/bin HOME="$w" WINEPREFIX="$w/prefix" WINEARCH=win32
              WINELOADER=/usr/lib/wine/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
  "${wine[@]}" /usr/lib/wine/wine wineboot.exe -i >"$w/wineboot.log" 2>&1 </dev/null &&
    "${wine[@]}" /usr/lib/wine/wineserver -w &&
    sh -c "$(link_builtin_dlls "" "$w/prefix")" &&
    tar -C "$w" -cf "$w/prefix.tar" prefix || return
  keep_prefix "$w/prefix.tar" || return
  rm -rf "$w"
}
if [ ! -f "$prefix_cache" ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  if make_prefix_here; then
    echo "$name: Wine's prefix made here and kept in $prefix_cache"
  else
    echo "$name: Wine's prefix could not be made here ($work/host-prefix); the guest makes it"
  fi
fi

if [ -z "$vm_timeout" ]; then
  vm_timeout=225
  if [ ! -f "$prefix_cache" ]; then
    vm_timeout=$((vm_timeout + 420))
    echo "$name: no kept prefix: the guest makes one, and the VM may take $vm_timeout s"
  fi
fi

# The kept prefix reaches the guest through the out share: the cache may be under /tmp,
# which the guest covers with a tmpfs of its own.
if [ -f "$prefix_cache" ]; then
  ln -f "$prefix_cache" "$out/kept-prefix.tar" 2>/dev/null || cp "$prefix_cache" "$out/kept-prefix.tar"
fi

cat >"$root/init" <<EOF
$(init_start_lines WINK)
for m in ${modules[*]}; do
  insmod /lib/modules/\$m.ko || echo "WINK FAIL insmod-\$m: insmod failed"
done
mount -t configfs none /sys/kernel/config
mkdir -p /host
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /host ||
  echo "WINK FAIL host-root: the 9p share did not mount"
mount -t tmpfs -o size=1400m tmpfs /host/tmp
# What the guest leaves for check.py, written there as it goes (the chroot sees /tmp/out).
mkdir -p /host/tmp/out
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 out /host/tmp/out ||
  echo "WINK FAIL out: the 9p share did not mount"
o=/host/tmp/out
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t devtmpfs devtmpfs /host/dev
mkdir -p /host/dev/shm
mount -t tmpfs tmpfs /host/dev/shm
# Seen from the chroot as /tmp/w. Programs are started from here: Wine does not start them
# well from a 9p share.
w=/host/tmp/w
mkdir -p \$w
cp /files/* \$w/
target=/sys/kernel/config/target

waitfor() {
  tries=\$((\$1 * 10)); shift
  while ! "\$@"; do
    tries=\$((tries - 1))
    [ \$tries -gt 0 ] || return 1
    sleep 0.1
  done
}

# export_drive <n> <emulation file> [handler options...]: the n-th (from 1) backstore,
# its handler, its LUN; its nodes are /dev/sg<n-1> and /dev/nst<n-1>.
export_drive() {
  n=\$1; emulation=\$2; shift 2
  core=\$target/core/user_\$n/kmr\$n
  mkdir -p \$core
  echo -n "dev_config=fwupgrade/kmr\$n,dev_size=1048576,max_data_area_mb=32" >\$core/control
  echo 1 >\$core/enable
  uio=
  for u in /sys/class/uio/uio*; do
    case \$(cat \$u/name) in */kmr\$n/*) uio=\${u##*/} ;; esac
  done
  [ -n "\$uio" ] || echo "WINK FAIL drive\$n-uio: no uio device for kmr\$n"
  mkdir -p \$w/record\$n
  ZURVAX_EMULATION=\$emulation /fwupgrade-tcmu --ready /tmp/ready\$n --record \$w/record\$n "\$@" /dev/\$uio 2>\$w/handler\$n.log &
  echo \$! >/tmp/handler\$n.pid
  waitfor 10 test -e /tmp/ready\$n || echo "WINK FAIL drive\$n-handler: not ready"
  wwn=naa.50014050000000\$(printf %02x \$n)
  tpg=\$target/loopback/\$wwn/tpgt_1
  mkdir -p \$tpg
  echo naa.50014051000000\$(printf %02x \$n) >\$tpg/nexus
  mkdir -p \$tpg/lun/lun_0
  ln -s \$core \$tpg/lun/lun_0/kmr
  waitfor 10 test -c /dev/sg\$((n - 1)) -a -c /dev/nst\$((n - 1)) &&
    echo "WINK PASS drive\$n-nodes" || echo "WINK FAIL drive\$n-nodes: \$(ls /dev/sg* /dev/nst* 2>&1 | tr '\n' ' ')"
}

export_drive 1 \$w/a.json
export_drive 2 \$w/b.json --corrupt-read 2

# Wine in the host's root: nothing of this environment but what is set here.
wine() {
  chroot /host /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp/w WINEPREFIX=/tmp/w/prefix \
    WINEARCH=win32 WINELOADER=/usr/lib/wine/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= "\$@"
}
# run <name> <command line...>: the program, its JSON on standard output, its trace.
run() {
  step=\$1; shift
  began=\$(date +%s)
  wine ZURVAX_TRACE='Z:\\tmp\\out\\trace-'\$step'.txt' /usr/lib/wine/wine /tmp/w/fwupgrade.exe "\$@" \
    >\$o/\$step.json 2>\$o/\$step.err </dev/null
  echo \$? >\$o/\$step.status
  echo "WINK INFO \$step: exit \$(cat \$o/\$step.status) after \$((\$(date +%s) - began)) s"
}

started=\$(date +%s)
if [ -f \$o/kept-prefix.tar ]; then
  tar -C \$w -xf \$o/kept-prefix.tar || echo "WINK FAIL prefix-cache: $prefix_cache does not unpack"
  echo "WINK INFO prefix from the cache: \$((\$(date +%s) - started)) s"
  wine /usr/lib/wine/wineserver -p >\$o/wineserver.log 2>&1 </dev/null
else
  mkdir -p \$w/prefix
  wine /usr/lib/wine/wineserver -p >\$o/wineserver.log 2>&1 </dev/null
  wine /usr/lib/wine/wine wineboot.exe -i >\$o/wineboot.log 2>&1 </dev/null ||
    echo "WINK FAIL wineboot: \$(tail -n 3 \$o/wineboot.log | tr '\n' ' ')"
  echo "WINK INFO wineboot: \$((\$(date +%s) - started)) s"
  # The registry is written out as the server ends. Wine's DLLs, copied into system32, are
  # nine tenths of the prefix: links to them serve as well and keep the cached one small.
  wine /usr/lib/wine/wineserver -k
$(link_builtin_dlls /host '$w/prefix')
  tar -C \$w -cf \$o/prefix.tar prefix
  echo "WINK INFO prefix kept: \$((\$(date +%s) - started)) s"
  wine /usr/lib/wine/wineserver -p >>\$o/wineserver.log 2>&1 </dev/null
fi
[ -d \$w/prefix/dosdevices ] && echo "WINK PASS prefix" || echo "WINK FAIL prefix: no dosdevices"
for n in 0 1; do
  ln -s /dev/sg\$n \$w/prefix/dosdevices/scsi\$n:
  ln -s /dev/nst\$n \$w/prefix/dosdevices/tape\$n
done

run list list --json
run rejected upgrade --image 'Z:\\tmp\\w\\rejected.gbf' --revision 0200 --device KMRWINE01 \
  --accept-agreement --yes --json
run upgrade upgrade --image 'Z:\\tmp\\w\\good.gbf' --revision 0200 --device KMRWINE01 \
  --device KMRWINE02 --accept-agreement --yes --json

wine /usr/lib/wine/wineserver -k
for n in 1 2; do
  kill \$(cat /tmp/handler\$n.pid)
  wait \$(cat /tmp/handler\$n.pid)
done
cp -r \$w/record1 \$w/record2 \$w/a-state.json \$w/handler*.log \$o/
sync
echo "WINK INFO guest: \$((\$(date +%s) - started)) s from the first Wine start"
echo "WINK DONE"
poweroff -f
EOF
chmod 0755 "$root/init" "$root/fwupgrade-tcmu" "$root/bin/busybox"

vm_memory=2G
vm_qemu_args=(
  -fsdev "local,id=hostroot,path=/,security_model=passthrough,readonly=on,multidevs=remap"
  -device "virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot"
  -fsdev "local,id=out,path=$out,security_model=passthrough"
  -device "virtio-9p-pci,fsdev=out,mount_tag=out"
)
booted=0
boot_and_check "$name" WINK drive1-nodes drive2-nodes prefix || booted=$?
# A prefix the guest finished writing serves the next run, whatever became of this one.
if [ -f "$out/prefix.tar" ] && grep -q '^WINK INFO prefix kept' "$work/serial.log.txt"; then
  keep_prefix "$out/prefix.tar" &&
  echo "$name: Wine's prefix kept in $prefix_cache for the next run"
fi
python3 "$here/check.py" "$out" "$root/files" || exit 1
[ "$booted" -eq 0 ] || exit 1
