#!/usr/bin/env bash
# How soon Escape, answered Yes, ends a join's copies: set B joined through the window into a
# folder whose writes go at 1 MB/s (bench/slowfs.py over FUSE, as a slow USB stick) and into a
# folder on the disk. Prints the time from Yes to the end of the copies and to the closing message.
# Needs FUSE (root) and python3-fusepy.
#
#     bench/stop-bench.sh [SCALE] [STOP_AFTER_MS]
#
# BUILD_DIR chooses the build folder, BENCH_DIR the folder for the data (default: TMPDIR or /tmp).
set -euo pipefail
cd "$(dirname "$0")/.."
scale="${1:-1}"
after="${2:-1000}"
build="${BUILD_DIR:-build/bench-release}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRIMVALE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_window_join -- -j2 >/dev/null

work="$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/brimvale-stop-XXXXXX")"
mkdir "$work/backing" "$work/slow" "$work/disk"
/usr/bin/python3 bench/slowfs.py "$work/backing" "$work/slow" 1000000 &
slowfs=$!
cleanup() {
    fusermount3 -u "$work/slow" 2>/dev/null || umount "$work/slow" 2>/dev/null || true
    kill "$slowfs" 2>/dev/null || true
    wait "$slowfs" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 50); do
    mountpoint -q "$work/slow" && break
    sleep 0.1
done
mountpoint -q "$work/slow" || { echo "stop-bench.sh: the slow folder did not mount" >&2; exit 1; }

echo "1 MB/s (FUSE):"
"$build/bench/bench_window_join" --scale "$scale" --stop-after "$after" --stop-at "$work/slow" \
    --dir "$work"
echo
echo "Disk:"
"$build/bench/bench_window_join" --scale "$scale" --stop-after 300 --stop-at "$work/disk" \
    --dir "$work"
