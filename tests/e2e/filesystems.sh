#!/usr/bin/env bash
# Runs a test command once on each file system a desktop user meets, every one of them real and
# made here, one after another: tmpfs; ext4, XFS and btrfs on loop devices; exFAT and NTFS through
# their FUSE drivers on loop devices, as a USB stick is mounted; and an SSH share, sshfs to an
# sshd of our own on 127.0.0.1. The command gets, in its environment:
#   BRIMVALE_REFERENCE_TARGET  a folder on the file system under test, to write below
#   BRIMVALE_REFERENCE_CASE    "ignored" where names that differ only in case are one name there,
#                              "kept" elsewhere
# One line per file system: its name, the mount type as findmnt shows it, PASS or FAIL with the
# command's exit status and the times taken. The command's output is shown only when it fails,
# or always with -v. Exits 1 when any file system failed, after all of them ran. Needs root, loop
# devices and FUSE; skips (77) only where the machine has none. A file system that cannot be made
# on a machine that has them is a failure.
# BRIMVALE_FILESYSTEMS, a list of the names below, runs only those.
# Usage: filesystems.sh [-v] COMMAND [ARGS...]
set -euo pipefail
shopt -s inherit_errexit

# Each image file is sparse; the test writes at most a few hundred MiB. XFS needs 300 MiB at least.
image_size=512M
file_systems=(tmpfs ext4 xfs btrfs exfat ntfs sshfs)
# BRIMVALE_FILESYSTEMS="sshfs exfat" runs only those, for a developer chasing one of them.
if [ -n "${BRIMVALE_FILESYSTEMS:-}" ]; then
    read -ra file_systems <<<"$BRIMVALE_FILESYSTEMS"
fi

# sshd and the mkfs tools live in sbin, which a test runner's PATH may lack.
PATH=$PATH:/usr/sbin:/sbin

verbose=0
if [ "${1:-}" = -v ]; then
    verbose=1
    shift
