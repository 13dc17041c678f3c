#!/usr/bin/env bash
# Runs the conformance suite under Wine, on the X display the caller provides
# (xvfb-session.sh):
#   run-win32.sh --arch win32|win64 --prefix DIR conformance.exe [args...]
# The prefix's windows are left unmanaged: there is no window manager on that display, and a
# managed window waits about two seconds for one each time it is shown or hidden, which
# would cost every case that long.
set -euo pipefail

[ $# -ge 5 ] && [ "$1" = --arch ] && [ "$3" = --prefix ] || {
    echo "usage: run-win32.sh --arch win32|win64 --prefix DIR conformance.exe [args...]" >&2; exit 2; }
wine_run=$(dirname "$0")/../../cmake/wine-run.sh
"$wine_run" "$1" "$2" "$3" "$4" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
exec "$wine_run" "$@"
