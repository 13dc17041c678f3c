#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest (CMAKE_CROSSCOMPILING_EMULATOR):
#   wine-run.sh --arch win32|win64 --prefix DIR program.exe [args...]
# Each build folder gets its own prefix; the first caller creates it under a lock so that
# tests started in parallel neither race nor boot Wine twice. The program's exit status is
# passed through. No display unless FWUPGRADE_WINE_GUI=1 (then DISPLAY is kept as given,
# e.g. from xvfb-run).
set -euo pipefail

arch=win32
prefix=
while [ $# -gt 0 ]; do
    case "$1" in
        --arch) arch=$2; shift 2 ;;
        --prefix) prefix=$2; shift 2 ;;
        --) shift; break ;;
        *) break ;;
    esac
done
[ $# -ge 1 ] || { echo "usage: wine-run.sh --arch win32|win64 --prefix DIR program.exe [args...]" >&2; exit 2; }
if [ -z "$prefix" ]; then
    # Without --prefix: the build folder is the nearest parent of the program with a CMakeCache.
    d=$(cd "$(dirname "$1")" && pwd)
    while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
    [ "$d" != / ] || d=$(cd "$(dirname "$1")" && pwd)
    prefix=$d/wineprefix
fi

mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")

case "$arch" in
    win32)
        loader=/usr/lib/wine/wine
        # Wine's 32-bit loader is a 32-bit Linux program; some kernels refuse those.
        if ! "$loader" --version >/dev/null 2>&1; then
            echo "wine-run.sh: this machine cannot start 32-bit Linux programs, so Wine cannot" \
                 "run 32-bit Windows programs here (use the win64 preset for the tests)" >&2
            exit 125
        fi
        ;;
    win64)
        loader=/usr/lib/wine/wine64
        [ -x "$loader" ] || { echo "wine-run.sh: $loader missing (apt-get install wine64)" >&2; exit 125; }
        ;;
    *) echo "wine-run.sh: unknown --arch $arch" >&2; exit 2 ;;
esac

export WINEPREFIX=$prefix
export WINEARCH=$arch
export WINELOADER=$loader
export WINEDEBUG=${FWUPGRADE_WINEDEBUG:--all}
# Wine maps Windows file names to Unix ones in the locale's character set: with none set (a
# bare root, env -i) names with bytes of 0x80 and up cannot be made, and the tests use them.
if [ -z "${LC_ALL:-}${LC_CTYPE:-}${LANG:-}" ]; then
    export LANG=C.UTF-8
fi
# No Mono or Gecko: nothing here uses them and Wine would offer to download them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ "${FWUPGRADE_WINE_GUI:-0}" != 1 ]; then
    unset DISPLAY WAYLAND_DISPLAY
fi

if [ ! -f "$prefix/.fw-ready" ]; then
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -f "$prefix/.fw-ready" ]; then
        rm -rf "$prefix"
        # A 64-bit prefix also tries to set up its 32-bit half; where that cannot run it
        # complains about syswow64 and carries on, which is all the 64-bit tests need.
        "$loader" wineboot -i >"$prefix.boot.log" 2>&1 || {
            echo "wine-run.sh: wineboot failed, see $prefix.boot.log" >&2; exit 125; }
        "$(dirname "$loader")/wineserver" -w || true
        touch "$prefix/.fw-ready"
    fi
    flock -u 9
    exec 9>&-
fi

exec "$loader" "$@"
