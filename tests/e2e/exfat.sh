#!/usr/bin/env bash
# A real exFAT volume: a 64 MiB image file on a loop device, mounted with exfat-fuse, which
# statfs reports only as "fuseblk". In both copy options a dry run names the case clashes and the
# names exFAT refuses while the volume stays empty, and the real join then reports exactly the
# refused names. Given the engine's test join_test_targetfs, it also runs its check of names and
# times against the volume, and its reading of the volume's type from udev as a user who cannot
# read the device. Needs root, loop devices and FUSE; skips only where the machine has none.
# Usage: exfat.sh BRIMVALE [JOIN_TEST_TARGETFS]
set -euo pipefail

brimvale=$1
targetfs_test=${2:-}

skip() {
    echo "SKIP: $*"
    exit 77
}
[ -e /dev/loop-control ] || skip "no /dev/loop-control: this machine has no loop devices"
[ -e /dev/fuse ] || skip "no /dev/fuse: this machine has no FUSE"
[ "$(id -u)" -eq 0 ] || skip "mounting a loop device takes root"

work=$(mktemp -d)
stick="$work/stick"
loop=""
cleanup() {
    if mountpoint -q "$stick" 2>/dev/null; then
        umount "$stick" 2>/dev/null || umount -l "$stick" || true
    fi
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/err" ] && sed 's/^/  stderr: /' "$work/err" >&2
    [ -f "$work/plan" ] && sed 's/^/  plan: /' "$work/plan" >&2
    exit 1
}

truncate -s 64M "$work/stick.img"
mkfs.exfat "$work/stick.img" >/dev/null
loop=$(losetup -f --show "$work/stick.img")
mkdir "$stick"
mount.exfat-fuse "$loop" "$stick"
mountpoint -q "$stick" || fail "the exFAT volume did not mount"

src="$work/src"
mkdir -p "$src/a" "$src/b/sub"
echo a-notes >"$src/a/notes.txt"
echo a-photo >"$src/a/Photo.JPG"
echo colon >"$src/a/what:now.txt"
echo draft >"$src/a/~draft.txt"
echo b-notes >"$src/b/notes.txt"
echo b-photo >"$src/b/photo.jpg"
echo question >"$src/b/sub/why?.txt"
echo readme >"$src/b/sub/Readme.md"
echo README >"$src/b/sub/README.md"
refused=("$src/a/what:now.txt" "$src/b/sub/why?.txt")

# Runs brimvale with the rest of the arguments; its exit status in $status.
run() {
    status=0
    "$brimvale" "$@" >"$work/plan" 2>"$work/err" || status=$?
}

expect_in_plan() {
    grep -qF -- "$1" "$work/plan" || fail "$option dry run lacks: $1"
}

