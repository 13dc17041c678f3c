#!/usr/bin/env bash
# THE run command: installs what is missing, builds the Linux program and starts it on the
# library's built-in emulated drives, in the folder that holds the sample firmware image.
#   bash scripts/run.sh [program arguments...]
# The environment is passed through: ZURVAX_EMULATION=/path/drives.json picks other
# emulated drives, ZURVAX_TRACE=/path/trace.log records every library call.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# Only what the program needs: its own packages, its target and the files it reads (the
# sample image, the animation), in a build of its own without the tests.
bash scripts/install-deps.sh run
cmake --preset linux-program >/dev/null
cmake --build --preset linux-program

export ZURVAX_EMULATION=${ZURVAX_EMULATION:-demo}
cd build/linux-program/bin
if [ ! -f kmr47000_0200.gbf ]; then
    echo "note: no sample image kmr47000_0200.gbf in $(pwd) yet" >&2
fi
exec ./fwupgrade "$@"
