# Sourced by the qemu tests (tests/kernel, tests/tcmu): Debian's own kernel and a busybox
# initramfs holding the modules a test loads.
#
# prepare_kernel_initramfs NAME WORK MODULE...
#   NAME   the test's name, for messages
#   WORK   the test's own folder: the unpacked tree and the initramfs root go there
# The kernel package is kept in kernel_cache_dir, shared between tests and checkouts.
# Sets: kernel (the kernel image), root (initramfs root with bin/busybox, the modules
# decompressed in lib/modules/<name>.ko, and empty dev proc sys tmp etc), deb (the package).
# The kernel package is the one linux-image-amd64 points at now (apt-get download, never
# installed); when the package lists cannot tell or the archive moved on, the newest one
# already in the cache serves.
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/cache-dir.sh"

# kernel_cache_dir: where the kernel package and what the qemu tests make once are kept,
# beside the user's other results (scripts/cache-dir.sh), so a fresh clone downloads nothing.
kernel_cache_dir() { local c; c=$(fwupgrade_cache_dir) && printf '%s/kernel\n' "$c"; }

prepare_kernel_initramfs() {
  local name=$1 work=$2 cache
  shift 2
  local modules=("$@") package tree stamp patterns m found fetched

  cache=$(kernel_cache_dir) || return 1
  mkdir -p "$cache" "$work"
  package=$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n1 || true)
  if [ -z "$package" ]; then
    package=$(find "$cache" -maxdepth 1 -name 'linux-image-*-amd64_*.deb' -printf '%f\n' |
      sed 's/_.*//' | sort -V | tail -n1)
    [ -n "$package" ] || { echo "$name: apt-cache cannot resolve linux-image-amd64 and nothing is cached" >&2; return 1; }
  fi
  deb=$(find "$cache" -maxdepth 1 -name "${package}_*_amd64.deb" | sort -V | tail -n1)
  if [ -z "$deb" ]; then
    echo "$name: downloading $package into $cache"
    # Into a folder of its own, then renamed: another checkout's test may be reading the cache.
    fetched=$(mktemp -d "$cache/.download.XXXXXX") || return 1
    (cd "$fetched" && apt-get download -q "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
    deb=$(find "$fetched" -maxdepth 1 -name "${package}_*_amd64.deb" | sort -V | tail -n1)
    if [ -n "$deb" ]; then
      mv -f "$deb" "$cache/"
      deb=$cache/$(basename "$deb")
    fi
    rm -rf "$fetched"
  fi
  if [ -z "$deb" ]; then
    deb=$(find "$cache" -maxdepth 1 -name 'linux-image-*-amd64_*.deb' | sort -V | tail -n1)
    [ -n "$deb" ] || { echo "$name: apt-get download $package gave no package" >&2; return 1; }
    echo "$name: $(basename "$deb" | sed 's/_.*//') from the cache stands in"
  fi

  # Only the kernel image and the modules to load are unpacked; the stamp names the package
  # and modules the tree holds.
  tree=$work/kernel-tree
  stamp="$(basename "$deb") ${modules[*]}"
  if [ "$(cat "$tree/.complete" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$tree"
    mkdir -p "$tree"
    patterns=('./boot/vmlinuz-*')
    for m in "${modules[@]}"; do patterns+=("*/$m.ko" "*/$m.ko.*"); done
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$tree" --wildcards "${patterns[@]}" 2>/dev/null || true
    echo "$stamp" >"$tree/.complete"
  fi
  kernel=$(find "$tree/boot" -name 'vmlinuz-*' | head -n1)
  [ -n "$kernel" ] || { echo "$name: no kernel image in $deb" >&2; return 1; }

  root=$work/initramfs
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,lib/modules}
  cp "$(command -v busybox)" "$root/bin/busybox"
  for m in "${modules[@]}"; do
    found=$(find "$tree" -name "$m.ko*" | head -n1)
    [ -n "$found" ] || { echo "$name: module $m is not in $deb" >&2; return 1; }
    case "$found" in
      *.ko.xz) xz -dc "$found" >"$root/lib/modules/$m.ko" ;;
      *.ko.zst) zstd -qdc "$found" >"$root/lib/modules/$m.ko" ;;
      *.ko.gz) gzip -dc "$found" >"$root/lib/modules/$m.ko" ;;
      *) cp "$found" "$root/lib/modules/$m.ko" ;;
    esac
  done
}

