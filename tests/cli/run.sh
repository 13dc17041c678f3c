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

# --jobs with serials that read as something else: each child is handed its drive's identity,
# so every drive meant gets exactly one commit and no other drive any. Each row: a name, the
# drives' serials, the options, the exit status, then the commits by drive index ("0 1": one
# for drive 0, one for drive 1).
commits() { grep -o 'WriteBuffer [0-9]* mode=5' "$1" | awk '{print $2}' | sort -n | tr '\n' ' ' | sed 's/ $//'; }
jobs_case() {
  local name=$1 serials=$2 options=$3 status=$4 expected=$5 folder=$WORK/jobs-$1 devices="" i=0
  mkdir -p "$folder"
  for serial in $serials; do
    devices+="${devices:+,}{\"serial\": \"$serial\", \"activation_polls\": 0, \"target\": $i}"
    i=$((i + 1))
  done
  echo "{ \"devices\": [ $devices ] }" >"$folder/drives.json"
  cp "$WORK/serial/kmr47000_0200.gbf" "$folder/"
  # shellcheck disable=SC2086 # the options are words
  (cd "$folder" && ZURVAX_EMULATION=drives.json ZURVAX_TRACE=trace.txt timeout 300 "$BIN" upgrade \
     --image kmr47000_0200.gbf --accept-agreement --yes --json --jobs 2 $options >out.json 2>err.txt)
  local got=$?
  touch "$folder/trace.txt"
  check "--jobs, $name: exit $status, commits to drives [$expected]" \
    test "$got/$(commits "$folder/trace.txt")" = "$status/$expected"
}
jobs_case index-like-serial "1 SN-B" "" 0 "0 1"
jobs_case index-with-index-like-serial "1 SN-B" "--device 0" 0 "0"
jobs_case serial-all "SN-A all SN-C" "--device serial:all" 0 "1"
jobs_case path-like-serial "0:1:0 SN-B" "" 0 "0 1"
jobs_case ten-digit-serial "SN-A 1234567890" "--device 1234567890" 0 "1"
jobs_case ambiguous "1 SN-B" "--device 1" 2 ""

# A file replaced between two drives (a new build copied over the old one) changes nothing of
# the run: every drive gets the bytes that were hashed. Drive 0 takes a few seconds of polls;
# the image is replaced as soon as its commit is in the trace.
replaced=$WORK/replaced
mkdir -p "$replaced"
cat >"$replaced/drives.json" <<JSON
{ "devices": [ { "serial": "SN-1", "activation_polls": 1 }, { "serial": "SN-2", "activation_polls": 0 } ] }
JSON
cp "$WORK/serial/kmr47000_0200.gbf" "$replaced/"
(cd "$replaced" && ZURVAX_EMULATION=drives.json ZURVAX_TRACE=trace.txt timeout 300 "$BIN" upgrade \
   --image kmr47000_0200.gbf --accept-agreement --yes --json >out.json 2>err.txt) &
runner=$!
for _ in $(seq 300); do grep -q 'WriteBuffer 0 mode=5' "$replaced/trace.txt" 2>/dev/null && break; sleep 0.1; done
{ printf 'KMR47000-FW:0300'; head -c 30000 /dev/zero | tr '\0' 'y'; } >"$replaced/next.gbf"
mv "$replaced/next.gbf" "$replaced/kmr47000_0200.gbf"
wait "$runner"
check "an image replaced between drives: both drives upgraded to the hashed image's 0200" \
  test "$(results "$replaced/out.json")/$(python3 -c 'import json,sys; print(" ".join(d["revision_after"] or "-" for d in json.load(open(sys.argv[1]))["drives"]))' "$replaced/out.json")" = "upgraded upgraded/0200 0200"

echo "cli: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