fi
if [ $# -eq 0 ]; then
    echo "usage: $0 [-v] COMMAND [ARGS...]" >&2
    exit 2
fi
command -v "$1" >/dev/null || {
    echo "$0: cannot run $1" >&2
    exit 2
}

skip() {
    echo "SKIP: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "mounting file systems takes root"
[ -e /dev/loop-control ] || skip "no /dev/loop-control: this machine has no loop devices"
[ -e /dev/fuse ] || skip "no /dev/fuse: this machine has no FUSE"
# FUSE may be a module that nothing has loaded yet.
grep -qw fuse /proc/filesystems || modprobe -q fuse 2>/dev/null || true
grep -qw fuse /proc/filesystems || skip "the kernel lists no fuse in /proc/filesystems"

work=$(mktemp -d "${TMPDIR:-/tmp}/brimvale-filesystems-XXXXXX")

# Taking a file system down looks for what its step made (a mount below $work, loop devices on
# its image, the sshd whose pid it wrote), so it undoes whatever the step got to before it stopped.
unmount() {
    local point=$1
    mountpoint -q "$point" 2>/dev/null || return 0
    umount "$point" 2>/dev/null || umount -l "$point"
}
detach() {
    local image=$1 loop
    [ -e "$image" ] || return 0
    for loop in $(losetup -nO NAME -j "$image"); do
        losetup -d "$loop"
    done
}
stop_sshd() {
    [ -f "$work/sshd.pid" ] || return 0
    local pid
    pid=$(cat "$work/sshd.pid")
    rm -f "$work/sshd.pid"
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        running "$pid" || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
}
# Whether a process runs. sshd is started in a subshell, so it is not this shell's child to wait
# for, and once it ends it may stay a zombie until whoever adopted it gets round to it.
running() {
    local state
    state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null) || return 1
    [ "${state:0:1}" != Z ]
}
tear_down() {
    local name=$1
    unmount "$work/mnt/$name"
    detach "$work/$name.img"
    rm -f "$work/$name.img"
    [ "$name" != sshfs ] || stop_sshd
}
# The command, while it runs, leads its own process group; the whole group is stopped before
# its file system is taken away.
command_pid=
stop_command() {
    [ -n "$command_pid" ] || return 0
    kill -TERM -- "-$command_pid" 2>/dev/null
    for _ in $(seq 50); do
        running "$command_pid" || break
        sleep 0.1
    done
    kill -KILL -- "-$command_pid" 2>/dev/null
    wait "$command_pid" 2>/dev/null
}
cleanup() {
    set +e
    stop_command
    local name
    for name in "${file_systems[@]}"; do
        tear_down "$name"
    done
    stop_sshd
    # Never into a file system that is still mounted below.
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# Each make_NAME mounts its file system on the folder given, stopping at the first failing
# command (see attempt); the mount table then shows the type.
need() {
    command -v "$1" >/dev/null || {
        echo "$1 is missing: tools/deps.sh installs $2"
        return 1
    }
}

# Loop devices are what a USB stick is to the drivers: block devices.
loop_image() {
    local name=$1
    truncate -s "$image_size" "$work/$name.img"
    "${@:2}" "$work/$name.img" >&2
    losetup -f --show "$work/$name.img"
}

# A kernel file system on a loop device; the kernel may lack it.
mount_kernel() {
    local type=$1 loop=$2 point=$3
    mount -t "$type" "$loop" "$point" || {
        grep -qw "$type" /proc/filesystems ||
            echo "the kernel lists no $type in /proc/filesystems"
        return 1
    }
}

make_tmpfs() {
    mount -t tmpfs -o "size=$image_size,mode=0755" brimvale-tmpfs "$1"
}

make_ext4() {
    need mkfs.ext4 e2fsprogs
    local loop
    loop=$(loop_image ext4 mkfs.ext4 -q)
    mount_kernel ext4 "$loop" "$1"
}

make_xfs() {
    need mkfs.xfs xfsprogs
    local loop
    loop=$(loop_image xfs mkfs.xfs -q)
    mount_kernel xfs "$loop" "$1"
}

make_btrfs() {
    need mkfs.btrfs btrfs-progs
    local loop
    loop=$(loop_image btrfs mkfs.btrfs -q)
    mount_kernel btrfs "$loop" "$1"
}

make_exfat() {
    need mkfs.exfat exfatprogs
    need mount.exfat-fuse exfat-fuse
    local loop
    loop=$(loop_image exfat mkfs.exfat)
    mount.exfat-fuse "$loop" "$1"
}

make_ntfs() {
    need mkntfs ntfs-3g
    need ntfs-3g ntfs-3g
    local loop
    loop=$(loop_image ntfs mkntfs -Q -F -q)
    ntfs-3g "$loop" "$1"
}

# An sshd of our own, with its own keys and configuration, on a free port of 127.0.0.1; it
# serves only SFTP, in its own process (internal-sftp), to root with the key made here. A system sshd,
# if any, is left alone.
make_sshfs() {
    need sshd openssh-server
    need ssh-keygen openssh-client
    need sshfs sshfs
    local keys=$work/ssh
    mkdir -m 700 "$keys" "$work/remote"
    ssh-keygen -q -t ed25519 -N '' -C brimvale-host -f "$keys/host_key"
    ssh-keygen -q -t ed25519 -N '' -C brimvale-user -f "$keys/user_key"
    cp "$keys/user_key.pub" "$keys/authorized_keys"
    # sshd drops privileges into this folder; a system without a running sshd may not have it.
    [ -d /run/sshd ] || mkdir -m 755 /run/sshd

    local port sshd started=0
    sshd=$(command -v sshd)
    for _ in 1 2 3 4 5; do
        port=$((20000 + RANDOM % 10000))
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            continue
        fi
        cat >"$keys/sshd_config" <<EOF
ListenAddress 127.0.0.1:$port
HostKey $keys/host_key
PidFile none
AuthorizedKeysFile $keys/authorized_keys
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
AllowTcpForwarding no
X11Forwarding no
PrintMotd no
Subsystem sftp internal-sftp
ForceCommand internal-sftp
EOF
        # sshd re-executes itself, so it must be started by its full path.
        "$sshd" -D -f "$keys/sshd_config" -E "$keys/sshd.log" </dev/null >/dev/null 2>&1 &
        echo $! >"$work/sshd.pid"
        # Listening, or gone because the port was taken meanwhile.
        for _ in $(seq 100); do
            if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
                started=1
                break
            fi
            running "$(cat "$work/sshd.pid")" || break
            sleep 0.05
        done
        [ $started -eq 0 ] || break
        stop_sshd
    done
    if [ $started -eq 0 ]; then
        echo "sshd did not start:"
        cat "$keys/sshd.log"
        return 1
    fi
    sshfs -F /dev/null -p "$port" \
        -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null \
        -o IdentityFile="$keys/user_key" -o IdentitiesOnly=yes -o BatchMode=yes \
        -o ConnectTimeout=10 -o LogLevel=ERROR \
        "root@127.0.0.1:$work/remote" "$1"
}

# What findmnt shows for each, and where names that differ only in case are one.
declare -A mount_type=([tmpfs]=tmpfs [ext4]=ext4 [xfs]=xfs [btrfs]=btrfs [exfat]=fuseblk
    [ntfs]=fuseblk [sshfs]=fuse.sshfs)
declare -A name_case=([exfat]=ignored)

# Runs the rest of the arguments in a subshell that stops at its first failing command, which
# set -e does not do inside a condition; the exit status in $status.
attempt() {
    set +e
    (
        set -e
        "$@"
    )
    status=$?
    set -e
}

now() { echo "${EPOCHREALTIME/[,.]/}"; }
seconds() { printf '%d.%03d s' $(($1 / 1000000)) $(($1 % 1000000 / 1000)); }

# Prints a file's lines indented, below the line of its file system.
show() {
    sed 's/^/    /' "$1"
}

failed=()
started=$(now)
for name in "${file_systems[@]}"; do
    point=$work/mnt/$name
    mkdir -p "$point"
    begin=$(now)
    attempt "make_$name" "$point" >"$work/make.log" 2>&1
    type=$(findmnt -no FSTYPE --mountpoint "$point" 2>/dev/null || true)
    if [ "$status" -ne 0 ] || ! mountpoint -q "$point"; then
        if [ "$status" -ne 0 ]; then
            printf '%-6s %-10s FAIL: could not be made (status %d)\n' "$name" - "$status"
        else
            printf '%-6s %-10s FAIL: mounted, yet %s is no mount point\n' "$name" - "$point"
        fi
        show "$work/make.log"
        failed+=("$name")
        tear_down "$name"
        continue
    fi
    if [ "$type" != "${mount_type[$name]}" ]; then
        printf '%-6s %-10s FAIL: mounted as %s, not %s\n' "$name" "$type" "$type" \
            "${mount_type[$name]}"
        failed+=("$name")
        tear_down "$name"
        continue
    fi
    made=$(now)

    # In the background, so that a signal to this script is handled at once and not when the
    # command ends, and in a process group of its own, so that all of it can be stopped; env gives
    # it back the default Ctrl-C that a background command would lose.
    BRIMVALE_REFERENCE_TARGET=$point BRIMVALE_REFERENCE_CASE=${name_case[$name]:-kept} \
        setsid env --default-signal=INT,QUIT "$@" >"$work/run.log" 2>&1 </dev/null &
    command_pid=$!
    status=0
    wait "$command_pid" || status=$?
    command_pid=
    ran=$(now)
    tear_down "$name"
    times="made in $(seconds $((made - begin))), ran $(seconds $((ran - made))),\
 gone in $(seconds $(($(now) - ran)))"
    if [ "$status" -eq 0 ]; then
        printf '%-6s %-10s PASS (exit 0; %s)\n' "$name" "$type" "$times"
        [ $verbose -eq 0 ] || show "$work/run.log"
    else
        printf '%-6s %-10s FAIL (exit %d; %s)\n' "$name" "$type" "$status" "$times"
        show "$work/run.log"
        failed+=("$name")
    fi
done

echo "${#file_systems[@]} file systems in $(seconds $(($(now) - started))):" \
    "${#failed[@]} failed${failed:+ (${failed[*]})}"
[ ${#failed[@]} -eq 0 ]
