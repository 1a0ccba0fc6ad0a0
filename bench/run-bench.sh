#!/usr/bin/env bash
# Builds the join engine's benchmark (Release) and runs it beside cp -r, rsync -a, find | xargs cp,
# a bare copy_file_range loop and the floor (every file written from memory, no reading), and
# counts set A's system calls per copied file with strace. The data (about 1.2 GiB at full scale) and
# the outputs of every run, kept until the end, are made in a temporary folder and removed at the
# end: a full run needs about 31 GiB free there. Set N then joins onto a NAS (sshfs over a link of
# 5 and 20 ms round trip, all on this machine: bench/network-bench.sh).
#
#     bench/run-bench.sh [SCALE] [RUNS]
#
# SCALE shrinks every data set (0.1 gives a quick run); RUNS is the number of runs per contender.
# Every output is checked after its run; the status is 1 when one is not what it must be.
# SETS chooses the sets (default ABCDMN; SETS=N runs the network set alone, SETS=G the joins again).
# BUILD_DIR chooses the build folder, BENCH_DIR the folder for the data (default: TMPDIR or /tmp).
# The disk creates files slowly for a while after many were deleted: leave a minute between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scale="${1:-1}"
runs="${2:-6}"
sets="${SETS:-ABCDMN}"
build="${BUILD_DIR:-build/bench-release}"
status=0
disk_sets="${sets//N/}"
if [ -n "$disk_sets" ]; then
    for tool in cp rsync find xargs strace; do
        command -v "$tool" >/dev/null || { echo "run-bench.sh: $tool is needed" >&2; exit 1; }
    done
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRIMVALE_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target bench_join_copy -- -j2 >/dev/null
    "$build/bench/bench_join_copy" --scale "$scale" --runs "$runs" --sets "$disk_sets" \
        --dir "${BENCH_DIR:-${TMPDIR:-/tmp}}" || status=$?
fi
if [ "$disk_sets" != "$sets" ]; then
    bench/network-bench.sh "$scale" "$runs" || status=$?
fi
exit "$status"
