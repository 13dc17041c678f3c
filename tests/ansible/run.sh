#!/usr/bin/env bash
# The Ansible collection (ansible/) against the real fwupgrade on emulated drives.
#
#   tests/ansible/run.sh [FWUPGRADE]     (default $FWUPGRADE, else build/linux/bin/fwupgrade)
#
# Builds and installs the collection into a scratch folder, makes an inventory of four
# local hosts, each with its own emulated drives (ZURVAX_EMULATION with a state_file, so a
# drive keeps the revision it took from one run to the next) and its own trace
# (ZURVAX_TRACE), and runs the playbooks. Every check prints "ok" or "FAIL"; the script
# ends with "N passed, N failed" and exits non-zero when any check failed.
# KEEP=1 leaves the scratch folder (logs, traces) in place.
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)

FWUPGRADE=${1:-${FWUPGRADE:-$ROOT/build/linux/bin/fwupgrade}}
case $FWUPGRADE in /*) ;; *) FWUPGRADE=$PWD/$FWUPGRADE ;; esac
if [ ! -x "$FWUPGRADE" ]; then
    echo "run.sh: $FWUPGRADE is not an executable program (build the linux preset first)" >&2
    exit 2
fi
# A program without the command-line interface would start its terminal screen and wait for
# a key: fail at once instead of hanging every playbook.
PREFLIGHT=$(ZURVAX_EMULATION=demo timeout 30 "$FWUPGRADE" list --json </dev/null 2>/dev/null)
if ! grep -q '"format_version"' <<<"$PREFLIGHT"; then
    echo "run.sh: $FWUPGRADE list --json gives no JSON document: not the command-line fwupgrade" >&2
    echo "ansible: 0 passed, 1 failed"
    exit 1
fi
# Debian's python3 has the packages ansible-core and python3-jsonschema installed for it.
PY=${PYTHON:-/usr/bin/python3}
for tool in ansible-playbook ansible-galaxy ansible-doc; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool missing (scripts/install-deps.sh)" >&2; exit 2; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/fwupgrade-ansible.XXXXXX")
if [ "${KEEP:-0}" = 1 ]; then echo "scratch folder: $WORK"; else trap 'rm -rf "$WORK"' EXIT; fi
mkdir -p "$WORK/logs" "$WORK/tmp" "$WORK/images"

# Nothing from the user's or the machine's Ansible set-up may take part.
export ANSIBLE_CONFIG=$WORK/ansible.cfg
: >"$ANSIBLE_CONFIG"
export ANSIBLE_COLLECTIONS_PATH=$WORK/collections ANSIBLE_COLLECTIONS_PATHS=$WORK/collections
export ANSIBLE_COLLECTIONS_SCAN_SYS_PATH=false
export ANSIBLE_LOCAL_TEMP=$WORK/tmp/local ANSIBLE_REMOTE_TEMP=$WORK/tmp/remote
export ANSIBLE_ASYNC_DIR=$WORK/tmp/async
export ANSIBLE_INVENTORY=$WORK/inventory.yml
export ANSIBLE_PYTHON_INTERPRETER=$PY
export ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0 ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_STDOUT_CALLBACK=default ANSIBLE_LOAD_CALLBACK_PLUGINS=0
export ANSIBLE_FORKS=8 ANSIBLE_HOST_KEY_CHECKING=0

PASSED=0
FAILED=0
ok() { echo "ok   $*"; PASSED=$((PASSED + 1)); }
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }
# check DESCRIPTION COMMAND...: one check, passed when the command succeeds.
check() {
    local what=$1
    shift
    if "$@"; then ok "$what"; else bad "$what"; fi
}
finish() {
    echo "ansible: $PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
    exit
}

HOSTS=(tape1 tape2 tape3 tape4)
declare -A DRIVES=([tape1]=2 [tape2]=1 [tape3]=1 [tape4]=1)
hostdir() { echo "$WORK/hosts/$1"; }
trace() { echo "$(hostdir "$1")/trace.log"; }

# emulation HOST [FAULTS-JSON]: the host's drives, all at 0100 unless their state file says
# otherwise (it keeps revisions by serial number); FAULTS-JSON goes on every drive of the host.
emulation() {
    local host=$1 faults=${2:-} dir devices="" i
    dir=$(hostdir "$host")
    for ((i = 0; i < DRIVES[$host]; i++)); do
        devices+="${devices:+,}{\"serial\": \"VRN-$host-$i\", \"revision\": \"0100\", \"host_adapter\": 2,"
        devices+=" \"target\": $((i + 1)), \"activation_polls\": 0${faults:+, \"faults\": $faults}}"
    done
    printf '{\n  "state_file": "%s",\n  "devices": [%s]\n}\n' "$dir/state.json" "$devices" >"$dir/emulation.json"
}

{
    echo "all:"
    echo "  vars:"
    echo "    ansible_connection: local"
    echo "    ansible_python_interpreter: $PY"
    echo "    firmware_executable: $FWUPGRADE"
    echo "    firmware_poll: 1"
    echo "    firmware_async_timeout: 600"
    echo "  children:"
    echo "    tape_hosts:"
    echo "      hosts:"
    for h in "${HOSTS[@]}"; do
        mkdir -p "$(hostdir "$h")"
        emulation "$h"
        echo "        $h:"
        echo "          expected_drives: ${DRIVES[$h]}"
        echo "          firmware_image_dir: $(hostdir "$h")/staging"
        echo "          firmware_environment:"
        echo "            ZURVAX_EMULATION: $(hostdir "$h")/emulation.json"
        echo "            ZURVAX_TRACE: $(trace "$h")"
    done
} >"$WORK/inventory.yml"

# image REVISION: an image the emulated drive takes (its header names the revision it installs).
image() {
    local file=$WORK/images/kmr47000_$1.gbf
    "$PY" - "$file" "$1" <<'EOF'
import sys
header = b"KMR47000-FW:" + sys.argv[2].encode()
body = bytes((i * 7 + i // 8192) & 0xFF for i in range(20000 - len(header)))
open(sys.argv[1], "wb").write(header + body)
EOF
    echo "$file"
}
IMAGE_0200=$(image 0200)
IMAGE_0300=$(image 0300)
IMAGE_0100=$(image 0100)

writes() { grep -Ec '(^|[[:space:]])WriteBuffer ' "$(trace "$1")" 2>/dev/null; }
no_writes() { [ "$(writes "$1")" = 0 ] || [ ! -s "$(trace "$1")" ]; }
# A commit (WRITE BUFFER mode 5) reached the host's drives.
committed() { grep -Eq '(^|[[:space:]])WriteBuffer .*mode=5' "$(trace "$1")" 2>/dev/null; }
clear_traces() { for h in "${HOSTS[@]}"; do : >"$(trace "$h")"; done; }
# Every drive back at 0100, so that a phase does not depend on what an earlier one did wrong.
reset_drives() { for h in "${HOSTS[@]}"; do rm -f "$(hostdir "$h")/state.json"; done; }

# play NAME ARGS...: ansible-playbook with its output in logs/NAME.log; returns its status.
play() {
    local name=$1
    shift
    ansible-playbook "$@" >"$WORK/logs/$name.log" 2>&1
}
show() { echo "---- last lines of $1.log"; tail -n 40 "$WORK/logs/$1.log"; echo "----"; }

# task_hosts LOG TASK STATUS: the hosts the default callback reported with STATUS
# (ok/changed/fatal/skipping) under every header of TASK, in order.
task_hosts() {
    awk -v task="TASK [$2]" -v status="$3" '
        /^TASK \[/ { inside = (index($0, task) == 1) }
        inside && index($0, status ": [") == 1 { sub(/^[a-z]+: \[/, ""); sub(/\].*/, ""); print }
    ' "$WORK/logs/$1.log"
}
# every_host_unchanged LOG: the recap shows changed=0 for every host.
every_host_unchanged() {
    local h
    for h in "${HOSTS[@]}"; do
        grep -Eq "^$h +: ok=[0-9]+ +changed=0 +unreachable=0 +failed=0" "$WORK/logs/$1.log" || return 1
    done
}
FIRMWARE_TASK="vorn.tape.firmware_rollout : Upgrade the drives' firmware"

