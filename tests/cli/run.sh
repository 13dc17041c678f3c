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
# Each run's journal in the scratch folder, never the machine's own.
export FWUPGRADE_STATE_DIR=$WORK/state

# The groups below wait on emulated drives in real time and share nothing but the sample
# image: they run side by side, each writing its checks' lines to a log of its own, printed
# in order at the end.
check() { # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; return 1; fi
}
IMAGE=$WORK/kmr47000_0200.gbf
cp "$(dirname "$BIN")/kmr47000_0200.gbf" "$IMAGE" 2>/dev/null ||
  { printf 'KMR47000-FW:0200'; head -c 30000 /dev/zero | tr '\0' 'x'; } >"$IMAGE"
GROUPS_RUN=()
group() { # group NAME FUNCTION: FUNCTION in the background, its lines in logs/NAME
  mkdir -p "$WORK/logs"
  "$2" >"$WORK/logs/$1" 2>&1 &
  GROUPS_RUN+=("$1")
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
  cp "$IMAGE" "$folder/"
  (cd "$folder" && ZURVAX_EMULATION=drives.json ZURVAX_TRACE=trace.txt timeout 300 "$BIN" upgrade \
     --image kmr47000_0200.gbf --accept-agreement --yes --json "$@" >out.json 2>err.txt)
  echo $? >"$folder/status"
}

