#!/usr/bin/env bash
# End to end under Wayland: the built program in a headless weston, which offers no seat, so that
# nothing outside the program can click or type. The driver preloaded into it (windowdriver) uses
# the real window from inside: "Load List Of Folders From File" with a list of two folders, a
# click into the output folder field (where Qt's text input for Wayland used to end the process
# when the compositor has no seat), "Start Joining", "Done.". The joined folder is checked.
# Exits 77 where weston or Qt's Wayland platform is missing or weston does not start.
# Usage: wayland.sh BRIMVALE WINDOWDRIVER
set -euo pipefail

brimvale=$1
driver=$2

command -v weston >/dev/null || {
    echo "SKIP: weston is not installed"
    exit 77
}
qt_plugins=$(dirname "$(find /usr/lib -path '*qt6/plugins/platforms/libqwayland-generic.so' -print -quit)")
[ "$qt_plugins" != . ] || {
    echo "SKIP: Qt's Wayland platform (qt6-wayland) is not installed"
    exit 77
}

work=$(mktemp -d)
weston_pid=""
cleanup() {
    [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# fail, wait_for
source "$(dirname "$0")/xdisplay.sh"

export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
weston --backend=headless-backend.so --socket=wayland-brimvale --idle-time=0 --no-config \
    >"$work/weston.log" 2>&1 &
weston_pid=$!
if ! wait_for 10 test -S "$XDG_RUNTIME_DIR/wayland-brimvale"; then
    echo "SKIP: weston did not start: $(tail -n 3 "$work/weston.log")"
    exit 77
fi

mkdir -p "$work/home" "$work/config" "$work/out" "$work/bin" "$work/Photos/2019" "$work/Notes"
echo "beach" >"$work/Photos/2019/beach.jpg"
echo "todo" >"$work/Notes/todo.txt"
printf '%s\n' "$work/Photos" "$work/Notes" >"$work/folders.txt"
# The home page, opened at start-up by chance, goes to a browser of our own.
printf '#!/bin/sh\nexit 0\n' >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"

# A driver built with a sanitizer needs the sanitizer's runtime loaded before it, as the first
# library of all: it is preloaded ahead of the driver.
preload=$driver
runtime=$(ldd "$driver" | awk '/lib(a|t)san\.so/ { print $3; exit }')
[ -z "$runtime" ] || preload="$runtime $driver"

# Preloaded into the program alone, not into timeout.
status=0
timeout 120 env -u DISPLAY -u QT_IM_MODULE HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
    PATH="$work/bin:$PATH" WAYLAND_DISPLAY=wayland-brimvale QT_QPA_PLATFORM=wayland \
    WINDOWDRIVER_LIST="$work/folders.txt" WINDOWDRIVER_OUTPUT="$work/out/" LD_PRELOAD="$preload" \
    "$brimvale" >"$work/app.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the program ended with status $status"
grep -q "clicked into the output folder field" "$work/app.log" ||
    fail "the driver did not click into the output folder field"
grep -q "closing message: Done." "$work/app.log" || fail "the join did not end with \"Done.\""
[ "$(cat "$work/out/Photos/2019/beach.jpg")" = beach ] || fail "Photos was not joined"
[ "$(cat "$work/out/Notes/todo.txt")" = todo ] || fail "Notes was not joined"
echo "PASS: a join under a headless weston"
