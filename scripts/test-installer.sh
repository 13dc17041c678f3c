#!/usr/bin/env bash
# The Windows installer under Wine: a silent install into a fresh prefix, the installed
# files and the Add/Remove Programs key, the program started from its Start menu entry
# listing the emulated drives (tests/win32/InstalledTest.cpp, on a private X display), then
# a silent uninstall that must leave the prefix's files and the key as they were before.
#
# Usage: test-installer.sh <build folder> <installer.exe> [<zip>]
#   The build folder (build/win32 or build/win64) holds the test driver win32_installed.exe
#   and decides which Wine runs: win32 needs Wine's 32-bit loader, which some kernels refuse;
#   win64 is the unshipped 64-bit build's installer, made for such machines.
# With a zip: it must hold the files the installer installs, byte for byte, in one folder.
# Prints "installer: ok" and exits 0 when every check passed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=$(realpath "$1")
installer=$(realpath "$2")
zip=${3:+$(realpath "$3")}
case "$(basename "$build")" in
  win64) arch=win64 ;;
  *) arch=win32 ;;
esac
work=$build/install-test
prefix=$work/wineprefix
wine=(bash cmake/wine-run.sh --arch "$arch" --prefix "$prefix")
export WINEDEBUG=-all
problems=0
fail() { echo "installer: $*" >&2; problems=1; }
# Waits until the prefix's Wine session has ended. A program started while a session without
# a display still runs would join it, and its windows would show nowhere.
session_end() { WINEPREFIX=$prefix wineserver -w; }

# The uninstall key as the installer script defines it.
key=$(sed -n 's/^!define UNINSTALL_KEY "\(.*\)"$/\1/p' packaging/windows/fwupgrade.nsi)
[ -n "$key" ] || { echo "installer: no UNINSTALL_KEY in packaging/windows/fwupgrade.nsi" >&2; exit 1; }

# A session of an earlier run would write into the prefix while it is removed.
[ ! -d "$prefix" ] || WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
rm -rf "$work"
mkdir -p "$work"
trap '[ ! -d "$prefix" ] || session_end' EXIT
# Creates the prefix; what it holds now is what the uninstaller must leave.
"${wine[@]}" cmd /c exit 0
listing() { (cd "$prefix/drive_c" && find . -path ./windows -prune -o -path './users/*/Temp' -prune \
  -o -path './users/*/AppData/Local/Temp' -prune -o -print | sort); }
listing >"$work/before.txt"

"${wine[@]}" "$installer" /S
session_end

location=$("${wine[@]}" reg query "HKLM\\$key" /v InstallLocation 2>/dev/null |
  sed -n 's/.*InstallLocation[[:space:]]*REG_SZ[[:space:]]*//p' | tr -d '\r')
if [ -z "$location" ]; then
  echo "installer: no InstallLocation under HKLM\\$key after the install" >&2
  exit 1
fi
folder=$("${wine[@]}" winepath -u "$location" 2>/dev/null | tr -d '\r')
echo "installer: installed into $location ($folder)"
for f in fwupgrade.exe ZURVAX.dll dl.avi README.md uninstall.exe; do
  [ -s "$folder/$f" ] || fail "$f is missing from $location"
done
if [ -n "$zip" ]; then
  mkdir -p "$work/zip"
  (cd "$work/zip" && cmake -E tar xf "$zip") || fail "cannot unpack $zip"
  unpacked=$(find "$work/zip" -mindepth 1 -maxdepth 1 -type d | head -n1)
  installed=$(cd "$folder" && ls | grep -vx uninstall.exe)
  [ "$(ls "$unpacked" 2>/dev/null)" = "$installed" ] ||
    fail "the zip holds $(ls "$unpacked" 2>/dev/null | tr '\n' ' '), the installer $(tr '\n' ' ' <<<"$installed")"
  for f in $installed; do
    cmp -s "$folder/$f" "$unpacked/$f" || fail "$f differs between the zip and the installer"
  done
fi
for value in DisplayName DisplayVersion Publisher UninstallString QuietUninstallString; do
  "${wine[@]}" reg query "HKLM\\$key" /v "$value" >/dev/null 2>&1 || fail "HKLM\\$key has no $value"
done

# The installed program, started as its Start menu entry starts it.
session_end
if ! FWUPGRADE_WINE_GUI=1 FWUPGRADE_INSTALL_DIR="$location" bash tests/win32/xvfb-session.sh \
    --timeout 300 --wineprefix "$prefix" -- "${wine[@]}" "$build/bin/win32_installed.exe"; then
  fail "the installed program did not start from its Start menu entry or list the drives"
fi

"${wine[@]}" "$location\\uninstall.exe" /S
# The uninstaller runs from a copy of itself in the temporary folder: wait for it.
session_end
[ ! -e "$folder" ] || fail "the uninstaller left $folder: $(ls -A "$folder" | tr '\n' ' ')"
if "${wine[@]}" reg query "HKLM\\$key" >/dev/null 2>&1; then
  fail "the uninstaller left HKLM\\$key"
fi
listing >"$work/after.txt"
if ! diff -u "$work/before.txt" "$work/after.txt" >"$work/left.diff"; then
  fail "the uninstaller left files behind:"
  grep '^[+-]\.' "$work/left.diff" >&2 || true
fi

[ "$problems" -eq 0 ] || exit 1
echo "installer: ok"
