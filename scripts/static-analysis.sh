#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) and cppcheck (options below) over the project's own
# code, as one configured build compiles it. Prints each finding; exits non-zero on any.
#   static-analysis.sh BUILD_DIR [--beyond OTHER_BUILD_DIR]
# BUILD_DIR (a configured build with compile_commands.json, unit by unit) is a Linux build or
# a Windows one (mingw-w64), as scripts/test.sh configures them for this into
# build/analysis/linux and build/analysis/win32: the Windows build is told by its compiler and
# brings in the Win32-only sources (the *_win32 files, framework/win32/, the Windows
# end-to-end driver in tests/win32/), which the Linux build never compiles.
# --beyond: OTHER_BUILD_DIR's pass has run or runs too, so clang-tidy analyses only what it
# does not: the sources it does not compile, and the shared ones whose own text tests the
# platform (scripts/clang-tidy-cached.py). Shared headers are analysed through the sources
# of either pass that include them.
# Both tools keep results, so a second run analyses only what changed. clang-tidy's clean
# results, keyed by the contents of all a unit reads (never by paths or times), are the user's
# and outlive the checkout: $FWUPGRADE_CACHE_DIR/clang-tidy, by default
# ${XDG_CACHE_HOME:-~/.cache}/fwupgrade/clang-tidy, so a fresh clone of a change analyses only
# the units the change reaches; on a new machine everything is analysed. cppcheck's are the
# build's (BUILD_DIR/cppcheck).
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
beyond=()
if [ "${2:-}" = --beyond ]; then
    [ -n "${3:-}" ] || { echo "usage: static-analysis.sh BUILD_DIR [--beyond OTHER_BUILD_DIR]" >&2; exit 2; }
    beyond=(--beyond "$3")
fi
db=$build/compile_commands.json
[ -f "$db" ] || { echo "static-analysis: no $db" >&2; exit 2; }
# A unity build's database names the files that bundle the sources, which the scope below
# never matches: nothing would be analysed.
if grep -q '^CMAKE_UNITY_BUILD:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
    echo "static-analysis: $build is a unity build; configure one unit by unit" \
         "(cmake --preset <name> -B build/analysis/<name> -DCMAKE_UNITY_BUILD=OFF)" >&2
    exit 2
fi

# The compiler of the build's C++ sources, and the machine it compiles for.
cxx=$(sed -nE 's/^ *"command": "([^ ]+) .*\.(cpp|cc)",?$/\1/p' "$db" | head -n1)
[ -n "$cxx" ] || { echo "static-analysis: no C++ compile command in $db" >&2; exit 2; }
triple=$("$cxx" -dumpmachine)

# The project's code: everything but tests, the benchmark and third-party sources; a Windows
# build adds the command line's Win32 processes and the end-to-end driver (tests/win32/), a
# Win32 program of its own.
root=$(pwd)
# Headers are included through the layers' include roots (cmake/Layers.cmake), links in the
# build tree to the same folders (build/<preset>/, or build/analysis/<preset>/ as the test
# command configures it).
roots="build/([^/]+/)+include-roots/"
folders='app|ui|scsi|devices|upgrade|cli|res|framework|zurvax'
win32_extra='tests/win32/[^/]*'
tidy_args=()
case $triple in
*mingw32*)
    windows=1
    scope="^$root/(($folders)/.*|$win32_extra)\\.cpp\$"
    headers="^$root/(($folders)/|tests/win32/|$roots)"
    # clang parses for the same target against the same headers: mingw-w64's and the cross
    # g++'s libstdc++, in g++'s order. g++'s own builtin headers (intrinsics, stddef.h) are
    # replaced by clang's, which clang needs in their place; nothing else, /usr/include above
    # all, may be searched (glibc's headers would shadow mingw's).
    gcc_builtin=$(realpath "$("$cxx" -print-file-name=include)")
    tidy_args+=(-extra-arg-before="--target=$triple" -extra-arg=-nostdinc)
    while read -r dir; do
        dir=$(realpath "$dir")
        case $dir in
        "$gcc_builtin") dir=$(clang -print-resource-dir)/include ;;
        "$gcc_builtin-fixed") continue ;;
        esac
        tidy_args+=(-extra-arg="-isystem$dir")
    done < <("$cxx" -xc++ -E -v - </dev/null 2>&1 |
        sed -n '/^#include <...> search starts here:/,/^End of search list./p' | sed -n 's/^ //p')
    ;;
*)
    windows=0
    scope="^$root/($folders)/.*\\.cpp\$"
    headers="^$root/(($folders)/|$roots)"
    ;;
esac
rc=0
. scripts/cache-dir.sh
cache=$(fwupgrade_cache_dir) || exit 2

echo "== clang-tidy ($triple)"
if ! python3 scripts/clang-tidy-cached.py --build "$build" --scope "$scope" --header-filter "$headers" \
        --cache "$cache/clang-tidy" --jobs "$(nproc)" --log "$build/clang-tidy.log" "${beyond[@]}" \
        -- "${tidy_args[@]}"; then
    rc=1
fi

echo "== cppcheck ($triple)"
# cppcheck has no system headers either way: what it knows of the C++ library and of the
# Win32 API comes from its own descriptions (std.cfg, and windows.cfg with the platform).
# The Linux build checks the portable sources and the Linux-only ones (*_linux.cpp); the
# Windows build only the Win32-only ones, the rest being the same code as there.
win32_only='(_win32\.cpp$|/win32/)'
if [ $windows -eq 1 ]; then
    mapfile -t sources < <(git ls-files '*.cpp' | grep -E "^(($folders)/.*|$win32_extra)\\.cpp\$" |
        grep -E "$win32_only")
    platform=(--platform=win32A --library=windows --library=googletest -D_WIN32 -DWIN32)
else
    mapfile -t sources < <(git ls-files '*.cpp' | grep -E "^($folders)/" |
        grep -v -E "($win32_only|/tools/)")
    platform=()
fi
mkdir -p "$build/cppcheck"
if ! cppcheck --enable=warning,performance,portability --std=c++20 --language=c++ --quiet \
        -j "$(nproc)" --cppcheck-build-dir="$build/cppcheck" \
        --inline-suppr --error-exitcode=1 --suppress=missingIncludeSystem "${platform[@]}" \
        -I . -I "$build/generated" "${sources[@]}"; then
    rc=1
fi
[ $rc -eq 0 ] && echo "static analysis: clean"
exit $rc
