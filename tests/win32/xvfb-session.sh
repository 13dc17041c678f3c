#!/usr/bin/env bash
# Runs a command on a private X display, under a time limit, and cleans up after it:
#   xvfb-session.sh --timeout SECONDS [--wineprefix DIR] -- command [args...]
# Xvfb picks a free display number itself (-displayfd), so parallel runs never collide.
# On exit, whatever way it comes, the Wine session of the prefix and the X server end.
set -euo pipefail

limit=600
prefix=
while [ $# -gt 0 ]; do
    case "$1" in
        --timeout) limit=$2; shift 2 ;;
        --wineprefix) prefix=$2; shift 2 ;;
        --) shift; break ;;
        *) break ;;
    esac
done
[ $# -ge 1 ] || { echo "usage: xvfb-session.sh --timeout S [--wineprefix DIR] -- command..." >&2; exit 2; }

work=$(mktemp -d)
xvfb_pid=
cleanup() {
    if [ -n "$prefix" ] && [ -d "$prefix" ]; then
        WINEPREFIX=$prefix timeout 20 wineserver -k >/dev/null 2>&1 || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' INT TERM

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 125; }
    sleep 0.1
done
[ -s "$work/display" ] || { echo "xvfb-session.sh: Xvfb gave no display" >&2; exit 125; }
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"

set +e
timeout --kill-after=15 "$limit" "$@"
status=$?
set -e
[ "$status" -eq 124 ] && echo "xvfb-session.sh: timed out after $limit s" >&2
exit "$status"
