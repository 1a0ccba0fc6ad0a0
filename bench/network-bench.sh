#!/usr/bin/env bash
# Set N: joins onto a NAS, where every small file costs round trips. The engine's benchmark
# (bench_join_copy --sets N) joins into an sshfs mount beside cp -r and rsync -a into it and
# rsync -a over ssh, at round trips of 5 and 20 ms. It all runs on this machine: an sshd of the benchmark's
# own on 127.0.0.1 (its own host key, client key and configuration in a temporary folder, root
# logging in by that key alone), reached through bench_delay_proxy, which holds every byte for half
# the round trip each way, and sshfs mounted through the proxy with its default options.
#
#     bench/network-bench.sh [SCALE] [RUNS]      (bench/run-bench.sh runs it when SETS holds N)
#
# SCALE shrinks the data; RUNS is the number of runs per contender, at most 3 at each link.
# Needs root (the login, FUSE), sshd, sshfs, ssh, rsync and /dev/fuse; skips with one line where
# one is missing. ROUND_TRIPS chooses the round trips in ms (default "20 5"); BUILD_DIR and
# BENCH_DIR as for run-bench.sh. Every process and mount it starts ends with it, and its folder
# goes, also when it fails or is stopped with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
scale="${1:-1}"
runs="${2:-6}"
round_trips="${ROUND_TRIPS:-20 5}"
build="${BUILD_DIR:-build/bench-release}"
sshd=/usr/sbin/sshd

skip() {
    echo "Set N skipped: $1"
    exit 0
}
[ "$(id -u)" -eq 0 ] || skip "it needs root (sshd logs in as root; FUSE)"
[ -x "$sshd" ] || skip "sshd is missing (openssh-server)"
for tool in sshfs ssh ssh-keygen rsync fusermount3 mountpoint; do
    command -v "$tool" >/dev/null || skip "$tool is missing"
done
[ -c /dev/fuse ] || skip "FUSE is missing (/dev/fuse)"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRIMVALE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_join_copy bench_delay_proxy -- -j2 >/dev/null

work="$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/brimvale-nas-XXXXXX")"
case "$work" in
*,*)
    echo "network-bench.sh: the folder $work holds a comma" >&2
    rmdir "$work"
    exit 1
    ;;
esac

# Every background process is started in a process group of its own (set -m), so that Ctrl-C
# reaches only this script, which then stops them in order: the benchmark and what it runs first,
# while the mounts are still there to take its writes, then the mounts, the proxies, sshd.
bench_pid=""
sshd_pid=""
made_privsep_dir=""
proxy_pids=()
sshfs_pids=()
mounts=()
# shellcheck disable=SC2317 # called by the traps
cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    set +e
    if [ -n "$bench_pid" ]; then
        kill -TERM -- "-$bench_pid" 2>/dev/null
        wait "$bench_pid" 2>/dev/null
    fi
    for mount in "${mounts[@]}"; do
        if mountpoint -q "$mount"; then
            fusermount3 -u "$mount" 2>/dev/null || fusermount3 -u -z "$mount" 2>/dev/null
        fi
    done
    for pid in "${sshfs_pids[@]}" "${proxy_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    if [ -n "$sshd_pid" ]; then
        # With the links gone, sshd's sessions end by themselves; what is left is ended by its id.
        local sessions=()
        for _ in $(seq 50); do
            mapfile -t sessions < <(pgrep -P "$sshd_pid")
            [ ${#sessions[@]} -eq 0 ] && break
            sleep 0.1
        done
        kill -TERM "$sshd_pid" "${sessions[@]}" 2>/dev/null
        wait "$sshd_pid" 2>/dev/null
    fi
    [ -n "$made_privsep_dir" ] && rmdir /run/sshd 2>/dev/null
    rm -rf --one-file-system "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

fail() {
    echo "network-bench.sh: $1" >&2
    exit 1
}

# A port that takes a connection has a listener.
listening() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

ssh_dir="$work/ssh"
mkdir -m 700 "$ssh_dir"
ssh-keygen -q -t ed25519 -N '' -C brimvale-bench-host -f "$ssh_dir/host_key"
ssh-keygen -q -t ed25519 -N '' -C brimvale-bench-client -f "$ssh_dir/client_key"
cp "$ssh_dir/client_key.pub" "$ssh_dir/authorized_keys"
# sshd's unprivileged part needs its empty folder, which the package makes when it runs a server.
if [ ! -d /run/sshd ]; then
    mkdir -m 755 /run/sshd
    made_privsep_dir=1
fi

# sshd on a free port: one that no one answers on, taken at once.
for _ in $(seq 20); do
    port=$((20000 + RANDOM % 30000))
    listening "$port" && continue
    cat >"$ssh_dir/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $port
HostKey $ssh_dir/host_key
PidFile none
AuthorizedKeysFile $ssh_dir/authorized_keys
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
MaxStartups 100
MaxSessions 100
Subsystem sftp internal-sftp
LogLevel ERROR
EOF
    set -m
    "$sshd" -D -e -f "$ssh_dir/sshd_config" 2>>"$ssh_dir/sshd.log" &
    sshd_pid=$!
    set +m
    for _ in $(seq 100); do
        if listening "$port" || ! kill -0 "$sshd_pid" 2>/dev/null; then
            break
        fi
        sleep 0.05
    done
    kill -0 "$sshd_pid" 2>/dev/null && listening "$port" && break
    wait "$sshd_pid" 2>/dev/null || true
    sshd_pid=""
done
[ -n "$sshd_pid" ] || fail "sshd did not start: $(tail -n 3 "$ssh_dir/sshd.log")"

# A link per round trip: a delay proxy in front of sshd, and sshfs mounted through it.
links=()
for round_trip in $round_trips; do
    link="$work/${round_trip}ms"
    mkdir "$link" "$link/mount" "$link/remote"
    set -m
    "$build/bench/bench_delay_proxy" "$port" "$round_trip" >"$link/proxy-port" &
    proxy_pids+=($!)
    set +m
    for _ in $(seq 100); do
        [ -s "$link/proxy-port" ] && break
        sleep 0.05
    done
    proxy_port="$(cat "$link/proxy-port")"
    [ -n "$proxy_port" ] || fail "the delay proxy did not start"
    mounts+=("$link/mount")
    set -m
    sshfs -f -p "$proxy_port" -F /dev/null \
        -o "IdentityFile=$ssh_dir/client_key,IdentitiesOnly=yes,BatchMode=yes,ConnectTimeout=10" \
        -o StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,LogLevel=ERROR \
        "root@127.0.0.1:$link/remote" "$link/mount" 2>"$link/sshfs.log" &
    sshfs_pids+=($!)
    set +m
    for _ in $(seq 200); do
        if mountpoint -q "$link/mount" || ! kill -0 "${sshfs_pids[-1]}" 2>/dev/null; then
            break
        fi
        sleep 0.05
    done
    mountpoint -q "$link/mount" || fail "sshfs did not mount: $(tail -n 3 "$link/sshfs.log")"
    links+=(--link "$round_trip,$proxy_port,$link/mount,$link/remote")
done

set -m
"$build/bench/bench_join_copy" --sets N --scale "$scale" --runs "$runs" --dir "$work" \
    --ssh-key "$ssh_dir/client_key" "${links[@]}" &
bench_pid=$!
set +m
status=0
wait "$bench_pid" || status=$?
bench_pid=""
exit "$status"