# --- the collection builds, installs and documents itself -------------------------------
check "collection builds" \
    ansible-galaxy collection build "$ROOT/ansible" --output-path "$WORK/dist" >"$WORK/logs/build.log" 2>&1
COLLECTION_VERSION=$(sed -nE 's/^version: *"?([0-9.]+)"?.*/\1/p' "$ROOT/ansible/galaxy.yml")
PROJECT_VERSION=$(sed -nE 's/^project\(fwupgrade VERSION ([0-9.]+).*/\1/p' "$ROOT/CMakeLists.txt")
PROGRAM_VERSION=$("$PY" -c 'import json,sys; print(json.loads(sys.argv[1])["version"])' "$PREFLIGHT")
check "collection, project and program have one version ($COLLECTION_VERSION, $PROJECT_VERSION, $PROGRAM_VERSION)" \
    test -n "$COLLECTION_VERSION" -a "$COLLECTION_VERSION" = "$PROJECT_VERSION" -a "$PROJECT_VERSION" = "$PROGRAM_VERSION"
check "collection installs into a folder" \
    ansible-galaxy collection install -p "$WORK/collections" "$WORK/dist/vorn-tape-$COLLECTION_VERSION.tar.gz" \
    >"$WORK/logs/install.log" 2>&1
[ "$FAILED" -eq 0 ] || { cat "$WORK/logs/build.log" "$WORK/logs/install.log"; finish; }

