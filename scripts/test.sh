#!/usr/bin/env bash
# THE test command: installs what is missing, builds every preset and runs every test.
# Ends with one line "N passed, N failed" (all ctest runs added up) and a non-zero exit
# status at the first failure.
#
# To add a step: write a function step_<name> that returns non-zero on failure (use
# run_ctest to have its results counted), then add <name> to STEPS below.
#
# Environment:
#   FWUPGRADE_STEPS      space-separated subset of STEPS to run (default: all)
#   FWUPGRADE_WIN_TESTS  auto | win32 | win64: where the Windows tests run (default auto:
#                        win32 when this machine can start Wine's 32-bit loader, else the
#                        64-bit build of the same code under 64-bit Wine)
#   FWUPGRADE_CACHE_DIR  results that outlive the checkout, keyed by content (default
#                        ${XDG_CACHE_HOME:-~/.cache}/fwupgrade; scripts/cache-dir.sh):
#                        clang-tidy's clean results, the qemu tests' kernel package and the
#                        guest's Wine prefix; remove it to make them all again.
#                        The builds' compiled results are ccache's, in its own folder
#                        (cmake/Ccache.cmake; `ccache -C` to compile everything again)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

STEPS=(deps linux ansible static linux_asan linux_tsan win32 fuzz package)
# Work that mostly waits (the Ansible playbooks and the command-line suites on emulated
# drives in real time, over SSH) runs in the background beside the builds after it: the
# step ansible when more steps follow, and the Linux presets' suites (run_ctest_beside).
# All of it is joined, its output shown and counted, before step win32's qemu test starts
# (once the shipped Windows program is built) and before the steps of JOIN_BEFORE: they
# keep the cores to themselves (the guest has a time limit; the fuzzers run for a fixed
# time). Step package, when selected, starts in the background once step win32 has built
# everything it packs, beside the Windows suites, which mostly wait on windows (alone, its
# Debian build and lintian left a core idle for over a minute); STARTED_BESIDE lists it then,
# and the loop below does not run it again.
BACKGROUND=(ansible)
JOIN_BEFORE=(fuzz package)
STARTED_BESIDE=()

PASSED=0
FAILED=0
TIMINGS=()
LOGDIR=build/logs

log() { printf '\n==> %s\n' "$*"; }

CTEST_LAUNCH=()

# ctest with our counting: every "X% tests passed, Y tests failed out of Z" line adds up.
run_ctest() {
    local out rc=0 line total failed
    mkdir -p "$LOGDIR"
    out="$LOGDIR/ctest-$1.log"
    "${CTEST_LAUNCH[@]}" ctest --preset "$@" 2>&1 | tee "$out" || rc=$?
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$out" | tail -n1 || true)
    if [ -n "$line" ]; then
        failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
        PASSED=$((PASSED + total - failed))
        FAILED=$((FAILED + failed))
    elif grep -q 'No tests were found' "$out"; then
        echo "warning: preset $1 has no tests" >&2
    elif [ "$rc" -ne 0 ]; then
        FAILED=$((FAILED + 1))
    fi
    return "$rc"
}

build_preset() {
    cmake --preset "$1" && cmake --build --preset "$1"
}

# 32-bit Wine needs the kernel to start 32-bit Linux programs; some sandboxes refuse them.
host_runs_wine32() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

step_deps() { bash scripts/install-deps.sh; }
# run_ctest in the background (see BACKGROUND): counted when joined.
run_ctest_beside() { beside "ctest-$1" run_ctest "$@"; }

