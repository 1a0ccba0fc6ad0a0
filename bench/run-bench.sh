#!/usr/bin/env bash
# Builds the join engine's benchmark (Release) and runs it beside cp -r, rsync -a, find | xargs cp,
# a bare copy_file_range loop and the floor (every file written from memory, no reading), and
# counts set A's system calls per copied file with strace. The data (about 1.2 GiB at full scale) and
# the outputs of every run, kept until the end, are made in a temporary folder and removed at the
# end: a full run needs about 31 GiB free there.
#
#     bench/run-bench.sh [SCALE] [RUNS]
#
# SCALE shrinks every data set (0.1 gives a quick run); RUNS is the number of runs per contender.
# Every output is checked after its run; the status is 1 when one is not what it must be.
# BUILD_DIR chooses the build folder, BENCH_DIR the folder for the data (default: TMPDIR or /tmp).
# The disk creates files slowly for a while after many were deleted: leave a minute between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scale="${1:-1}"
runs="${2:-6}"
build="${BUILD_DIR:-build/bench-release}"
for tool in cp rsync find xargs strace; do
    command -v "$tool" >/dev/null || { echo "run-bench.sh: $tool is needed" >&2; exit 1; }
done
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRIMVALE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_join_copy -- -j2 >/dev/null
exec "$build/bench/bench_join_copy" --scale "$scale" --runs "$runs" --dir "${BENCH_DIR:-${TMPDIR:-/tmp}}"
