#!/usr/bin/env bash
# The terminal program end to end. Each case starts fwupgrade in a detached tmux session of
# fixed size, with emulated drives and a trace file, types keys with send-keys and reads the
# screen with capture-pane. Every wait polls for the expected text with a bounded timeout.
#
# usage: e2e.sh <fwupgrade executable> <folder for the final screens> [case ...]
set -uo pipefail
# Columns are counted in characters of the UTF-8 screen.
export LC_ALL=C.UTF-8

BIN=$(realpath "$1")
SCREENS=$2
shift 2
ONLY=("$@")
mkdir -p "$SCREENS"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/fwtui.XXXXXX")
SOCKET="fwtui-$$"
POLL=0.05

T() { tmux -L "$SOCKET" -f /dev/null "$@"; }
cleanup() {
  T kill-server >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT

# A server of our own, whose panes stay readable after the program ends.
T new-session -d -s keeper -x 80 -y 24 "sleep 100000" || exit 1
T set-option -g remain-on-exit on
T set-option -g history-limit 0

CASE=""
DIR=""
CASE_OK=1

fail() {
  echo "FAIL [$CASE]: $*"
  CASE_OK=0
}

screen() { T capture-pane -p -t "$CASE" 2>/dev/null; }
screen_with_attributes() { T capture-pane -p -e -t "$CASE" 2>/dev/null; }
keys() { T send-keys -t "$CASE" "$@"; }
now_ms() { date +%s%3N; }

# wait_for TEXT [SECONDS]: until the screen shows TEXT.
wait_for() {
  local text=$1 limit=$(( $(now_ms) + ${2:-10} * 1000 ))
  while (( $(now_ms) < limit )); do
    screen | grep -qF -- "$text" && return 0
    sleep "$POLL"
  done
  fail "never saw: $text"
  return 1
}

# wait_for_re REGEX [SECONDS]: until a line of the screen matches the extended REGEX.
wait_for_re() {
  local pattern=$1 limit=$(( $(now_ms) + ${2:-10} * 1000 ))
  while (( $(now_ms) < limit )); do
    screen | grep -qE -- "$pattern" && return 0
    sleep "$POLL"
  done
  fail "never saw /$pattern/"
  return 1
}

# wait_until_gone TEXT [SECONDS]: until the screen no longer shows TEXT.
wait_until_gone() {
  local text=$1 limit=$(( $(now_ms) + ${2:-10} * 1000 ))
  while (( $(now_ms) < limit )); do
    screen | grep -qF -- "$text" || return 0
    sleep "$POLL"
  done
  fail "still showing: $text"
  return 1
}

# wait_trace PATTERN COUNT [SECONDS]: until the trace holds COUNT lines matching PATTERN.
wait_trace() {
  local pattern=$1 count=$2 limit=$(( $(now_ms) + ${3:-10} * 1000 ))
  while (( $(now_ms) < limit )); do
    (( $(grep -cE -- "$pattern" "$DIR/trace.txt" 2>/dev/null || true) >= count )) && return 0
    sleep "$POLL"
  done
  fail "trace never had $count x /$pattern/"
  return 1
}

# wait_changed BEFORE [SECONDS]: until the screen differs from BEFORE.
wait_changed() {
  local before=$1 limit=$(( $(now_ms) + ${2:-5} * 1000 ))
  while (( $(now_ms) < limit )); do
    [[ "$(screen)" != "$before" ]] && return 0
    sleep "$POLL"
  done
  fail "the screen did not change"
  return 1
}

# wait_exit [SECONDS]: until the program has ended; prints its exit status.
wait_exit() {
  local limit=$(( $(now_ms) + ${1:-10} * 1000 ))
  while (( $(now_ms) < limit )); do
    if [[ -f "$DIR/status" ]]; then
      cat "$DIR/status"
      return 0
    fi
    sleep "$POLL"
  done
  echo "none"
  return 1
}

# click TEXT: a left click (SGR mouse report) on the first character of TEXT.
click() {
  local text=$1 row line prefix
  row=$(screen | grep -nF -- "$text" | head -1 | cut -d: -f1)
  if [[ -z "$row" ]]; then
    fail "nothing to click: $text"
    return 1
  fi
  line=$(screen | sed -n "${row}p")
  prefix=${line%%"$text"*}
  keys -l $'\e'"[<0;$(( ${#prefix} + 1 ));${row}M"$'\e'"[<0;$(( ${#prefix} + 1 ));${row}m"
}

# "Upgrade Firmware" drawn with the dim attribute (SGR 2) in capture-pane -e output (its
# underlined letter is drawn apart).
DIMMED_UPGRADE=$'\e''\[([0-9;]*;)?2(;[0-9;]*)?m('$'\e''\[(39|49)m)*pgrade Firmware \]'

trace_count() { grep -cE -- "$1" "$DIR/trace.txt" 2>/dev/null || true; }

# begin NAME COLS ROWS EMULATION [VAR=value ...]: a fresh folder and the program in tmux.
# A shell in the pane waits for the program and keeps its exit status in a file: the
# multiplexer's own reaping of children cannot be relied on where SIGCHLD is blocked.
begin() {
  CASE=$1
  DIR="$WORK/$CASE"
  CASE_OK=1
  CASE_START=$(now_ms)
  mkdir -p "$DIR"
  local cols=$2 rows=$3 emulation=$4
  shift 4
  {
    echo 'cd "$(dirname "$0")" || exit 1'
    printf 'sh -c '\''echo $$ > pid; exec "$@"'\'' sh env TERM=xterm-256color %q %q' \
      "ZURVAX_EMULATION=$emulation" "ZURVAX_TRACE=$DIR/trace.txt"
    for assignment in "$@"; do printf ' %q' "$assignment"; done
    printf ' %q\n' "$BIN"
    echo 'echo $? > status.tmp && mv status.tmp status'
  } > "$DIR/run.sh"
  T new-session -d -s "$CASE" -x "$cols" -y "$rows" "sh '$DIR/run.sh'"
}

# alive PID: the process exists and has not ended (a zombie has ended).
alive() {
  [[ -n "$1" && -r "/proc/$1/status" ]] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null
}

finish() {
  if T has-session -t "$CASE" 2>/dev/null; then
    screen > "$SCREENS/$CASE.txt"
  fi
  local pid
  pid=$(cat "$DIR/pid" 2>/dev/null || true)
  T kill-session -t "$CASE" >/dev/null 2>&1
  # The program must not outlive its case; a download in progress gets a bounded wait.
  local limit=$(( $(now_ms) + 30000 ))
  while alive "$pid" && (( $(now_ms) < limit )); do sleep "$POLL"; done
  local took=$(( $(now_ms) - CASE_START ))
  if (( CASE_OK )); then
    printf 'ok   %-26s %6d ms\n' "$CASE" "$took"
  else
    printf 'FAIL %-26s %6d ms\n' "$CASE" "$took"
    touch "$WORK/failed-$CASE"
    echo "---- final screen of $CASE ----"
    cat "$SCREENS/$CASE.txt"
    echo "---- trace ----"
    tail -20 "$DIR/trace.txt" 2>/dev/null
  fi
}

one_drive() { # one_drive [JSON members of the drive]
  printf '{ "devices": [ { %s } ] }\n' "${1:-}" > "$DIR/drives.json"
}

write_image() {
  { printf 'KMR47000-FW:0200'; head -c 20000 /dev/zero | tr '\0' 'x'; } > "$DIR/kmr47000_0200.gbf"
}

agree() {
  wait_for "User Agreement" && keys Enter && wait_for "Firmware Upgrade tool for Model"
}

# ---------------------------------------------------------------------------------------

case_agreement_declined() {
  begin agreement_declined 100 40 demo
  wait_for "User Agreement" || return
  wait_for "VORN ELECTRONICS INC. FIRMWARE" || return
  # The text scrolls where the focus is: Agree, Disagree, then the text.
  screen | grep -qF "6. General." && fail "the end of the agreement shows before scrolling"
  keys Tab Tab End
  wait_for "6. General." || return
  screen | grep -qF "VORN ELECTRONICS INC. FIRMWARE" && fail "the start still shows at the end"
  keys Home
  wait_for "VORN ELECTRONICS INC. FIRMWARE" || return
  # Esc is Disagree: the question comes, Yes goes back to the agreement.
  keys Escape
  wait_for "You must accept the agreement to continue." || return
  screen | grep -qF "[i]" || fail "no information mark on the question"
  keys y
  wait_until_gone "You must accept the agreement" || return
  wait_for "User Agreement" || return
  # A new agreement window: the focus starts on Agree, Tab moves it to Disagree, Space
  # presses it; No ends the program.
  keys Tab
  keys Space
  wait_for "Do you want to go back and accept the agreement?" || return
  keys n
  local status
  status=$(wait_exit 10)
  [[ "$status" == 0 ]] || fail "exit status $status, wanted 0"
  [[ -s "$DIR/trace.txt" ]] && fail "the device library was used without an agreement: $(cat "$DIR/trace.txt")"
  screen | grep -qF "VORN" && fail "the terminal was not given back (windows still on screen)"
}

case_list() {
  begin list 100 40 demo
  agree || return
  wait_for "00:HA#01 TID#05 VORN     KMR-47000" || return
  wait_for "01:HA#01 TID#06 VORN     KMR-47000" || return
  screen | grep -qF "DISKCO" && fail "a disk was listed"
  screen | grep -qF "OTHERCO" && fail "another maker's drive was listed"
  wait_for "Firmware Revision    0100" || return
  # Each move of the selection reads the drive afresh.
  local before
  before=$(trace_count '^ReadRawInquiryData 1 ')
  keys Down
  wait_for "Firmware Revision    0150" || return
  wait_trace '^ReadRawInquiryData 1 ' $((before + 1)) || return
  keys Up
  wait_for "Firmware Revision    0100" || return
  # A letter with the list focused is the list's: the next entry that starts with it.
  keys 0
  wait_for "Firmware Revision    0150" || return
  # The mouse: an entry, then DONE.
  click "01:HA#01 TID#06" || return
  wait_for "Firmware Revision    0150" || return
  click "[ DONE ]" || return
  local status
  status=$(wait_exit 10)
  [[ "$status" == 0 ]] || fail "exit status $status, wanted 0"
}

case_rejected_device() {
  # The drive answers the scan, but its inquiry fails when it is chosen: the empty record
  # is no tape drive.
  begin rejected_device 100 40 "$WORK/rejected_device/drives.json"
  one_drive '"faults": [ { "op": "ReadRawInquiryData", "from": 2, "status": "0x0402" } ]'
  wait_for "User Agreement" || return
  keys Enter
  wait_for "Read Sense Data ?" || return
  keys n
  wait_for "The Device may not be a tape drive or" || return
  screen | grep -qF "[X]" || fail "no stop mark on the rejection"
  screen | grep -qF "VORN - Firmware Upgrade Utility" || fail "rejection caption missing"
  keys Enter
  wait_until_gone "The Device may not be a tape drive or" || return
  wait_for "00:HA#00 TID#00 VORN     KMR-47000" || return
  # Upgrade stays disabled: drawn dim (SGR 2), and Alt with its letter does nothing.
  screen_with_attributes | grep -qE "$DIMMED_UPGRADE" || fail "Upgrade Firmware is not drawn dimmed"
  keys M-u
  # A rescan reads the drive again, which now answers: Upgrade comes back.
  keys Escape
  wait_trace '^GetDeviceType 0 ' 2 || return
  wait_trace '^TestUnitReady 0 ' 2 || return
  screen | grep -qF "C A U T I O N" && fail "a disabled Upgrade button was pressed"
  local limit=$(( $(now_ms) + 5000 ))
  while screen_with_attributes | grep -qE "$DIMMED_UPGRADE" && (( $(now_ms) < limit )); do sleep "$POLL"; done
  screen_with_attributes | grep -qE "$DIMMED_UPGRADE" && fail "Upgrade Firmware still dimmed after the rescan"
  screen | grep -qF "Read Sense Data ?" && fail "the rescan reported an error"
}

case_sense_report() {
  # The second readiness test of the selection fails: the error report offers the sense.
  begin sense_report 100 40 "$WORK/sense_report/drives.json"
  one_drive '"faults": [ { "op": "TestUnitReady", "from": 2, "status": "0x0402" } ]'
  wait_for "User Agreement" || return
  keys Enter
  wait_for "Read Sense Data ?" || return
  screen | grep -qF "Error: 402" || fail "status not shown"
  screen | grep -qF "Tape Control Error" || fail "error caption missing"
  screen | grep -qF "[!]" || fail "no exclamation mark"
  keys y
  wait_for "Sense Key:" || return
  wait_for "ZEM Tape Control Sense Data" || return
  screen | grep -qF "Sense Code Qualifier:" || fail "sense lines missing"
  wait_trace '^RequestSense 0 ' 1 || return
  keys Enter
  wait_until_gone "Sense Key:" || return
  wait_for "Firmware Revision    0100"
}

case_upgrade() {
  begin upgrade 100 40 "$WORK/upgrade/drives.json"
  one_drive '"revision": "0100"'
  write_image
  printf 'RIFF\0\0\0\0AVI LIST' > "$DIR/dl.avi"
  agree || return
  wait_for "Firmware Revision    0100" || return
  # The list has the focus and takes plain letters: Alt with the button's letter.
  keys M-u
  wait_for "Are you sure you want to upgrade Current Firmware?" || return
  keys y
  wait_for "Firmware Upgrade in Progress ..." || return
  wait_for "DO NOT INTERRUPT" || return
  # The clip could be opened: a text animation plays in its place.
  wait_for_re '\[ *> *\]' || return
  # Nothing the operator types closes the window or stops the download.
  keys Enter
  keys Escape
  keys C-c
  keys 'C-\'
  kill -INT "$(cat "$DIR/pid")" 2>/dev/null
  kill -QUIT "$(cat "$DIR/pid")" 2>/dev/null
  local before
  before=$(screen)
  wait_changed "$before" || return
  screen | grep -qF "Firmware Upgrade in Progress ..." || fail "the progress window closed"
  wait_trace 'mode=5' 1 30 || return
  wait_for "Congratulations !" 40 || return
  screen | grep -qF "Your device firmware update is now complete." || fail "success text incomplete"
  keys Enter
  wait_until_gone "Congratulations !" || return
  wait_for "Firmware Revision    0200" 10 || return
  screen_with_attributes | grep -qE "$DIMMED_UPGRADE" || fail "Upgrade Firmware not disabled after the upgrade"
  [[ "$(T display-message -p -t "$CASE" '#{pane_dead}')" == 0 ]] || fail "the program ended during the download"
}

case_read_back_mismatch() {
  begin read_back_mismatch 100 40 "$WORK/read_back_mismatch/drives.json"
  one_drive '"faults": [ { "op": "ReadBuffer", "corrupt": true } ]'
  write_image
  agree || return
  keys M-u
  wait_for "Are you sure you want to upgrade Current Firmware?" || return
  keys y
  wait_for "Error: ReadBuffer not equal to WriteBuffer" 15 || return
  # The box of the worker sits on the running progress window.
  screen | grep -qF "Firmware Upgrade in Progress ..." || fail "progress window not under the worker's box"
  keys Enter
  wait_for "Error: please check the device and try again." 20 || return
  keys Enter
  wait_until_gone "Error: please check the device" || return
  (( $(trace_count 'mode=5') == 0 )) || fail "a mismatching image was committed"
  wait_for "Firmware Revision    0100"
}

case_missing_image() {
  begin missing_image 100 40 demo
  agree || return
  keys M-u
  wait_for "Are you sure you want to upgrade Current Firmware?" || return
  keys y
  wait_for "ERROR: Firmware file could not be opened !!!" 10 || return
  screen | grep -qE '\[ *> *\]' && fail "an animation without a clip"
  keys Enter
  wait_until_gone "Firmware file could not be opened" || return
  wait_until_gone "Firmware Upgrade in Progress ..." 10 || return
  (( $(trace_count '^WriteBuffer') == 0 )) || fail "data was sent without an image"
  screen | grep -qE '\[ *> *\]' && fail "an animation without a clip"
}

case_revision_gate() {
  begin revision_gate 100 40 "$WORK/revision_gate/drives.json" \
    "FWUPGRADE_REGISTRY=$WORK/revision_gate/tool.reg"
  one_drive '"revision": "0100"'
  printf 'REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\QUORVEL]\r\n"Revision"="1000"\r\n' > "$DIR/tool.reg"
  write_image
  agree || return
  keys M-u
  wait_for "Device is NOT Supported" || return
  keys Enter
  wait_until_gone "Device is NOT Supported" || return
  (( $(trace_count '^WriteBuffer') == 0 )) || fail "an unsupported drive was written to"
  screen | grep -qF "C A U T I O N" && fail "asked to confirm an unsupported drive"
}

case_escape_rescans() {
  begin escape_rescans 100 40 demo
  agree || return
  wait_trace '^GetDeviceType 0 ' 1 || return
  keys Escape
  wait_trace '^GetDeviceType 0 ' 2 || return
  # Alt with the button's letter.
  keys M-r
  wait_trace '^GetDeviceType 0 ' 3 || return
  wait_for "00:HA#01 TID#05 VORN     KMR-47000" || return
  # The letter left the focus on Rescan; Tab goes round to the list, where Enter is the
  # dialog's Enter: DONE.
  keys Tab Enter
  local status
  status=$(wait_exit 10)
  [[ "$status" == 0 ]] || fail "exit status $status, wanted 0"
}

case_small_terminal() {
  begin small_terminal 60 20 demo
  # The agreement shrinks down to 68 columns and 8 rows and no further: its caption would
  # be cut.
  wait_for "Terminal too small: need 68x8" || return
  T resize-window -t "$CASE" -x 67 -y 20
  wait_for "Terminal too small: need 68x8" || return
  T resize-window -t "$CASE" -x 68 -y 20
  wait_for "User Agreement" || return
  screen | grep -qF "Terminal too small" && fail "too small at the minimum"
  T resize-window -t "$CASE" -x 100 -y 40
  wait_for "User Agreement" || return
  keys C-c
  local status
  status=$(wait_exit 10)
  [[ "$status" == 130 ]] || fail "Ctrl-C outside a download: exit status $status, wanted 130"
  screen | grep -qF "User Agreement" && fail "the terminal was not given back after Ctrl-C"
}

# no_small_note: fails when the screen shows the note for too small a terminal.
no_small_note() {
  screen | grep -qF "Terminal too small" && fail "too small: $(screen | head -1)"
}

case_fits_80x24() {
  # The operators' terminal: every window shrinks to fit, every text whole.
  begin fits_80x24 80 24 "$WORK/fits_80x24/drives.json"
  one_drive '"revision": "0100"'
  write_image
  printf 'RIFF\0\0\0\0AVI LIST' > "$DIR/dl.avi"
  wait_for "VORN - Tape Device Firmware Upgrade Utility User Agreement" || return
  wait_for "VORN ELECTRONICS INC. FIRMWARE" || return
  wait_for "[ Agree ]" || return
  wait_for "[ Disagree ]" || return
  no_small_note
  # In colour, the picture in half blocks rather than its placeholder.
  screen | grep -qF "▀" || fail "the agreement picture is not drawn"
  screen | grep -qF "(picture)" && fail "a placeholder where colours are"
  keys Tab Tab End
  wait_for "6. General." || return
  keys Enter
  wait_for "VORN TAPE FIRMWARE UPGRADE UTILITY - Ver." || return
  wait_for "Firmware Upgrade tool for Model" || return
  wait_for "00:HA#00 TID#00 VORN     KMR-47000" || return
  wait_for "Firmware Revision    0100" || return
  for text in "[ Upgrade Firmware ]" "[ Rescan ]" "[ DONE ]" "Device Information" "Model"; do
    screen | grep -qF -- "$text" || fail "not shown whole: $text"
  done
  no_small_note
  keys M-u
  wait_for "Are you sure you want to upgrade Current Firmware?" || return
  keys y
  wait_for "Firmware Upgrade in Progress ..." || return
  # The warning keeps all its lines.
  for text in "WARNING !!!" "DO NOT INTERRUPT - When downloading firmware" "damage to the drive."; do
    wait_for "$text" || return
  done
  no_small_note
  wait_for "Congratulations !" 40 || return
  keys Enter
  wait_for "Firmware Revision    0200" 10 || return
  no_small_note
}

case_no_colours() {
  # A terminal without colours shows where the pictures are.
  begin no_colours 100 40 demo TERM=vt100
  wait_for "User Agreement" || return
  wait_for "(picture)" || return
  agree || return
  wait_for "(picture)" || return
  screen | grep -qF "▀" && fail "half blocks without colours"
}

case_hangup_during_download() {
  begin hangup_during_download 100 40 "$WORK/hangup_during_download/drives.json"
  one_drive '"revision": "0100"'
  write_image
  agree || return
  keys M-u
  wait_for "Are you sure you want to upgrade Current Firmware?" || return
  keys y
  wait_for "Firmware Upgrade in Progress ..." || return
  local pid
  pid=$(cat "$DIR/pid")
  # The terminal goes away in the middle of the download.
  screen > "$SCREENS/$CASE.txt"
  T kill-session -t "$CASE"
  wait_trace 'mode=5' 1 30 || return
  alive "$pid" || fail "the program died with its terminal"
  local limit=$(( $(now_ms) + 40000 ))
  while alive "$pid" && (( $(now_ms) < limit )); do sleep "$POLL"; done
  alive "$pid" && fail "the program did not end after the download"
  # The worker polled the drive until it was ready again.
  awk '/mode=5/ { after = 1 } after && /^TestUnitReady 0 -> (0|3a00)$/ { ready = 1 } END { exit !ready }' \
    "$DIR/trace.txt" || fail "the drive was not polled to its end"
}

case_startup_failure() {
  # The device source is opened only once the agreement is accepted; its reason is told
  # in a box and the program ends with status 2.
  mkdir -p "$WORK/startup_failure"
  printf '{ "devices": [ { "revision": "0100", } ] }' > "$WORK/startup_failure/drives.json"
  begin startup_failure 100 40 "$WORK/startup_failure/drives.json"
  wait_for "User Agreement" || return
  [[ -s "$DIR/trace.txt" ]] && fail "the device source was opened before the agreement"
  keys Enter
  wait_for "drives.json" || return
  keys Enter
  local status
  status=$(wait_exit 10)
  [[ "$status" == 2 ]] || fail "exit status $status, wanted 2"
}

case_hangup_idle() {
  begin hangup_idle 100 40 demo
  agree || return
  screen > "$SCREENS/$CASE.txt"
  local pid
  pid=$(cat "$DIR/pid")
  T kill-session -t "$CASE"
  local limit=$(( $(now_ms) + 5000 ))
  while alive "$pid" && (( $(now_ms) < limit )); do sleep "$POLL"; done
  alive "$pid" && fail "the program outlived its terminal outside a download"
}

# The longest (a whole download's polls in real time) first, so that the lanes end together.
ALL=(upgrade fits_80x24 hangup_during_download startup_failure hangup_idle agreement_declined list
     rejected_device sense_report read_back_mismatch missing_image revision_gate escape_rescans
     small_terminal no_colours)
# The cases spend their time waiting for screens and for emulated drives in real time, each
# in a session and a folder of its own: a few run at once, each into a log of its own,
# printed in order at the end.
LANES=${FWUPGRADE_TUI_LANES:-3}
RAN=()
for name in "${ALL[@]}"; do
  if (( ${#ONLY[@]} > 0 )) && [[ " ${ONLY[*]} " != *" $name "* ]]; then continue; fi
  while (( $(jobs -rp | wc -l) >= LANES )); do wait -n; done
  { "case_$name"; finish; } > "$WORK/log-$name" 2>&1 &
  RAN+=("$name")
done
wait
FAILED=()
for name in "${RAN[@]}"; do
  cat "$WORK/log-$name"
  [[ -e "$WORK/failed-$name" || ! -s "$WORK/log-$name" ]] && FAILED+=("$name")
done

if (( ${#FAILED[@]} > 0 )); then
  echo "failed: ${FAILED[*]}"
  exit 1
fi
echo "all terminal cases passed; screens in $SCREENS"