fleets() {
fleet serial &
FWUPGRADE_STATE_DIR=$WORK/parallel-state fleet parallel --jobs 4
wait
check "one at a time: upgraded, upgraded, current, upgraded" \
  test "$(results "$WORK/serial/out.json")" = "upgraded upgraded current upgraded"
check "--jobs 4 gives the same results" test "$(results "$WORK/parallel/out.json")" = "$(results "$WORK/serial/out.json")"
check "--jobs 4 exits 0" test "$(cat "$WORK/parallel/status")" = 0
check "--jobs 4: one commit for each drive to flash, none for the current one" \
  test "$(grep -c 'mode=5' "$WORK/parallel/trace.txt")" = 3
check "--jobs 4: the journal has each drive once, of one run, with the image as named" sh -c \
  "FWUPGRADE_STATE_DIR='$WORK/parallel-state' '$BIN' history --json | python3 -c 'import json,sys
e = json.load(sys.stdin)[\"entries\"]
assert sorted(x[\"serial\"] for x in e) == [\"SN-1\", \"SN-2\", \"SN-3\", \"SN-4\"], e
assert len({x[\"run\"] for x in e}) == 1, e
assert {x[\"image\"][\"path\"] for x in e} == {\"kmr47000_0200.gbf\"}, e'"
for run in serial parallel; do
  check "$run: the document validates" python3 "$ROOT/tests/cli/validate_json.py" "$SCHEMA" "$WORK/$run/out.json"
done
# What the four processes took is all in the state file: the next run has nothing to do.
(cd "$WORK/parallel" && ZURVAX_EMULATION=drives.json timeout 120 "$BIN" check --image kmr47000_0200.gbf --json \
   >again.json 2>/dev/null)
check "a second run finds every drive current" test "$(results "$WORK/parallel/again.json")" = "current current current current"
check "list --json validates" sh -c "cd '$WORK/parallel' && ZURVAX_EMULATION=drives.json '$BIN' list --json >list.json && \
  python3 '$ROOT/tests/cli/validate_json.py' '$SCHEMA' list.json"
}
group fleets fleets

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
  cp "$IMAGE" "$folder/"
  # shellcheck disable=SC2086 # the options are words
  (cd "$folder" && ZURVAX_EMULATION=drives.json ZURVAX_TRACE=trace.txt timeout 300 "$BIN" upgrade \
     --image kmr47000_0200.gbf --accept-agreement --yes --json --jobs 2 $options >out.json 2>err.txt)
  local got=$?
  touch "$folder/trace.txt"
  check "--jobs, $name: exit $status, commits to drives [$expected]" \
    test "$got/$(commits "$folder/trace.txt")" = "$status/$expected"
}
jobs_cases() {
jobs_case index-like-serial "1 SN-B" "" 0 "0 1"
jobs_case index-with-index-like-serial "1 SN-B" "--device 0" 0 "0"
jobs_case serial-all "SN-A all SN-C" "--device serial:all" 0 "1"
jobs_case path-like-serial "0:1:0 SN-B" "" 0 "0 1"
jobs_case ten-digit-serial "SN-A 1234567890" "--device 1234567890" 0 "1"
jobs_case ambiguous "1 SN-B" "--device 1" 2 ""
}
group jobs jobs_cases

# A file replaced between two drives (a new build copied over the old one) changes nothing of
# the run: every drive gets the bytes that were hashed. Drive 0 takes a few seconds of polls;
# the image is replaced as soon as its commit is in the trace.
replaced_case() {
replaced=$WORK/replaced
mkdir -p "$replaced"
cat >"$replaced/drives.json" <<JSON
{ "devices": [ { "serial": "SN-1", "activation_polls": 1 }, { "serial": "SN-2", "activation_polls": 0 } ] }
JSON
cp "$IMAGE" "$replaced/"
(cd "$replaced" && ZURVAX_EMULATION=drives.json ZURVAX_TRACE=trace.txt timeout 300 "$BIN" upgrade \
   --image kmr47000_0200.gbf --accept-agreement --yes --json >out.json 2>err.txt) &
runner=$!
for _ in $(seq 300); do grep -q 'WriteBuffer 0 mode=5' "$replaced/trace.txt" 2>/dev/null && break; sleep 0.1; done
{ printf 'KMR47000-FW:0300'; head -c 30000 /dev/zero | tr '\0' 'y'; } >"$replaced/next.gbf"
mv "$replaced/next.gbf" "$replaced/kmr47000_0200.gbf"
wait "$runner"
check "an image replaced between drives: both drives upgraded to the hashed image's 0200" \
  test "$(results "$replaced/out.json")/$(python3 -c 'import json,sys; print(" ".join(d["revision_after"] or "-" for d in json.load(open(sys.argv[1]))["drives"]))' "$replaced/out.json")" = "upgraded upgraded/0200 0200"
}
group replaced replaced_case

# Stops as a fleet operator meets them: a signal at a given moment of the run, in real time
# (the emulated drives answer slowly, or take polls to come back), to the run's process group
# (a terminal's Ctrl-C) or to the parent alone (a time-out's kill), or a SIGKILL to a child.
# Each row: a name, --jobs, each command's latency (ms), the polls a commit takes, the trace
# line to wait for and how many of it, whom to signal, the signal; then the exit status, the
# results and the commits by drive index that must follow. No child may be left.
image_of() { # image_of FILE KIB: an image of the emulated drive's format
  { printf 'KMR47000-FW:0200'; head -c $(($2 * 1024 - 16)) /dev/zero | tr '\0' 'z'; } >"$1"
}
stop_case() {
  local name=$1 jobs=$2 latency=$3 polls=$4 wait_for=$5 count=$6 whom=$7 signal=$8
  local status=$9 expected=${10} commits_expected=${11} folder=$WORK/stop-$1 seen
  mkdir -p "$folder"
  cat >"$folder/drives.json" <<JSON
{ "state_file": "state.json", "devices": [
  { "serial": "SN-1", "latency_ms": $latency, "activation_polls": $polls },
  { "serial": "SN-2", "latency_ms": $latency, "activation_polls": $polls } ] }
JSON
  # The script's own wait for the moment can lag by seconds on a loaded machine: the signal
  # must still land in that moment. 2 MiB at 30 ms a command leaves a transfer of over ten
  # seconds after its third chunk; three polls leave six seconds after a commit.
  image_of "$folder/kmr47000_0200.gbf" 2048
  # In a session of its own, so that a signal to its group reaches the run alone.
  (cd "$folder" && ZURVAX_EMULATION=drives.json ZURVAX_TRACE=trace.txt exec setsid "$BIN" upgrade \
     --image kmr47000_0200.gbf --accept-agreement --yes --jobs "$jobs" --report report.json \
     >out.txt 2>err.txt) &
  local run=$!
  for _ in $(seq 1200); do
    seen=$(grep -c -- "$wait_for" "$folder/trace.txt" 2>/dev/null)
    [ "${seen:-0}" -ge "$count" ] && break
    sleep 0.05
  done
  case $whom in
  group) kill -"$signal" -- "-$run" ;;
  parent) kill -"$signal" "$run" ;;
  child) kill -"$signal" "$(pgrep -P "$run" -f -- --child-drive | head -n1)" ;;
  esac
  wait "$run"
  local got=$?
  touch "$folder/trace.txt"
  # The run's children are in its session; other groups' children are not.
  local outcome
  outcome="$got/$(results "$folder/report.json" 2>/dev/null)/$(commits "$folder/trace.txt")/$(pgrep -c -s "$run" -f -- --child-drive)"
  check "stop, $name: exit $status, [$expected], commits [$commits_expected], no child left" \
    test "$outcome" = "$status/$expected/$commits_expected/0" || echo "     got $outcome; standard error: $(tail -n 3 "$folder/err.txt" | tr '\n' '|')"
}
# One after another: each signal lands at a moment timed by the trace, which load from a
# neighbour in the same group would blur.
stop_cases() {
stop_case transfer 1 30 0 "offset=16384" 1 group TERM 5 "failed refused" ""
stop_case transfer-jobs 2 30 0 "offset=16384" 2 group INT 5 "failed failed" ""
stop_case parent-alone 2 30 0 "offset=16384" 2 parent HUP 5 "failed failed" ""
stop_case polling 1 0 3 "mode=5" 1 group TERM 5 "upgraded refused" "0"
stop_case polling-jobs 2 0 3 "mode=5" 2 group TERM 5 "upgraded upgraded" "0 1"
stop_case child-killed 2 0 0 "mode=5" 2 child KILL 0 "upgraded upgraded" "0 1"
}
group stops stop_cases

# A run killed outright (SIGKILL: nothing of it runs on) once its commit is out: the journal,
# on the disk before the command went, tells history that a commit was sent, and the next
# run's lines do not mix with it.
killed_case() {
killed=$WORK/killed
mkdir -p "$killed"
echo '{ "devices": [ { "serial": "SN-K", "latency_ms": 400 }, { "serial": "SN-L" } ] }' \
  >"$killed/drives.json"
image_of "$killed/kmr47000_0200.gbf" 8
(cd "$killed" && FWUPGRADE_STATE_DIR=$killed/state ZURVAX_EMULATION=drives.json exec "$BIN" upgrade \
   --image kmr47000_0200.gbf --device serial:SN-K --accept-agreement --yes >/dev/null 2>&1) &
victim=$!
for _ in $(seq 1500); do
  grep -q '"event":"commit_sent"' "$killed/state/journal.jsonl" 2>/dev/null && break
  sleep 0.02
done
kill -KILL "$victim"
wait "$victim" 2>/dev/null
(cd "$killed" && FWUPGRADE_STATE_DIR=$killed/state ZURVAX_EMULATION=drives.json "$BIN" upgrade \
   --image kmr47000_0200.gbf --device serial:SN-L --accept-agreement --yes >/dev/null 2>&1)
check "killed after its commit: history says outcome unknown, commit sent" sh -c \
  "FWUPGRADE_STATE_DIR='$killed/state' '$BIN' history --device serial:SN-K | grep -q 'outcome unknown; last phase recorded: commit sent'"
check "history --json: one entry per drive and run, the other drive upgraded" sh -c \
  "FWUPGRADE_STATE_DIR='$killed/state' '$BIN' history --json | python3 -c 'import json,sys
e = json.load(sys.stdin)[\"entries\"]
assert [(x[\"serial\"], x[\"result\"], x[\"last_phase\"]) for x in e] == [(\"SN-K\", None, \"commit_sent\"), (\"SN-L\", \"upgraded\", \"polling\")], e'"
}
group killed killed_case

# Outputs: a report that cannot be written is known before any drive is touched; one that
# fails at the end, or a document standard output cannot take, makes the status at least 1.
output_cases() {
out=$WORK/outputs
mkdir -p "$out"
echo '{ "devices": [ { "serial": "SN-1", "activation_polls": 0 } ] }' >"$out/drives.json"
cp "$IMAGE" "$out/"
cp "$out/kmr47000_0200.gbf" "$out/original.gbf"
output_case() { # output_case NAME STATUS TOUCHED(yes|no) STDOUT ARGS...
  local name=$1 status=$2 touched=$3 stdout=$4
  shift 4
  rm -f "$out/trace.txt"
  (cd "$out" && ZURVAX_EMULATION=drives.json ZURVAX_TRACE=trace.txt timeout 120 "$BIN" check \
     --image kmr47000_0200.gbf "$@" >"$stdout" 2>err.txt)
  local got=$? was=no
  [ -s "$out/trace.txt" ] && was=yes
  check "output, $name: exit $status, drive touched: $touched" test "$got/$was" = "$status/$touched"
}
output_case "report in a missing folder" 2 no /dev/null --report missing/report.json
output_case "report naming the image" 2 no /dev/null --report kmr47000_0200.gbf
check "output, the image is left as it was" cmp -s "$out/kmr47000_0200.gbf" "$out/original.gbf"
output_case "report to a full device" 1 yes /dev/null --report /dev/full
output_case "document to a full standard output" 1 yes /dev/full --json
check "output, a report written whole, no file beside it" sh -c "cd '$out' && \
  ZURVAX_EMULATION=drives.json '$BIN' check --image kmr47000_0200.gbf --report r.json 2>/dev/null && \
  python3 -c 'import json; json.load(open(\"r.json\"))' && [ \$(ls | grep -c fwupgrade-) -eq 0 ]"
# A reader of standard error that goes away (2>&1 | head) must not end the run mid-transfer.
(cd "$out" && ZURVAX_EMULATION=drives.json timeout 120 "$BIN" upgrade --image kmr47000_0200.gbf \
   --accept-agreement --yes --report piped.json 2>&1 >/dev/null | true)
check "output, a closed standard error: the run goes on to its result" \
  test "$(results "$out/piped.json" 2>/dev/null)" = upgraded
}
group outputs output_cases

wait
cat "${GROUPS_RUN[@]/#/$WORK/logs/}"
PASSED=$(cat "${GROUPS_RUN[@]/#/$WORK/logs/}" | grep -c '^ok ')
FAILED=$(cat "${GROUPS_RUN[@]/#/$WORK/logs/}" | grep -c '^FAIL ')
echo "cli: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ] && [ "$PASSED" -gt 0 ]