# doc_renders NAME OPTION...: ansible-doc shows the plugin, every option, examples and
# return values, with no warning.
doc_renders() {
    local name=$1 out=$WORK/logs/doc-$1.log option
    shift
    ansible-doc "$name" >"$out" 2>&1 || { cat "$out"; return 1; }
    if grep -Eq '^\[WARNING\]|^\[DEPRECATION|^ERROR!' "$out"; then cat "$out"; return 1; fi
    grep -q "^> ${name^^} " "$out" && grep -q '^EXAMPLES:' "$out" && grep -q '^RETURN VALUES:' "$out" || return 1
    for option in "$@"; do grep -Eq "^[-=] $option\$" "$out" || { echo "option $option missing"; return 1; }; done
}
check "ansible-doc renders vorn.tape.tape_firmware" doc_renders vorn.tape.tape_firmware \
    image sha256 revision drives jobs accept_refused executable
check "ansible-doc renders vorn.tape.tape_drive_facts" doc_renders vorn.tape.tape_drive_facts executable
check "ansible-doc renders the role's arguments" \
    bash -c 'ansible-doc -t role vorn.tape.firmware_rollout 2>&1 | grep -q firmware_image_src'

# --- the program's own documents match the published schema -------------------------------
SCHEMA=$ROOT/docs/fwupgrade-result.schema.json
VALIDATE=("$PY" "$ROOT/tests/cli/validate_json.py" "$SCHEMA")
# direct_json NAME EXPECTED-STATUS ARGS...: the program on its own emulated drives, no state
# file; its --json document must validate and carry the exit status it exited with.
direct_json() {
    local name=$1 want=$2 rc=0
    shift 2
    ZURVAX_EMULATION=$WORK/direct.json "$FWUPGRADE" "$@" --json >"$WORK/logs/$name.json" 2>"$WORK/logs/$name.err" || rc=$?
    [ "$rc" = "$want" ] || { echo "exit status $rc, expected $want"; cat "$WORK/logs/$name.err"; return 1; }
    "${VALIDATE[@]}" "$WORK/logs/$name.json" || return 1
    "$PY" -c 'import json,sys; d=json.load(open(sys.argv[1])); sys.exit(d["exit_status"] != int(sys.argv[2]))' \
        "$WORK/logs/$name.json" "$rc"
}
cat >"$WORK/direct.json" <<'EOF'
{"devices": [{"revision": "0100", "activation_polls": 0},
             {"revision": "0100", "activation_polls": 0,
              "faults": [{"op": "WriteBuffer", "mode": 5, "status": "0x2600"}]}]}
EOF
check "list --json validates" direct_json list 0 list
check "check --json validates" direct_json check 0 check --image "$IMAGE_0200"
check "upgrade --json with a rejecting drive validates (exit 1)" \
    direct_json upgrade 1 upgrade --image "$IMAGE_0200" --accept-agreement --yes
check "the schema rejects a document with a result it does not know" bash -c '
    sed "s/\"upgraded\"/\"done\"/" "$1" | "${@:2}" - 2>/dev/null; [ $? = 1 ]' _ "$WORK/logs/upgrade.json" "${VALIDATE[@]}"

cat >"$WORK/nodrives.json" <<'EOF'
{"devices": [{"type": 8, "vendor": "ACMELIB", "product": "AUTOLOADER-8", "revision": "2.10"}]}
EOF
if play nodrives "$HERE/nodrives.yml" -e "emulation=$WORK/nodrives.json"; then
    ok "facts: a host without drives gets an empty list"
else
    bad "facts: a host without drives gets an empty list"; show nodrives
fi

# --- the modules on their own ---------------------------------------------------------
SHA_0200=$(sha256sum "$IMAGE_0200" | cut -d' ' -f1)
clear_traces
if play facts-before "$HERE/facts.yml" -e expect_revision=0100; then
    ok "facts: every host lists its drives at 0100"
else
    bad "facts: every host lists its drives at 0100"; show facts-before
