# Sourced. fwupgrade_cache_dir prints the folder of what outlives a checkout, each part keyed
# by what it was made from (so a fresh clone reuses it and never takes a stale one):
# $FWUPGRADE_CACHE_DIR, by default ${XDG_CACHE_HOME:-~/.cache}/fwupgrade. Its parts:
#   clang-tidy/  clean results per unit (scripts/clang-tidy-cached.py)
#   kernel/      Debian's kernel package and the guest's Wine prefix, for the qemu tests
#                (tests/vm/kernel-initramfs.sh, tests/win32-kernel/run-vm.sh)
# Remove it, or a part of it, to make everything again.
fwupgrade_cache_dir() {
  printf '%s\n' "${FWUPGRADE_CACHE_DIR:-${XDG_CACHE_HOME:-${HOME:?}/.cache}/fwupgrade}"
}

# keep_in_cache FILE DEST: FILE becomes DEST in one rename, so that another checkout's run
# reading the cache meanwhile sees the old file or the new one, never half of one.
keep_in_cache() {
  local tmp
  mkdir -p "$(dirname "$2")"
  tmp=$(mktemp "$2.XXXXXX") && cp "$1" "$tmp" && mv -f "$tmp" "$2" || { rm -f "${tmp:-}"; return 1; }
}
