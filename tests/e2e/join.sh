#!/usr/bin/env bash
# End to end: starts the built program in a real X server (Xvfb), clicks "Load Sample/Example
# Folders" and "Start Joining" in both copy options, answers "Done.", checks the output folder,
# then closes the window and checks that the process ends. A signal without a run ends the
# program at once. As root, with loop devices and FUSE, a long join onto an exFAT stick
# (exfat-fuse, where copies are written under temporary names) is ended in the middle of a copy
# by SIGTERM and by another client destroying the window: the process ends, no temporary stays.
# Usage: join.sh BRIMVALE CLOSEWINDOW
set -euo pipefail

brimvale=$1
closewindow=$2
bin_dir=$(dirname "$brimvale")

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
stick="$work/stick"
loop=""
cleanup() {
    [ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    if mountpoint -q "$stick" 2>/dev/null; then
        umount "$stick" 2>/dev/null || umount -l "$stick" || true
    fi
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# fail, wait_for, start_display
source "$(dirname "$0")/xdisplay.sh"

# A settings store of our own: flat copy into $work/out/.
mkdir -p "$work/home" "$work/config/Quorvik" "$work/out"
cat >"$work/config/Quorvik/Quorvik.conf" <<CONF
[Brimvale]
Option1=False
Option2=True
Output%20Folder=$work/out/
CONF

# At start-up the program opens its home page by chance (one second of the day in a hundred); a
# browser of our own takes it, so that the window comes up whatever the time and whatever this
# machine has installed.
mkdir -p "$work/bin"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"

start_display "$work"

visible_windows() { xdotool search --onlyvisible --name '^Brimvale$' 2>/dev/null || true; }
one_window() { [ "$(visible_windows | wc -l)" -ge 1 ]; }
two_windows() { [ "$(visible_windows | wc -l)" -ge 2 ]; }

# Starts the program $1 with the settings store above; sets app_pid and main_window.
start_brimvale() {
    HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=xcb \
        PATH="$work/bin:$PATH" "$1" >"$work/app.log" 2>&1 &
    app_pid=$!
    wait_for 20 one_window || fail "the main window did not appear"
    main_window=$(visible_windows | head -n1)
}

# Waits at most $1 seconds for the program to end; its exit status in $status.
wait_for_end() {
    wait_for "$1" bash -c "! kill -0 $app_pid 2>/dev/null" || return 1
    status=0
    wait "$app_pid" || status=$?
    app_pid=""
}

start_brimvale "$brimvale"

# Client-area positions of the controls, in pixels (twips / 15).
click() { xdotool mousemove --window "$main_window" "$1" "$2" click 1; }
load_samples() { click 388 265; }
start_joining() { click 260 427; }
select_preserve() { click 30 366; }

# Waits for the "Done." box and presses its OK button.
answer_done() {
    wait_for 60 two_windows || fail "no message box after Start Joining"
    local box
    box=$(visible_windows | grep -v -x "$main_window" | head -n1)
    xdotool windowfocus --sync "$box"
    xdotool key Return
    wait_for 10 bash -c '[ "$(xdotool search --onlyvisible --name "^Brimvale\$" | wc -l)" -eq 1 ]' ||
        fail "the message box did not close"
}

samples="$bin_dir/Samples"
[ -d "$samples/Folder1" ] && [ -d "$samples/Folder2" ] || fail "no sample folders beside the program"

# The command line, given the window's list, an output folder text like the window's and the
# same option, leaves the same output folder, and never touches the window's settings.
same_from_terminal() {
    local option=$1
    shift
    rm -rf "$work/cli" && mkdir "$work/cli"
    local settings
    settings=$(cat "$work/config/Quorvik/Quorvik.conf")
    HOME="$work/home" XDG_CONFIG_HOME="$work/config" "$brimvale" join "$@" --output "$work/cli/" \
        "$samples/Folder1" "$samples/Folder2" 2>"$work/cli.log" ||
        fail "$option copy from the terminal: $(cat "$work/cli.log")"
    diff -r "$work/out" "$work/cli" >/dev/null ||
        fail "$option copy: the terminal's output folder differs from the window's"
    [ "$(cat "$work/config/Quorvik/Quorvik.conf")" = "$settings" ] ||
        fail "$option copy from the terminal changed the window's settings"
}

# Flat copy: every file of both sample trees lands directly in out/, "~" names left out.
load_samples
start_joining
answer_done
expected=$(find "$samples/Folder1" "$samples/Folder2" -type f ! -name '~*' -printf '%f\n' | sort -u)
actual=$(find "$work/out" -mindepth 1 -printf '%P\n' | sort)
[ "$expected" = "$actual" ] || fail "flat copy: expected [$expected], found [$actual]"
# A name found at the top of both folders comes from the later one.
while IFS= read -r name; do
    if [ -f "$samples/Folder1/$name" ] && [ -f "$samples/Folder2/$name" ]; then
        cmp -s "$samples/Folder2/$name" "$work/out/$name" || fail "flat copy: $name is not the later file"
        shared_seen=1
    fi
done <<<"$actual"
[ -n "${shared_seen:-}" ] || fail "the sample folders share no file name"
same_from_terminal flat --flat

# Preserve structure into a fresh output folder: each sample tree arrives whole.
rm -rf "$work/out" && mkdir "$work/out"
select_preserve
wait_for 5 grep -q '^Option1=True' "$work/config/Quorvik/Quorvik.conf" || fail "the copy option was not stored"
start_joining
answer_done
for folder in Folder1 Folder2; do
    diff -r "$samples/$folder" "$work/out/$folder" >/dev/null || fail "preserve copy: $folder differs"
done
same_from_terminal preserve

# Closing the window ends the process.
"$closewindow" "$main_window"
wait_for_end 10 || fail "the program did not end when its window closed"
passed=2

# Without a run, a signal ends the program at once, by that signal.
start_brimvale "$brimvale"
kill -TERM "$app_pid"
wait_for_end 5 || fail "SIGTERM without a run: the program did not end"
[ "$status" -eq 143 ] || fail "SIGTERM without a run: exit status $status, not 143"
passed=$((passed + 1))

if [ "$(id -u)" -ne 0 ] || [ ! -e /dev/loop-control ] || [ ! -e /dev/fuse ] ||
    ! command -v mount.exfat-fuse >/dev/null; then
    echo "e2e: $passed passed, 0 failed; a join ended on a FUSE volume skipped (root, loop devices and FUSE)"
    exit 0
fi

truncate -s 1G "$work/stick.img"
mkfs.exfat "$work/stick.img" >/dev/null
loop=$(losetup -f --show "$work/stick.img")
mkdir "$stick"
mount.exfat-fuse "$loop" "$stick" 2>/dev/null
mountpoint -q "$stick" || fail "the exFAT volume did not mount"

# A copy of the program whose first sample folder holds large files, joined flat onto the stick.
long="$work/long"
mkdir -p "$long/Samples/Folder1" "$long/Samples/Folder2"
cp "$brimvale" "$long/"
for i in 1 2 3 4 5 6; do
    head -c $((64 << 20)) /dev/urandom >"$long/Samples/Folder1/large$i"
done
echo small >"$long/Samples/Folder2/small.txt"
cat >"$work/config/Quorvik/Quorvik.conf" <<CONF
[Brimvale]
Option1=False
Option2=True
Output%20Folder=$stick/
CONF

# Starts the long join and returns once a copy is under way under its temporary name.
join_until_a_copy_is_under_way() {
    rm -rf "${stick:?}"/* "$stick"/.brimvale-*
    start_brimvale "$long/brimvale"
    load_samples
    start_joining
    local deadline=$((SECONDS + 30))
    until compgen -G "$stick/.brimvale-*" >/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "$1: no copy under a temporary name on the stick"
    done
}

# The stick holds no temporary file, and only whole copies, not all of them.
whole_copies_only() {
    compgen -G "$stick/.brimvale-*" >/dev/null && fail "$1: a temporary file stayed: $(ls -a "$stick")"
    [ -e "$stick/small.txt" ] && fail "$1: the join went on to the next entry"
    local copy
    for copy in "$stick"/*; do
        [ -e "$copy" ] || continue
        cmp -s "$copy" "$long/Samples/Folder1/${copy##*/}" || fail "$1: ${copy##*/} is not whole"
    done
}

join_until_a_copy_is_under_way "SIGTERM"
kill -TERM "$app_pid"
wait_for_end 20 || fail "SIGTERM in the middle of a copy: the program did not end"
[ "$status" -eq 143 ] || fail "SIGTERM in the middle of a copy: exit status $status, not 143"
whole_copies_only "SIGTERM"
passed=$((passed + 1))

# Destroyed, not closed: nothing asks the window, and no box may keep the process alive.
join_until_a_copy_is_under_way "the window destroyed"
xdotool windowclose "$main_window"
wait_for_end 20 || fail "the window destroyed in the middle of a copy: the program did not end"
whole_copies_only "the window destroyed"
passed=$((passed + 1))

echo "e2e: $passed passed, 0 failed"