step_linux() { build_preset linux && run_ctest_beside linux; }
# Runs one check (a command) and counts it as one test.
count_check() {
    if "$@"; then
        PASSED=$((PASSED + 1))
    else
        FAILED=$((FAILED + 1))
        return 1
    fi
}
# Static checks, one counted test per line: clang-tidy and cppcheck over the project's code
# as the linux preset compiles it and as the win32 preset does (its compile database comes
# from configuring alone: nothing it reads is made by the build; its clang-tidy pass skips
# the shared sources the linux pass has analysed), the format check, and the
# include walls the build cannot keep (scripts/check-includes.py). Every check runs; the
# step fails if any did.
# The two passes take turns: side by side, four clang-tidy processes on two cores made the
# step and the suites in the background beside it a quarter slower each, and the background
# work fills the cores the end of each pass leaves idle.
step_static() {
    local rc=0
    count_check python3 scripts/check-includes.py || rc=1
    count_check bash scripts/check-format.sh || rc=1
    count_check static_analysis linux || rc=1
    count_check static_analysis win32 --beyond build/analysis/linux || rc=1
    return "$rc"
}
# A preset configured (never built) into a folder of its own, build/analysis/<preset>, unit
# by unit, without precompiled headers and without ccache's options (clang-tidy compiles with
# the compile commands and keys its results by them) whatever the preset builds, and analysed by
# scripts/static-analysis.sh: its compile database names each real source as a unit alone.
static_analysis() {
    local dir=build/analysis/$1
    cmake --preset "$1" -B "$dir" -DCMAKE_UNITY_BUILD=OFF -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON \
        -DFWUPGRADE_CCACHE=OFF >/dev/null && bash scripts/static-analysis.sh "$dir" "${@:2}"
}
# The Ansible collection (tests/ansible/run.sh): ansible-lint and validate-modules, then its
# playbooks against the linux build's fwupgrade on emulated drives, four hosts over SSH (an
# OpenSSH server each on 127.0.0.2 to 127.0.0.5, started and stopped by the test; as root,
# as CI runs) and one local; counts as one test.
step_ansible() {
    [ -x build/linux/bin/fwupgrade ] || build_preset linux || return
    if bash tests/ansible/run.sh build/linux/bin/fwupgrade; then
        PASSED=$((PASSED + 1))
    else
        FAILED=$((FAILED + 1))
        return 1
    fi
}
# The sanitizer presets leave the qemu tests (label "kernel") to step linux: their programs
# run inside the virtual machine, built statically without sanitizers. The linux-asan build
# makes step fuzz's libFuzzer programs too (CMakePresets.json).
step_linux_asan() { asan_tree_for_clang && build_preset linux-asan && run_ctest_beside linux-asan; }
# A build/linux-asan that g++ configured (before the preset was clang's): CMake would drop its
# cache and then fail that configure, so the folder goes, g++'s objects with it.
asan_tree_for_clang() {
    local cache=build/linux-asan/CMakeCache.txt
    if [ -f "$cache" ] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++$' "$cache"; then
        echo "note: build/linux-asan was configured for another compiler; it is made anew"
        rm -rf build/linux-asan
    fi
}
# ThreadSanitizer only where there are threads: the suites labelled "threads", and only their
# executables built (tests/CMakeLists.txt, fw_threaded_test).
# ThreadSanitizer of g++ 12 cannot map its shadow memory when the kernel randomises mmap
# with more than 28 bits; without address randomisation it always can.
step_linux_tsan() {
    build_preset linux-tsan || return
    local bits
    bits=$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28)
    if [ "$bits" -gt 28 ]; then
        local CTEST_LAUNCH=(setarch "$(uname -m)" -R)
        run_ctest_beside linux-tsan
    else
        run_ctest_beside linux-tsan
    fi
}
step_win32() {
    local where=${FWUPGRADE_WIN_TESTS:-auto} rc=0
    if [ "$where" = auto ]; then
        if host_runs_wine32; then where=win32; else where=win64; fi
    fi
    # The shipped program first, warnings as errors: the qemu test needs nothing more. Its
    # guest takes one core for two to six minutes, so it starts then, beside the rest of
    # the step: the suites' build, then the suites under Wine, which mostly wait on windows.
    # Started after the suites' build, the guest ran on alone for a minute after everything
    # else was done.
    cmake --preset win32 && cmake --build --preset win32 --target fwupgrade ZURVAX || return
    join_background || return
    win32_kernel_begin
    if [ "$where" = win64 ]; then
        echo "note: this machine cannot start Wine's 32-bit loader: the Windows tests run" \
             "from the 64-bit build of the same code (preset win64) under 64-bit Wine"
    fi
    if build_preset "$where"; then
        package_beside
        run_ctest "$where" || rc=1
    else
        rc=1
    fi
    win32_kernel_end || rc=1
    return "$rc"
}
package_beside() {
    if in_list package "${selected[@]}"; then
        beside package step_package
        STARTED_BESIDE+=(package)
    fi
}
# The shipped 32-bit program under Wine inside qemu, against drives the guest's kernel serves
# (tests/win32-kernel/run-vm.sh). The guest's kernel runs Wine's 32-bit loader, so it runs
# whichever way the suites above went; one counted test, or a line saying why it was skipped
# (run-vm.sh's status 77).
win32_kernel_run() {
    local handler=build/linux/bin/fwupgrade-tcmu
    # The drives' handler is a Linux program (statically linked, as tests/tcmu runs it).
    if [ ! -f build/linux/CMakeCache.txt ]; then cmake --preset linux >/dev/null || return; fi
    cmake --build --preset linux --target fwupgrade-tcmu || return
    bash tests/win32-kernel/run-vm.sh build/win32/bin "$handler" build/win32/win32-kernel
}
win32_kernel_count() {
    case "$1" in
        0) PASSED=$((PASSED + 1)) ;;
        77) ;;
        *) FAILED=$((FAILED + 1)); return 1 ;;
    esac
}
win32_kernel_test() {
    local rc=0
    win32_kernel_run || rc=$?
    win32_kernel_count "$rc"
}
# In the background a test cannot count: its status and output go to files, taken up by
# win32_kernel_end.
win32_kernel_begin() {
    mkdir -p "$LOGDIR"
    rm -f "$LOGDIR/win32-kernel.status"
    { local status=0
      win32_kernel_run >"$LOGDIR/win32-kernel.log" 2>&1 || status=$?
      echo "$status" >"$LOGDIR/win32-kernel.status"; } &
    WIN32_KERNEL_JOB=$!
}
win32_kernel_end() {
    wait "$WIN32_KERNEL_JOB" || true
    log "win32_kernel (ran beside the suites above)"
    cat "$LOGDIR/win32-kernel.log"
    win32_kernel_count "$(cat "$LOGDIR/win32-kernel.status" 2>/dev/null || echo 1)"
}

