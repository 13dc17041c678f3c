#!/usr/bin/env bash
# A fleet in real time: 16 emulated drives upgraded by `fwupgrade upgrade --jobs 16` (a
# process per drive), against one drive alone and against the 16 one after another. The
# drives wait as real ones do (the settle after the commit, 2 s polls while they activate,
# the worker's 2 s signal), so the figures are wall-clock seconds. Prints one line per run
# and the ratio of the 16 in parallel to one alone.
#
#   bench/fleet-bench.sh [FWUPGRADE]    (default build/linux/bin/fwupgrade)
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BIN=$(realpath "${1:-$HERE/../build/linux/bin/fwupgrade}")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/fwupgrade-fleet.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# fleet NAME COUNT JOBS: seconds for COUNT fresh drives upgraded with --jobs JOBS.
fleet() {
  local folder=$WORK/$1 count=$2 jobs=$3 devices="" i
  mkdir -p "$folder"
  for ((i = 0; i < count; i++)); do
    devices+="${devices:+,}{ \"serial\": \"FLEET-$i\", \"target\": $((i % 16)), \"host_adapter\": $((i / 16)) }"
  done
  printf '{ "devices": [ %s ] }\n' "$devices" >"$folder/drives.json"
  cp "$(dirname "$BIN")/kmr47000_0200.gbf" "$folder/"
  local start end
  start=$(date +%s.%N)
  (cd "$folder" && ZURVAX_EMULATION=drives.json "$BIN" upgrade --image kmr47000_0200.gbf --accept-agreement \
     --yes --jobs "$jobs" --json >out.json 2>/dev/null) || { echo "fleet $1: the run failed" >&2; exit 1; }
  end=$(date +%s.%N)
  grep -c '"upgraded"' "$folder/out.json" | grep -qx "$((count + 1))" ||
    { echo "fleet $1: not every drive was upgraded" >&2; exit 1; }
  python3 -c "print($end - $start)"
}

one=$(fleet one 1 1)
parallel=$(fleet parallel 16 16)
serial=$(fleet serial 16 1)
printf 'fleet: 1 drive %.1f s; 16 drives --jobs 16 %.1f s (%.2f x one drive); 16 drives --jobs 1 %.1f s\n' \
  "$one" "$parallel" "$(python3 -c "print($parallel / $one)")" "$serial"
