#!/usr/bin/env bash
# The command line's Ctrl-Z and fg: SIGTSTP in the middle of a join pauses the run (every copy in
# flight finishes its chunk, nothing partly written carries its own name), says so, and stops the
# process; SIGCONT lets the run go on to a whole output and exit status 0.
# Usage: terminalpause.sh BRIMVALE
set -euo pipefail

brimvale=$1
work=$(mktemp -d)
pid=""
cleanup() {
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/err" ] && sed 's/^/    /' "$work/err" >&2
    exit 1
}
# Waits at most $1 seconds for the command after it to succeed.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt "$deadline" ] || return 1
    done
}
state() { ps -o stat= -p "$pid" 2>/dev/null | cut -c1; }
stopped() { [ "$(state)" = T ]; }
copying() { [ -n "$(ls -A "$work/out/src" 2>/dev/null)" ]; }

mkdir -p "$work/src" "$work/out"
for i in $(seq 1 24); do
    head -c $((16 << 20)) /dev/urandom >"$work/src/f$i"
done

"$brimvale" join --output "$work/out/" "$work/src" >"$work/out.log" 2>"$work/err" &
pid=$!
wait_for 60 copying || fail "no copy began"
kill -TSTP "$pid"
wait_for 30 stopped || fail "Ctrl-Z: the process did not stop"
grep -q "paused" "$work/err" || fail "Ctrl-Z: the pause was not said"
# Held: each file under its own name is whole.
for copy in "$work/out/src"/*; do
    cmp -s "$copy" "$work/src/${copy##*/}" || fail "paused: ${copy##*/} is not whole"
done
kill -CONT "$pid"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "fg: exit status $status, not 0"
grep -q "going on" "$work/err" || fail "fg: the run's going on was not said"
diff -r "$work/src" "$work/out/src" >/dev/null || fail "fg: the output is not the source"
echo "e2e: Ctrl-Z paused the run and fg finished it"
