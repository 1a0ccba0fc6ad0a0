#!/usr/bin/env bash
# End to end: starts the built program in a real X server (Xvfb), clicks "Load Sample/Example
# Folders" and "Start Joining" in both copy options, answers "Done.", checks the output folder,
# then closes the window and checks that the process ends.
# Usage: join.sh BRIMVALE CLOSEWINDOW
set -euo pipefail

brimvale=$1
closewindow=$2
bin_dir=$(dirname "$brimvale")

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
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

HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=xcb \
    PATH="$work/bin:$PATH" "$brimvale" >"$work/app.log" 2>&1 &
app_pid=$!

visible_windows() { xdotool search --onlyvisible --name '^Brimvale$' 2>/dev/null || true; }
one_window() { [ "$(visible_windows | wc -l)" -ge 1 ]; }
two_windows() { [ "$(visible_windows | wc -l)" -ge 2 ]; }

wait_for 20 one_window || fail "the main window did not appear"
main_window=$(visible_windows | head -n1)

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
wait_for 10 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end when its window closed"
app_pid=""
echo "e2e: 2 passed, 0 failed"
