#!/usr/bin/env bash
# The benchmark: installs what is missing, builds the optimised Linux preset and prints the
# figures, ending with a short table. Not part of the tests: figures are not pass or fail.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target fwupgrade_bench
exec build/linux/bin/fwupgrade_bench --benchmark_repetitions=1 "$@"