# Coverage-guided fuzzing (clang's libFuzzer with AddressSanitizer and UBSan), bounded:
# every target of tests/fuzz runs FWUPGRADE_FUZZ_SECONDS (default 20) on a copy of its seed
# corpus and counts as one test. A crash fails the step and leaves its input in
# build/linux-asan/crashes/<target>/, to be added to tests/fuzz/regressions/<target>/.
# The programs come from the linux-asan build (step linux_asan has made them when it ran).
step_fuzz() {
    local dir=build/linux-asan seconds=${FWUPGRADE_FUZZ_SECONDS:-20} rc=0 corpus target runs
    asan_tree_for_clang && cmake --preset linux-asan >/dev/null &&
        cmake --build --preset linux-asan --target fuzzers || return
    mkdir -p "$LOGDIR"
    # One target per core at a time: each is a single process for its whole time.
    local targets=()
    for corpus in tests/fuzz/corpus/*/; do
        target=$(basename "$corpus")
        targets+=("$target")
        rm -rf "$dir/run/$target" "$dir/crashes/$target"
        mkdir -p "$dir/run/$target" "$dir/crashes/$target"
        cp "$corpus"* "$dir/run/$target/"
        while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
        { local status=0
          "$dir/bin/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
              -print_final_stats=1 -artifact_prefix="$dir/crashes/$target/" "$dir/run/$target" \
              >"$LOGDIR/fuzz-$target.log" 2>&1 || status=$?
          echo "$status" >"$dir/run/$target.status"; } &
    done
    wait
    for target in "${targets[@]}"; do
        if [ "$(cat "$dir/run/$target.status")" = 0 ]; then
            runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$LOGDIR/fuzz-$target.log")
            echo "fuzz $target: ok, ${runs:-?} inputs in ${seconds}s"
            PASSED=$((PASSED + 1))
        else
            echo "fuzz $target: FAILED, input in $dir/crashes/$target/, log $LOGDIR/fuzz-$target.log"
            grep -E '^(==[0-9]+==ERROR|SUMMARY)|property broken' "$LOGDIR/fuzz-$target.log" | head -n 5
            FAILED=$((FAILED + 1))
            rc=1
        fi
    done
    return "$rc"
}
# shown_when_done PID LOG: waits for the background job PID, shows its output, and has its
# exit status.
shown_when_done() {
    local status=0
    wait "$1" || status=$?
    cat "$2"
    return "$status"
}

# The packages (scripts/package.sh into dist/) and four checks, each counted as one test:
# lintian on the Debian package (errors and warnings fail; debian/*.lintian-overrides say
# why any is accepted), the manual page through man and groff with their warnings on, the
# package's contents and its program unpacked into a throwaway root (tests/package), and the
# Windows installer under Wine (scripts/test-installer.sh: the shipped 32-bit installer
# where this machine runs 32-bit Wine, else the win64 build's installer of the same files).
step_package() {
    bash scripts/package.sh || return
    local version arch deb page rc=0
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
    arch=$(dpkg --print-architecture)
    deb=dist/fwupgrade_${version}_${arch}.deb
    # The page as the package ships it.
    page=build/package/fwupgrade.1
    dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/man/man1/fwupgrade.1.gz | gzip -dc >"$page" || true
    if host_runs_wine32; then
        cmake --build --preset win32 --target win32_installed || return
    else
        echo "note: this machine cannot start Wine's 32-bit loader: the installer test installs" \
             "the win64 build's installer of the same files"
        build_preset win64 && cmake --build --preset win64 --target installer win32_installed || return
    fi
    # The checks are independent and mostly wait (on Wine, on one lintian process): they
    # run side by side, each shown and counted in this order when done.
    mkdir -p "$LOGDIR"
    local names=(lintian manpage deb installer) pids=() i
    lintian --fail-on error,warning --info "$deb" >"$LOGDIR/package-lintian.log" 2>&1 &
    pids+=($!)
    check_manpage "$page" >"$LOGDIR/package-manpage.log" 2>&1 &
    pids+=($!)
    bash tests/package/check-deb.sh "$deb" "$version" >"$LOGDIR/package-deb.log" 2>&1 &
    pids+=($!)
    if host_runs_wine32; then
        bash scripts/test-installer.sh build/win32 "dist/fwupgrade-$version-setup.exe" \
            "dist/fwupgrade-$version-win32.zip" >"$LOGDIR/package-installer.log" 2>&1 &
    else
        bash scripts/test-installer.sh build/win64 "build/win64/package/fwupgrade-$version-setup.exe" \
            >"$LOGDIR/package-installer.log" 2>&1 &
    fi
    pids+=($!)
    for i in "${!names[@]}"; do
        if shown_when_done "${pids[$i]}" "$LOGDIR/package-${names[$i]}.log"; then
            echo "package check ${names[$i]}: ok"
            PASSED=$((PASSED + 1))
        else
            echo "package check ${names[$i]}: FAILED"
            FAILED=$((FAILED + 1))
            rc=1
        fi
    done
    return "$rc"
}
# Both man and groff render the page with every warning on; any output on stderr fails.
check_manpage() {
    local err
    [ -s "$1" ] || { echo "no manual page at $1"; return 1; }
    err=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$1" 2>&1 >/dev/null;
          groff -ww -man -z "$1" 2>&1)
    [ -z "$err" ] || { echo "$err"; return 1; }
}

# The real-kernel test alone (tests/kernel, CTest test kernel_tests): Debian's kernel in qemu
# with scsi_debug as the drive. Step linux already runs it among all tests, so it is not in
# STEPS; FWUPGRADE_STEPS=kernel runs just this.
step_kernel() { build_preset linux && run_ctest linux -R '^kernel_tests$'; }
# The emulated drive as a kernel SCSI target (tests/tcmu: fwupgrade-tcmu behind tcm_loop, in
# qemu). Step linux runs it too; FWUPGRADE_STEPS=tcmu runs just this.
step_tcmu() { build_preset linux && run_ctest linux -R '^tcmu_tests$'; }
# The shipped Windows program against drives the kernel serves (tests/win32-kernel). Step
# win32 runs it too; FWUPGRADE_STEPS=win32_kernel runs just this.
step_win32_kernel() {
    cmake --preset win32 >/dev/null && cmake --build --preset win32 --target fwupgrade ZURVAX &&
        win32_kernel_test
}

# The background steps: their process, name and start, in the order they began.
BG_PIDS=()
BG_NAMES=()
in_list() {
    local item=$1 each
    shift
    for each in "$@"; do [ "$each" = "$item" ] && return 0; done
    return 1
}
# beside NAME COMMAND...: COMMAND in the background, counting into files of its own: its
# output, then "status passed failed seconds", taken up by join_background.
beside() {
    local name=$1
    shift
    mkdir -p "$LOGDIR"
    echo "$name: in the background beside what follows; its output comes when it is joined"
    { local rc=0 t0
      t0=$(date +%s)
      PASSED=0 FAILED=0
      "$@" >"$LOGDIR/beside-$name.log" 2>&1 || rc=$?
      echo "$rc $PASSED $FAILED $(($(date +%s) - t0))" >"$LOGDIR/beside-$name.result"; } &
    BG_PIDS+=($!)
    BG_NAMES+=("$name")
}
# Waits for every background step, shows its output and counts it as if it had run here.
join_background() {
    local i name rc passed failed seconds failures=0
    for i in "${!BG_PIDS[@]}"; do
        name=${BG_NAMES[$i]}
        wait "${BG_PIDS[$i]}" || true
        log "$name (joined)"
        cat "$LOGDIR/beside-$name.log"
        read -r rc passed failed seconds <"$LOGDIR/beside-$name.result" || { rc=1 passed=0 failed=0 seconds=0; }
        PASSED=$((PASSED + passed))
        FAILED=$((FAILED + failed))
        TIMINGS+=("$(printf '%-12s %4ds (in the background)' "$name" "$seconds")")
        if [ "$rc" -ne 0 ]; then
            [ "$failed" -gt 0 ] || FAILED=$((FAILED + 1))
            echo "step $name failed" >&2
            failures=1
        fi
    done
    BG_PIDS=()
    BG_NAMES=()
    return "$failures"
}

summary() {
    local rc=$?
    # A step that failed here leaves no background step running on.
    if [ ${#BG_PIDS[@]} -gt 0 ]; then kill "${BG_PIDS[@]}" 2>/dev/null || true; fi
    if [ ${#TIMINGS[@]} -gt 0 ]; then
        printf '\n==> timings\n'
        printf '  %s\n' "${TIMINGS[@]}"
        # The steps' lines leave out the waits for background work at the joins.
        printf '  %-12s %4ds\n' total $(($(date +%s) - STARTED))
    fi
    [ "$rc" -eq 0 ] || printf '\nFAILED (exit status %d)\n' "$rc"
    echo "$PASSED passed, $FAILED failed"
}
STARTED=$(date +%s)
trap summary EXIT

selected=(${FWUPGRADE_STEPS:-${STEPS[*]}})
for i in "${!selected[@]}"; do
    s=${selected[$i]}
    if in_list "$s" "${JOIN_BEFORE[@]}"; then join_background || exit 1; fi
    if in_list "$s" "${STARTED_BESIDE[@]}"; then continue; fi
    if in_list "$s" "${BACKGROUND[@]}" && [ "$i" -lt $((${#selected[@]} - 1)) ]; then
        log "$s"
        beside "$s" "step_$s"
        continue
    fi
    log "$s"
    t0=$(date +%s)
    rc=0
    before=$FAILED
    "step_$s" || rc=$?
    TIMINGS+=("$(printf '%-12s %4ds' "$s" $(($(date +%s) - t0)))")
    if [ "$rc" -ne 0 ]; then
        # A step that failed without a counted test failure (a build, say) counts as one.
        [ "$FAILED" -gt "$before" ] || FAILED=$((FAILED + 1))
        echo "step $s failed" >&2
        exit 1
    fi
done
join_background || exit 1