fi
reset_drives
clear_traces
if play module "$HERE/module.yml" -e "image=$IMAGE_0200" -e "image_sha256=$SHA_0200"; then
    ok "module: digest mismatch refused unrun, check mode, drives by serial, no match"
else
    bad "module: digest mismatch refused unrun, check mode, drives by serial, no match"; show module
fi
for h in "${HOSTS[@]}"; do check "module: no WRITE BUFFER on $h" no_writes "$h"; done

# --- the rollout in check mode changes nothing --------------------------------------------
reset_drives
clear_traces
if play rollout-check vorn.tape.rollout --check -e "firmware_image_src=$IMAGE_0200"; then
    ok "check-mode rollout succeeds"
else
    bad "check-mode rollout succeeds"; show rollout-check
fi
check "check-mode rollout: the firmware task reports a change on every host" \
    test "$(task_hosts rollout-check "$FIRMWARE_TASK" changed | sort | tr '\n' ' ')" = "${HOSTS[*]} "
for h in "${HOSTS[@]}"; do check "check-mode rollout: no WRITE BUFFER on $h" no_writes "$h"; done
if play facts-after-check "$HERE/facts.yml" -e expect_revision=0100; then
    ok "check-mode rollout: every drive still at 0100"
else
    bad "check-mode rollout: every drive still at 0100"; show facts-after-check
fi

# --- the rollout upgrades every host, canary first ------------------------------------------
reset_drives
clear_traces
if play rollout vorn.tape.rollout -e "firmware_image_src=$IMAGE_0200"; then
    ok "rollout succeeds"
else
    bad "rollout succeeds"; show rollout
fi
check "rollout: the firmware task changed every host" \
    test "$(task_hosts rollout "$FIRMWARE_TASK" changed | sort | tr '\n' ' ')" = "${HOSTS[*]} "
check "rollout: three batches (1 canary, then 50% at a time), the canary alone first" \
    test "$(grep -c "^TASK \[$FIRMWARE_TASK\]" "$WORK/logs/rollout.log"),$(task_hosts rollout "$FIRMWARE_TASK" changed | head -n 1)" = "3,tape1"
for h in "${HOSTS[@]}"; do check "rollout: $h's drives took a commit" committed "$h"; done
if play facts-after-rollout "$HERE/facts.yml" -e expect_revision=0200; then
    ok "rollout: every drive reports 0200 in a later run"
else
    bad "rollout: every drive reports 0200 in a later run"; show facts-after-rollout
fi

clear_traces
if play refused "$HERE/refused.yml" -e "image=$IMAGE_0100"; then
    ok "an older image is refused: the task fails unless accept_refused"
else
    bad "an older image is refused: the task fails unless accept_refused"; show refused
fi
for h in "${HOSTS[@]}"; do check "refused: no WRITE BUFFER on $h" no_writes "$h"; done

# --- a second rollout has nothing to do ----------------------------------------------------
clear_traces
if play rollout-again vorn.tape.rollout -e "firmware_image_src=$IMAGE_0200"; then
    ok "second rollout succeeds"
else
    bad "second rollout succeeds"; show rollout-again
fi
check "second rollout: no host changed" every_host_unchanged rollout-again
for h in "${HOSTS[@]}"; do check "second rollout: no WRITE BUFFER on $h" no_writes "$h"; done

# --- a drive that rejects the image stops the rollout at its batch ---------------------------
# Batches: tape1 (canary), then tape2 and tape3, then tape4. tape2's drive rejects the commit.
emulation tape2 '[{"op": "WriteBuffer", "mode": 5, "status": "0x2600"}]'
clear_traces
if play rollout-reject vorn.tape.rollout -e "firmware_image_src=$IMAGE_0300"; then
    bad "rollout with a rejecting drive fails"; show rollout-reject
else
    ok "rollout with a rejecting drive fails"
fi
check "rejecting drive: the canary upgraded" test "$(task_hosts rollout-reject "$FIRMWARE_TASK" changed | head -n 1)" = tape1
check "rejecting drive: tape2's firmware task failed" \
    test "$(task_hosts rollout-reject "$FIRMWARE_TASK" fatal | tr '\n' ' ')" = "tape2 "
check "rejecting drive: the last batch never started" \
    bash -c '! grep -q "tape4" "$1"' _ "$WORK/logs/rollout-reject.log"
check "rejecting drive: no WRITE BUFFER on tape4" no_writes tape4
if play facts-after-reject "$HERE/facts.yml" -l tape4 -e expect_revision=0200; then
    ok "rejecting drive: tape4 still at 0200"
else
    bad "rejecting drive: tape4 still at 0200"; show facts-after-reject
fi

finish
