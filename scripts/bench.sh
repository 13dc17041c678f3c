#!/usr/bin/env bash
# The benchmark: installs what is missing, builds the optimised Linux preset and prints the
# figures, ending with a short table. Not part of the tests: figures are not pass or fail.
# The SG_IO comparison with sg3_utils runs first, in qemu on Debian's own kernel (the kernel
# package comes from the qemu tests' cache); its line closes the table.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux >/dev/null
# The fleet copies the sample image from beside the program (fwupgrade_files makes it).
cmake --build --preset linux --target fwupgrade fwupgrade_files fwupgrade_bench fwupgrade_sg_bench
echo "Timing WRITE BUFFER through SG_IO in qemu (about half a minute)..."
if ! sg_line=$(bash bench/run-vm-bench.sh build/linux/bin/fwupgrade_sg_bench build/linux/sg-bench); then
  sg_line="sg_io WRITE BUFFER 8K: not measured, the VM run failed (its console is above)"
fi
# The repetitions of all benchmarks taken in random turns, so that a machine busy for a
# while with other work weighs on the worker and on its baseline alike.
build/linux/bin/fwupgrade_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_display_aggregates_only=true "$@"
echo "$sg_line"
echo "Timing a fleet of 16 emulated drives in real time (about three minutes)..."
bash bench/fleet-bench.sh build/linux/bin/fwupgrade
