#!/usr/bin/env bash
# Checks every tracked C and C++ file against the style: .clang-format at the root, or a
# folder's own where it deliberately differs. Prints the files that differ (-v: with what
# would change) and exits non-zero if any does; scripts/format.sh applies the style.
#   check-format.sh [-v | --list]    --list: only the files covered, NUL-separated
# clang-format 14 by name: another version formats some constructs differently.
set -uo pipefail
cd "$(dirname "$0")/.."

# Every tracked C and C++ source and header. Templates of generated headers (*.h.in) are not
# C++ until CMake fills them: the formatter would split their @NAME@ placeholders.
files() { git ls-files -z -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp'; }

case ${1:-} in
--list) files; exit ;;
-v) verbose=1 ;;
'') verbose=0 ;;
*) echo "usage: check-format.sh [-v | --list]" >&2; exit 2 ;;
esac
differ=0
while IFS= read -r -d '' file; do
    if ! out=$(clang-format-14 --dry-run -Werror "$file" 2>&1); then
        echo "$file"
        [ $verbose -eq 1 ] && printf '%s\n' "$out"
        differ=$((differ + 1))
    fi
done < <(files)
if [ $differ -ne 0 ]; then
    echo "format: $differ file(s) differ from the style; scripts/format.sh applies it" >&2
    exit 1
fi
echo "format: clean"
