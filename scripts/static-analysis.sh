#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) and cppcheck (options below) over the project's own
# code, as the Linux build compiles it. Prints each finding; exits non-zero on any.
#   static-analysis.sh BUILD_DIR   (a configured build with compile_commands.json)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
[ -f "$build/compile_commands.json" ] || { echo "static-analysis: no $build/compile_commands.json" >&2; exit 2; }

# The project's code: everything but tests, the benchmark and third-party sources.
root=$(pwd)
scope="^$root/(app|ui|scsi|devices|upgrade|res|framework|zurvax)/.*\\.cpp\$"
headers="^$root/(app|ui|scsi|devices|upgrade|res|framework|zurvax)/"
rc=0

echo "== clang-tidy"
if ! run-clang-tidy -p "$build" -quiet -j "$(nproc)" -header-filter "$headers" "$scope" >"$build/clang-tidy.log" 2>&1; then
    rc=1
fi
grep -E '(warning|error):' "$build/clang-tidy.log" | sort -u || true

echo "== cppcheck"
# Win32-only sources are left to the compiler there: cppcheck would need the SDK headers.
mapfile -t sources < <(git ls-files 'app/*.cpp' 'ui/*.cpp' 'scsi/*.cpp' 'devices/*.cpp' 'upgrade/*.cpp' \
    'res/*.cpp' 'framework/*.cpp' 'zurvax/*.cpp' | grep -v -E '(_win32\.cpp|/win32/|/tools/)')
if ! cppcheck --enable=warning,performance,portability --std=c++20 --language=c++ --quiet \
        --inline-suppr --error-exitcode=1 --suppress=missingIncludeSystem -I . "${sources[@]}"; then
    rc=1
fi
[ $rc -eq 0 ] && echo "static analysis: clean"
exit $rc