for option in flat preserve; do
    rm -rf "${stick:?}"/*
    if [ $option = flat ]; then
        arguments=(join --flat --output "$stick" "$src/a" "$src/b")
    else
        arguments=(join --output "$stick/" "$src/a" "$src/b")
    fi

    run "${arguments[@]}" --dry-run
    [ "$status" -eq 1 ] || fail "$option dry run: exit status $status, not 1"
    [ -z "$(ls -A "$stick")" ] || fail "$option dry run wrote into the volume: $(ls -A "$stick")"
    expect_in_plan "file system: exfat (mounted as fuseblk) on $loop"
    expect_in_plan "names: case ignored, at most 255 characters"
    expect_in_plan "Refused by exfat: ${#refused[@]}"
    for name in "${refused[@]}"; do
        expect_in_plan "$name: the name holds"
    done
    if [ $option = flat ]; then
        expect_in_plan "notes.txt: $src/b/notes.txt replaces $src/a/notes.txt"
        expect_in_plan "$src/b/photo.jpg replaces $src/a/Photo.JPG (one name on exfat)"
        expect_in_plan "$src/a/~draft.txt"
    fi
    expect_in_plan "README.md"

    run "${arguments[@]}"
    [ "$status" -eq 1 ] || fail "$option join: exit status $status, not 1"
    # One report per entry, with the count and the first in processing order: a name exfat
    # refuses, or in a whole tree a name that is one with a later one there.
    if [ $option = flat ]; then
        expected=("Could not copy 1 file: $stick/what:now.txt: the name holds \":\""
            "Could not copy 1 file: $stick/why?.txt: the name holds \"?\"")
    else
        expected=("Could not copy 1 file: $stick/a/what:now.txt: the name holds \":\""
            "Could not copy 2 files; the first: $src/b/sub/README.md: its name and \"Readme.md\" are one on exfat")
    fi
    for report in "${expected[@]}"; do
        grep -qF -- "$report" "$work/err" || fail "$option join does not report: $report"
    done
    reports=$(grep -c '^brimvale: entry' "$work/err" || true)
    [ "$reports" -eq 2 ] || fail "$option join: $reports reports, not 2"
    if [ $option = flat ]; then
        [ "$(cat "$stick/notes.txt")" = b-notes ] || fail "flat join: notes.txt is not b's"
        [ "$(cat "$stick/photo.jpg")" = b-photo ] || fail "flat join: photo.jpg is not b's"
    else
        [ "$(cat "$stick/a/notes.txt")" = a-notes ] || fail "preserve join: a/notes.txt"
        [ "$(cat "$stick/b/notes.txt")" = b-notes ] || fail "preserve join: b/notes.txt"
    fi
done

# A partly written file that a join killed mid-copy left in a folder a preserve join merges into
# (exFAT has no unnamed files): its maker's boot is over, so the next join removes it, says so,
# and leaves a name of another machine alone.
machine=$(head -c 12 /etc/machine-id 2>/dev/null || head -c 12 /var/lib/dbus/machine-id)
boot=000000000000
leftover=".brimvale-$machine-$boot-1-4242-4242-abcdefgh.tmp"
foreign=".brimvale-abcdefabcdef-$boot-1-4242-4242-abcdefgh.tmp"
echo partly >"$stick/a/$leftover"
echo partly >"$stick/a/$foreign"
run join --output "$stick/" "$src/a" "$src/b"
[ ! -e "$stick/a/$leftover" ] || fail "a join left an ended join's partly written file"
[ -e "$stick/a/$foreign" ] || fail "a join removed another machine's temporary file"
grep -qF "Removed 1 partly written file that an ended join had left" "$work/err" ||
    fail "a join did not say it removed an ended join's partly written file: $(cat "$work/err")"

# The engine's keys for names against the names the volume takes as one, for every letter whose
# upper case exFAT and the C library tell differently; and its time step against a time set there.
if [ -n "$targetfs_test" ]; then
    rm -rf "${stick:?}"/*
    mkdir "$stick/names"
    BRIMVALE_EXFAT_FOLDER="$stick/names" "$targetfs_test" \
        --gtest_filter=TargetFileSystem.NamesAndTimesOnARealExFatVolume >"$work/gtest" 2>&1 ||
        fail "the engine's names or times differ from the volume's: $(cat "$work/gtest")"
    grep -q '^\[       OK \] TargetFileSystem.NamesAndTimesOnARealExFatVolume' "$work/gtest" ||
        fail "the check of names and times on the volume did not run: $(cat "$work/gtest")"
fi

# A user who cannot read the device: the volume mounted for user 65534, who runs the join. Its
# case rule is found by trying names in the output folder, so the later of two names that are
# one on exFAT is the one left.
umount "$stick"
mount.exfat-fuse -o uid=65534,gid=65534,allow_other "$loop" "$stick"
mountpoint -q "$stick" || fail "the exFAT volume did not mount for user 65534"
rm -rf "${stick:?}"/*
user="$work/user"
mkdir -p "$user/A" "$user/B"
echo earlier >"$user/A/Photo1.JPG"
echo later >"$user/B/photo1.jpg"
cp "$brimvale" "$user/brimvale"
chmod -R a+rX "$work"
as_user() {
    status=0
    setpriv --reuid=65534 --regid=65534 --clear-groups "$user/brimvale" "$@" >"$work/plan" \
        2>"$work/err" || status=$?
}
as_user join --flat --dry-run --output "$stick" "$user/A" "$user/B"
grep -qF "names: case ignored" "$work/plan" || fail "dry run as user 65534 does not know exFAT ignores case"
as_user join --flat --output "$stick" "$user/A" "$user/B"
[ "$status" -eq 0 ] || fail "flat join as user 65534: exit status $status, not 0"
[ "$(cat "$stick"/*)" = later ] || fail "flat join as user 65534 left the earlier file: $(ls "$stick")"
[ -z "$(ls -A "$stick" | grep brimvale)" ] || fail "the case trial left a name: $(ls -A "$stick")"

# A name the volume refuses is said to be refused, also where neither udev nor the device tells
# this user what the volume is.
mkdir "$user/C"
echo colon >"$user/C/what:now.txt"
chmod -R a+rX "$user"
as_user join --flat --output "$stick" "$user/C"
[ "$status" -eq 1 ] || fail "flat join of a refused name as user 65534: exit status $status, not 1"
grep -qF "$stick/what:now.txt: the name holds \":\"" "$work/err" ||
    fail "a join as user 65534 does not say the name was refused: $(cat "$work/err")"

# What the volume is, from udev's database, to a user who cannot read the device.
if [ -n "$targetfs_test" ]; then
    BRIMVALE_EXFAT_USER_FOLDER="$stick" "$targetfs_test" \
        --gtest_filter=TargetFileSystem.AFuseVolumeKnownByUdevToAUserWhoCannotReadItsDevice \
        >"$work/gtest" 2>&1 || fail "the volume's type as user 65534: $(cat "$work/gtest")"
    grep -q '^\[       OK \] TargetFileSystem.AFuseVolumeKnownByUdevToAUserWhoCannotReadItsDevice' \
        "$work/gtest" || fail "the check of the volume's type did not run: $(cat "$work/gtest")"
fi

echo "exfat: dry runs and joins on $loop agree in both options; a user without the device gets the later file and is told which name was refused"