# boot_and_check NAME PREFIX MARKER...
#   Packs $root into $work/initrd.gz, boots $kernel with it in qemu (software emulation,
#   under timeout: $vm_timeout seconds; $vm_memory, default 512M, and any further qemu
#   arguments in the array vm_qemu_args) and reads the serial console. Passes (returns 0)
#   only when every "PREFIX PASS <marker>" line and "PREFIX DONE" came out, no
#   "PREFIX FAIL" did, and the VM did not time out: qemu's exit status says nothing.
#   Software emulation even where /dev/kvm exists: there a guest under KVM hung after
#   "Booting from ROM" with every CPU model tried (host, max, qemu64), and qemu's kvm:tcg
#   does not fall back from a hang.
boot_and_check() {
  local name=$1 prefix=$2
  shift 2
  local markers=("$@") initrd=$work/initrd.gz log=$work/serial.log start vm_status elapsed problems=0 marker
  (cd "$root" && find . -print0 | cpio --null -o -H newc --quiet | gzip -1) >"$initrd"
  start=$(date +%s)
  set +e
  timeout --kill-after=10 "$vm_timeout" qemu-system-x86_64 -accel tcg -m "${vm_memory:-512M}" -smp 1 \
    -nographic -serial stdio -monitor none -no-reboot \
    -kernel "$kernel" -initrd "$initrd" ${vm_qemu_args[@]+"${vm_qemu_args[@]}"} \
    -append "console=ttyS0 quiet loglevel=3 panic=-1" </dev/null >"$log" 2>&1
  vm_status=$?
  set -e
  elapsed=$(($(date +%s) - start))
  tr -d '\r' <"$log" >"$log.txt"

  grep "^$prefix" "$log.txt" || true
  echo "$name: VM ran ${elapsed}s (qemu status $vm_status) with $(basename "$kernel")"
  if grep -q "^$prefix FAIL" "$log.txt"; then problems=1; fi
  for marker in "${markers[@]}"; do
    if ! grep -qx "$prefix PASS $marker" "$log.txt"; then
      echo "$name: missing $prefix PASS $marker" >&2
      problems=1
    fi
  done
  grep -qx "$prefix DONE" "$log.txt" || { echo "$name: the VM never finished its run" >&2; problems=1; }
  [ "$vm_status" -ne 124 ] && [ "$vm_status" -ne 137 ] || { echo "$name: the VM timed out" >&2; problems=1; }
  if [ "$problems" -ne 0 ]; then
    echo "---- serial console (last 80 lines) ----" >&2
    tail -n 80 "$log.txt" >&2
    return 1
  fi
  echo "$name: all ${#markers[@]} checks passed"
}

# init_start_lines PREFIX
#   Prints the first lines of the VM's init script: busybox's commands on PATH, /proc, /sys
#   and /dev mounted, a writable /tmp, and "PREFIX BOOTED <kernel release>", the line that
#   shows the console reached the script.
init_start_lines() {
  cat <<LINES
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
chmod 1777 /tmp
echo "$1 BOOTED \$(uname -r)"
LINES
}

# scsi_debug_drive_lines PREFIX [OPTION...]
#   Prints the init script lines that load the modules named in $modules in that order,
#   scsi_debug posing as a KMR-47000 (with any further scsi_debug OPTIONs), and wait for
#   /dev/sg0. Anything that fails prints "PREFIX FAIL <what>: <why>".
scsi_debug_drive_lines() {
  local prefix=$1
  shift
  cat <<LINES
for m in ${modules[*]}; do
  case \$m in
    # Blank padded, as a drive fills its identification fields.
    scsi_debug) set -- ptype=1 'inq_vendor="VORN    "' 'inq_product="KMR-47000       "' inq_rev=0100 dev_size_mb=1 $* ;;
    *) set -- ;;
  esac
  insmod /lib/modules/\$m.ko "\$@" || echo "$prefix FAIL insmod-\$m: insmod failed"
done
tries=0
while [ ! -c /dev/sg0 ] && [ \$tries -lt 100 ]; do sleep 0.1; tries=\$((tries + 1)); done
[ -c /dev/sg0 ] || echo "$prefix FAIL sg0: /dev/sg0 never appeared"
LINES
}
