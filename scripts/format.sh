#!/usr/bin/env bash
# Rewrites, in place, every file scripts/check-format.sh checks, in the style it checks.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/check-format.sh --list | xargs -0 -r clang-format-14 -i
