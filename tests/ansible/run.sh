#!/usr/bin/env bash
# The Ansible collection (ansible/) against the real fwupgrade on emulated drives, reached
# over SSH.
#
#   tests/ansible/run.sh [FWUPGRADE]     (default $FWUPGRADE, else build/linux/bin/fwupgrade)
#
# Lints the collection (ansible-lint, production profile) and runs validate-modules on it,
# builds and installs it into a scratch folder, starts one OpenSSH server per test host on
# its own loopback address (127.0.0.2 to 127.0.0.5, port $FWUPGRADE_TEST_SSH_PORT, default
# 2222) with keys made here, and runs the playbooks over SSH against four hosts, each with
# its own emulated drives (ZURVAX_EMULATION with a state_file, so a drive keeps the revision
# it took from one run to the next) and its own trace (ZURVAX_TRACE); one more host uses the
# local connection. Every check prints "ok" or "FAIL"; the script ends with "N passed,
# N failed" and exits non-zero when any check failed; every server it started is stopped.
# KEEP=1 leaves the scratch folder (logs, traces, reports) in place.
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
# Debian's python3 has the packages ansible-core, python3-jsonschema and python3-voluptuous
# installed for it.
PY=${PYTHON:-/usr/bin/python3}
for tool in ansible ansible-playbook ansible-galaxy ansible-doc ansible-lint ssh ssh-keygen /usr/sbin/sshd; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool missing (scripts/install-deps.sh)" >&2; exit 2; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/fwupgrade-ansible.XXXXXX")
SSHD_PIDS=()
# Every SSH server this script started ends with it, and with them their connections.
cleanup() {
    local pid socket
    # Ansible's connections (ControlPersist) first, so that no session outlives its server.
    for socket in "$WORK"/ssh/cp/*; do
        [ -S "$socket" ] && ssh -o ControlPath="$socket" -O exit fwupgrade-test >/dev/null 2>&1
    done
    for pid in "${SSHD_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${SSHD_PIDS[@]}"; do
        while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
    done
    if [ "${KEEP:-0}" = 1 ]; then echo "scratch folder: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
mkdir -p "$WORK/logs" "$WORK/tmp" "$WORK/images" "$WORK/ssh/cp" "$WORK/reports" "$WORK/cache"

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
export ANSIBLE_STDOUT_CALLBACK=default
# Every task result as JSON (callback/record.py): the checks read what Ansible recorded.
export ANSIBLE_CALLBACK_PLUGINS=$HERE/callback ANSIBLE_CALLBACKS_ENABLED=record
export ANSIBLE_FORKS=8 ANSIBLE_PIPELINING=1
# The controller checks its workers for results every millisecond by default: on a machine
# with few cores that spinning takes the time the workers need.
export ANSIBLE_INTERNAL_POLL_INTERVAL=0.05
# The hosts' keys are known from the start: a key that differs fails the connection.
export ANSIBLE_HOST_KEY_CHECKING=1
export ANSIBLE_SSH_ARGS="-o ControlMaster=auto -o ControlPersist=60s -o IdentitiesOnly=yes -o BatchMode=yes -o UserKnownHostsFile=$WORK/ssh/known_hosts -o StrictHostKeyChecking=yes"
export ANSIBLE_SSH_CONTROL_PATH_DIR=$WORK/ssh/cp
# ansible-lint installs the collection into its cache: the scratch folder's.
export XDG_CACHE_HOME=$WORK/cache

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
declare -A ADDRESS=([tape1]=127.0.0.2 [tape2]=127.0.0.3 [tape3]=127.0.0.4 [tape4]=127.0.0.5)
SSH_PORT=${FWUPGRADE_TEST_SSH_PORT:-2222}
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

# --- one SSH server per host ---------------------------------------------------------------
# Each on its own loopback address, with its own host key and configuration; one login key
# for all. Root logs in with the key only; the role still goes through become (sudo, which
# asks root for no password), as it does for an operator's account.
ssh-keygen -q -t ed25519 -N '' -C fwupgrade-test -f "$WORK/ssh/login" || exit 2
cp "$WORK/ssh/login.pub" "$WORK/ssh/authorized_keys"
: >"$WORK/ssh/known_hosts"
# The sessions' HOME is an empty folder of the test's: the login shell would otherwise read
# the account's own start-up files (bash reads ~/.bashrc for a command over SSH), which
# belong to this machine, not to the test, and may be slow or print.
mkdir -p "$WORK/ssh/home"
# sshd will not start without its privilege separation folder, which its service makes.
[ -d /run/sshd ] || mkdir -p -m 0755 /run/sshd
for h in "${HOSTS[@]}"; do
    if [ -n "$(ss -Hltn "( sport = :$SSH_PORT )" 2>/dev/null | awk -v a="${ADDRESS[$h]}" '$4 ~ "^(" a "|0.0.0.0|\\*|\\[::\\]):"')" ]; then
        echo "run.sh: port $SSH_PORT is taken on ${ADDRESS[$h]} (set FWUPGRADE_TEST_SSH_PORT)" >&2
        exit 2
    fi
    dir=$WORK/ssh/$h
    mkdir -p "$dir"
    ssh-keygen -q -t ed25519 -N '' -C "$h" -f "$dir/host_key" || exit 2
    cat >"$dir/sshd_config" <<CONFIG
ListenAddress ${ADDRESS[$h]}:$SSH_PORT
HostKey $dir/host_key
AuthorizedKeysFile $WORK/ssh/authorized_keys
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PrintMotd no
Subsystem sftp internal-sftp
SetEnv HOME=$WORK/ssh/home
CONFIG
    # In the foreground (-D), as this script's child: its id is known at once, and a signal
    # to the test's process group reaches it too.
    /usr/sbin/sshd -D -f "$dir/sshd_config" -E "$dir/sshd.log" &
    SSHD_PIDS+=("$!")
    for _ in $(seq 200); do
        ss -Hltn "( sport = :$SSH_PORT )" 2>/dev/null | grep -q "${ADDRESS[$h]}:$SSH_PORT" && break
        kill -0 "$!" 2>/dev/null || break
        sleep 0.05
    done
    if ! ss -Hltn "( sport = :$SSH_PORT )" 2>/dev/null | grep -q "${ADDRESS[$h]}:$SSH_PORT"; then
        echo "run.sh: sshd for $h does not listen on ${ADDRESS[$h]}:$SSH_PORT" >&2
        cat "$dir/sshd.log" >&2
        exit 2
    fi
    echo "[${ADDRESS[$h]}]:$SSH_PORT $(cut -d' ' -f1,2 "$dir/host_key.pub")" >>"$WORK/ssh/known_hosts"
done

{
    echo "all:"
    echo "  vars:"
    echo "    ansible_python_interpreter: $PY"
    echo "    firmware_executable: $FWUPGRADE"
    echo "    firmware_poll: 1"
    echo "    firmware_async_timeout: 600"
    echo "    firmware_report_dir: $WORK/reports"
    echo "  children:"
    echo "    tape_hosts:"
    echo "      vars:"
    echo "        ansible_connection: ssh"
    echo "        ansible_user: root"
    echo "        ansible_port: $SSH_PORT"
    echo "        ansible_ssh_private_key_file: $WORK/ssh/login"
    echo "      hosts:"
    for h in "${HOSTS[@]}"; do
        mkdir -p "$(hostdir "$h")"
        emulation "$h"
        echo "        $h:"
        echo "          ansible_host: ${ADDRESS[$h]}"
        echo "          expected_drives: ${DRIVES[$h]}"
        echo "          firmware_image_dir: $(hostdir "$h")/staging"
        echo "          firmware_environment:"
        echo "            ZURVAX_EMULATION: $(hostdir "$h")/emulation.json"
        echo "            ZURVAX_TRACE: $(trace "$h")"
    done
    echo "    local_hosts:"
    echo "      hosts:"
    echo "        tapelocal:"
    echo "          ansible_connection: local"
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

# seconds_since EPOCH: the seconds from EPOCH (date +%s.%N) to now, one decimal, no newline.
seconds_since() { awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }'; }

# play NAME ARGS...: ansible-playbook with its output in logs/NAME.log, every result in
# logs/NAME.jsonl and its seconds in logs/times.log; returns its status.
play() {
    local name=$1
    shift
    local started rc=0
    started=$(date +%s.%N)
    : >"$WORK/logs/$name.jsonl"
    RECORD_FILE=$WORK/logs/$name.jsonl ansible-playbook "$@" >"$WORK/logs/$name.log" 2>&1 || rc=$?
    seconds_since "$started" >>"$WORK/logs/times.log"
    echo " $name" >>"$WORK/logs/times.log"
    return "$rc"
}
show() { echo "---- last lines of $1.log"; tail -n 40 "$WORK/logs/$1.log"; echo "----"; }
# played NAME DESCRIPTION ARGS...: one check, passed when the playbook succeeds.
played() {
    local name=$1 what=$2
    shift 2
    if play "$name" "$@"; then ok "$what"; else bad "$what"; show "$name"; fi
}
# results NAME QUESTION...: tests/ansible/results.py on logs/NAME.jsonl.
results() {
    local name=$1
    shift
    "$PY" "$HERE/results.py" "$WORK/logs/$name.jsonl" "$@"
}
# task_hosts NAME TASK STATUS: the hosts with STATUS (ok/changed/failed/skipped) for TASK,
# sorted, on one line.
task_hosts() { results "$1" hosts "$2" "$3" | sort | tr '\n' ' '; }
# unchanged NAME: the recap counts no change on any host.
unchanged() {
    local h
    for h in "${HOSTS[@]}"; do [ "$(results "$1" stats "$h" changed)" = 0 ] || return 1; done
}
ROLE="vorn.tape.firmware_rollout"
PLAN_TASK="$ROLE : Which drives the image would upgrade"
COPY_TASK="$ROLE : Copy the image to the host"
FIRMWARE_TASK="$ROLE : Upgrade the drives' firmware"
ALL_HOSTS="${HOSTS[*]} "

# --- the collection as its users check it -----------------------------------------------
# ansible-lint pointed at the collection root reads galaxy.yml alone: each folder is named.
lint() {
    (cd "$ROOT/ansible" && ansible-lint -p --nocolor --profile production \
        roles playbooks plugins meta galaxy.yml) >"$WORK/logs/lint.log" 2>&1 &&
        grep -q 'Passed with production profile' "$WORK/logs/lint.log" && return
    # Its findings, without the lists some of them quote in full.
    grep -E '^[^ ]+:[0-9]+: |Failed' "$WORK/logs/lint.log" | cut -c1-240
    return 1
}
check "ansible-lint, production profile, clean over role, playbooks, plugins, meta and galaxy.yml" lint

BEFORE_BUILD=$FAILED
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
[ "$FAILED" -eq "$BEFORE_BUILD" ] || { cat "$WORK/logs/build.log" "$WORK/logs/install.log"; finish; }
INSTALLED=$WORK/collections/ansible_collections/vorn/tape

check "validate-modules clean (ignores only with their reason)" \
    "$PY" "$HERE/validate_modules.py" "$WORK/collections" vorn tape "$COLLECTION_VERSION"
# metadata FILE PYTHON-EXPRESSION: the expression is true of the YAML or JSON file as d.
metadata() {
    "$PY" -c 'import sys, yaml; d = yaml.safe_load(open(sys.argv[1])); sys.exit(not eval(sys.argv[2]))' "$1" "$2"
}
check "galaxy.yml: repository, documentation and a LICENSE file it names" \
    metadata "$ROOT/ansible/galaxy.yml" \
    "d.get('repository', '').startswith('https://') and d.get('documentation', '').startswith('https://') and d.get('license_file') == 'LICENSE'"
check "the installed collection has its LICENSE and changelog" \
    test -s "$INSTALLED/LICENSE" -a -s "$INSTALLED/changelogs/changelog.yaml"
check "changelog.yaml has a release for $COLLECTION_VERSION with changes" \
    metadata "$INSTALLED/changelogs/changelog.yaml" "d['releases']['$COLLECTION_VERSION']['changes']"
check "meta/runtime.yml requires an ansible-core version" metadata "$INSTALLED/meta/runtime.yml" "d['requires_ansible'].startswith('>=')"

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
    image src sha256 revision drives jobs accept_refused executable
check "ansible-doc renders vorn.tape.tape_drive_facts" doc_renders vorn.tape.tape_drive_facts executable
check "ansible-doc renders the role's arguments" \
    bash -c 'ansible-doc -t role vorn.tape.firmware_rollout 2>&1 | grep -q firmware_report_dir'

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

# --- the hosts ---------------------------------------------------------------------------
# who_answers: the SSH hosts through ssh as root, the local one through local; all become uid 0.
who_answers() {
    local h
    for h in "${HOSTS[@]}"; do results ping check "Who answers" "$h" "r['msg'] == ['ssh', 'root', '0']" || return 1; done
    results ping check "Who answers" tapelocal "r['msg'][0] == 'local' and r['msg'][2] == '0'"
}
played ping "every test host answers over SSH, with become" \
    "$ROOT/tests/ansible/ping.yml"
check "the SSH hosts were reached through ssh, the local one through local" \
    who_answers

# No drive and no access are told apart (the local connection's case).
cat >"$WORK/nodrives.json" <<'EOF'
{"devices": [{"type": 8, "vendor": "ACMELIB", "product": "AUTOLOADER-8", "revision": "2.10"}]}
EOF
cat >"$WORK/noaccess.json" <<'EOF'
{"devices": [{"revision": "0100", "faults": [{"op": "ReadRawInquiryData", "status": "0x00010008", "count": 0}]}]}
EOF
played nodrives "facts: no drive is an empty list, no access fails with the program's message (local)" \
    "$HERE/nodrives.yml" -e "nodrives=$WORK/nodrives.json" -e "noaccess=$WORK/noaccess.json"

# --- the modules on their own ---------------------------------------------------------
SHA_0200=$(sha256sum "$IMAGE_0200" | cut -d' ' -f1)
clear_traces
played facts-before "facts: every host lists its drives at 0100" "$HERE/facts.yml" -e expect_revision=0100
reset_drives
clear_traces
played module "module: digest refused by the program, check mode, diff, src, serial:, no match" \
    "$HERE/module.yml" -e "image=$IMAGE_0200" -e "image_sha256=$SHA_0200"
for h in "${HOSTS[@]}"; do check "module: no WRITE BUFFER on $h" no_writes "$h"; done

# --- the rollout in check mode changes nothing, and says what it would do -------------------
reset_drives
clear_traces
played rollout-check "check-mode rollout with diff succeeds" \
    vorn.tape.rollout --check --diff -e "firmware_image_src=$IMAGE_0200"
check "check-mode rollout: every host says which drives it would upgrade" \
    test "$(task_hosts rollout-check "$PLAN_TASK" changed)" = "$ALL_HOSTS"
for h in "${HOSTS[@]}"; do
    check "check-mode rollout: $h's message names each drive, from 0100 to 0200, and the diff shows it" \
        results rollout-check check "$PLAN_TASK" "$h" \
        "len([p for p in r['msg'].split('; ') if p.startswith('would upgrade VRN-$h-') and p.endswith(' from 0100 to 0200')]) == ${DRIVES[$h]}
         and [l.split()[-1] for l in r['diff']['before'].splitlines()] == ['0100'] * ${DRIVES[$h]}
         and [l.split()[-1] for l in r['diff']['after'].splitlines()] == ['0200'] * ${DRIVES[$h]}"
    check "check-mode rollout: $h would get the image copied" \
        results rollout-check check "$COPY_TASK" "$h" "r['changed']"
    check "check-mode rollout: no staging folder on $h" test ! -e "$(hostdir "$h")/staging"
    check "check-mode rollout: no WRITE BUFFER on $h" no_writes "$h"
done
check "check-mode rollout: no background upgrade ran" \
    test "$(task_hosts rollout-check "$FIRMWARE_TASK" skipped)" = "$ALL_HOSTS"
check "check-mode rollout: nothing left in Ansible's temporary folders" \
    test -z "$(find "$WORK/tmp/remote" "$WORK/tmp/async" -mindepth 1 2>/dev/null | head -n 1)"
check "check-mode rollout: no report written" test -z "$(ls -A "$WORK/reports")"
played facts-after-check "check-mode rollout: every drive still at 0100" "$HERE/facts.yml" -e expect_revision=0100

# --- the rollout upgrades every host, canary first, and reports ------------------------------
reset_drives
clear_traces
played rollout "rollout succeeds" vorn.tape.rollout --diff -e "firmware_image_src=$IMAGE_0200"
check "rollout: the firmware task changed every host" \
    test "$(task_hosts rollout "$FIRMWARE_TASK" changed)" = "$ALL_HOSTS"
# In the upgrade play, each host's first result came from a task that started after the
# previous batch's last firmware result: tape1 alone, then tape2 and tape3, then tape4.
UPGRADE_PLAY="Roll out KMR-47000 firmware"
batches() {
    "$PY" - "$WORK/logs/$1.jsonl" "$FIRMWARE_TASK" "$UPGRADE_PLAY" <<'EOF'
import json, sys
records = [json.loads(line) for line in open(sys.argv[1]) if line.strip()]
def mine(host):
    return [r for r in records if r.get("host") == host and r.get("play") == sys.argv[3]]
first = dict((h, min(r["time"] for r in mine(h))) for h in ("tape1", "tape2", "tape3", "tape4"))
last = dict((h, max(r["time"] for r in mine(h) if r["task"] == sys.argv[2])) for h in first)
sys.exit(not (last["tape1"] < min(first["tape2"], first["tape3"]) and max(last["tape2"], last["tape3"]) < first["tape4"]))
EOF
}
check "rollout: three batches, the canary tape1 alone first, then tape2 and tape3, then tape4" batches rollout
for h in "${HOSTS[@]}"; do
    check "rollout: $h's drives took a commit" committed "$h"
    check "rollout: $h's diff shows every drive from 0100 to 0200" \
        results rollout check "$FIRMWARE_TASK" "$h" \
        "[l.split()[-1] for l in r['diff']['before'].splitlines()] == ['0100'] * ${DRIVES[$h]}
         and [l.split()[-1] for l in r['diff']['after'].splitlines()] == ['0200'] * ${DRIVES[$h]}"
    check "rollout: the program checked $h's copy against the digest (--sha256)" \
        results rollout check "$FIRMWARE_TASK" "$h" "r['cmd'][r['cmd'].index('--sha256') + 1] == '$SHA_0200'"
done
played facts-after-rollout "rollout: every drive reports 0200 in a later run" "$HERE/facts.yml" -e expect_revision=0200
# report_is NAME PYTHON-EXPRESSION: true of the JSON report as d (rows, summary, image).
report_is() {
    "$PY" -c 'import json, sys; d = json.load(open(sys.argv[1])); sys.exit(not eval(" ".join(sys.argv[2].split("\n"))))' \
        "$WORK/reports/firmware-report.json" "$1"
}
check "rollout report: one row per drive, each upgraded from 0100 to 0200 with its seconds" \
    report_is "len(d['rows']) == 5 and all(r['result'] == 'upgraded' and r['revision_before'] == '0100'
               and r['revision_after'] == '0200' and isinstance(r['seconds'], (int, float)) for r in d['rows'])
               and sorted(r['serial'] for r in d['rows']) == sorted('VRN-%s-%d' % (h, i) for h, n in
               [('tape1', 2), ('tape2', 1), ('tape3', 1), ('tape4', 1)] for i in range(n))
               and d['image']['sha256'] == '$SHA_0200'"
cp "$WORK/reports/firmware-report.md" "$WORK/logs/report-rollout.md" 2>/dev/null
check "rollout report: the Markdown table has a line per drive" \
    test "$(grep -c '^| tape[1-4] | VRN-' "$WORK/reports/firmware-report.md" 2>/dev/null)" = 5

clear_traces
played refused "an older image is refused: the task fails unless accept_refused" \
    "$HERE/refused.yml" -e "image=$IMAGE_0100"
for h in "${HOSTS[@]}"; do check "refused: no WRITE BUFFER on $h" no_writes "$h"; done

# --- a second rollout has nothing to do, and does it quickly ---------------------------------
clear_traces
rm -f "$WORK/reports/"*
started=$(date +%s.%N)
played rollout-again "second rollout succeeds" vorn.tape.rollout -e "firmware_image_src=$IMAGE_0200"
NOOP_SECONDS=$(seconds_since "$started")
echo "info no-op rollout of ${#HOSTS[@]} hosts over SSH: $NOOP_SECONDS s"
check "second rollout: no host changed" unchanged rollout-again
check "second rollout: no host got a copy or a background upgrade" \
    test -z "$(results rollout-again hosts "$COPY_TASK" ok)$(results rollout-again hosts "$FIRMWARE_TASK" ok)$(results rollout-again hosts "$FIRMWARE_TASK" failed)"
for h in "${HOSTS[@]}"; do check "second rollout: no WRITE BUFFER on $h" no_writes "$h"; done
check "second rollout report: every drive current at 0200" \
    report_is "len(d['rows']) == 5 and all(r['result'] == 'current' and r['revision_after'] == '0200' for r in d['rows'])"

# --- a drive that rejects the image stops the rollout at its batch ---------------------------
# Batches: tape1 (canary), then tape2 and tape3, then tape4. tape2's drive rejects the commit.
emulation tape2 '[{"op": "WriteBuffer", "mode": 5, "status": "0x2600"}]'
clear_traces
rm -f "$WORK/reports/"*
if play rollout-reject vorn.tape.rollout -e "firmware_image_src=$IMAGE_0300"; then
    bad "rollout with a rejecting drive fails"; show rollout-reject
else
    ok "rollout with a rejecting drive fails"
fi
check "rejecting drive: the canary upgraded" test "$(results rollout-reject hosts "$FIRMWARE_TASK" changed | sed -n 1p)" = tape1
check "rejecting drive: tape2's firmware task failed" \
    test "$(task_hosts rollout-reject "$FIRMWARE_TASK" failed)" = "tape2 "
check "rejecting drive: the last batch never started" \
    test -z "$(results rollout-reject tasks tape4 ok "$UPGRADE_PLAY")$(results rollout-reject tasks tape4 failed "$UPGRADE_PLAY")"
check "rejecting drive: no WRITE BUFFER on tape4" no_writes tape4
check "rejecting drive: the report was written after the failed batch, naming why" \
    report_is "{(r['host'], r['result']) for r in d['rows']} == {('tape1', 'upgraded'), ('tape2', 'failed'),
               ('tape3', 'upgraded'), ('tape4', 'not-run')}
               and all(r['reason'] for r in d['rows'] if r['host'] == 'tape2')"
played facts-after-reject "rejecting drive: tape4 still at 0200" "$HERE/facts.yml" -l tape4 -e expect_revision=0200

finish
