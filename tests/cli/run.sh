#!/usr/bin/env bash
# The command line as a script runs it, on emulated drives that keep what they took (a state
# file): --jobs 4 on four drives gives the same per-drive results as one drive at a time,
# every drive gets exactly one commit, a second run finds every drive current, and every
# document validates against the schema kept in docs/.
#
#   tests/cli/run.sh [FWUPGRADE]      (default build/linux/bin/fwupgrade)
# Ends with "cli: N passed, N failed"; exits non-zero when a check failed.
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BIN=$(realpath "${1:-$ROOT/build/linux/bin/fwupgrade}")
SCHEMA=$ROOT/docs/fwupgrade-result.schema.json
WORK=$(mktemp -d "${TMPDIR:-/tmp}/fwupgrade-cli.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

PASSED=0
FAILED=0
check() { # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; PASSED=$((PASSED + 1)); else echo "FAIL $what"; FAILED=$((FAILED + 1)); fi
}

results() { python3 -c 'import json,sys; print(" ".join(d["result"] for d in json.load(open(sys.argv[1]))["drives"]))' "$1"; }

# A run of four drives in folder $1, with these arguments after the common ones.
fleet() {
  local folder=$WORK/$1
  shift
  mkdir -p "$folder"
  cat >"$folder/drives.json" <<JSON
{ "state_file": "state.json", "devices": [
  { "serial": "SN-1", "activation_polls": 0, "target": 1 },
  { "serial": "SN-2", "activation_polls": 0, "target": 2 },
  { "serial": "SN-3", "activation_polls": 0, "target": 3, "revision": "0200" },
  { "serial": "SN-4", "activation_polls": 0, "target": 4 } ] }
JSON
  cp "$(dirname "$BIN")/kmr47000_0200.gbf" "$folder/" 2>/dev/null ||
    { printf 'KMR47000-FW:0200'; head -c 30000 /dev/zero | tr '\0' 'x'; } >"$folder/kmr47000_0200.gbf"
  (cd "$folder" && ZURVAX_EMULATION=drives.json ZURVAX_TRACE=trace.txt timeout 300 "$BIN" upgrade \
     --image kmr47000_0200.gbf --accept-agreement --yes --json "$@" >out.json 2>err.txt)
  echo $? >"$folder/status"
}

fleet serial
fleet parallel --jobs 4
check "one at a time: upgraded, upgraded, current, upgraded" \
  test "$(results "$WORK/serial/out.json")" = "upgraded upgraded current upgraded"
check "--jobs 4 gives the same results" test "$(results "$WORK/parallel/out.json")" = "$(results "$WORK/serial/out.json")"
check "--jobs 4 exits 0" test "$(cat "$WORK/parallel/status")" = 0
check "--jobs 4: one commit for each drive to flash, none for the current one" \
  test "$(grep -c 'mode=5' "$WORK/parallel/trace.txt")" = 3
for run in serial parallel; do
  check "$run: the document validates" python3 "$ROOT/tests/cli/validate_json.py" "$SCHEMA" "$WORK/$run/out.json"
done
# What the four processes took is all in the state file: the next run has nothing to do.
(cd "$WORK/parallel" && ZURVAX_EMULATION=drives.json timeout 120 "$BIN" check --image kmr47000_0200.gbf --json \
   >again.json 2>/dev/null)
check "a second run finds every drive current" test "$(results "$WORK/parallel/again.json")" = "current current current current"
check "list --json validates" sh -c "cd '$WORK/parallel' && ZURVAX_EMULATION=drives.json '$BIN' list --json >list.json && \
  python3 '$ROOT/tests/cli/validate_json.py' '$SCHEMA' list.json"

echo "cli: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
