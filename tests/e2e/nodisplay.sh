#!/usr/bin/env bash
# The window without a display that answers: the program's own two lines alone on standard error
# (nothing from Qt or the display libraries) and exit status 2, for every way a display can be
# missing. A silent Wayland display beside an X display that answers: the window opens on X,
# without a word.
# Usage: nodisplay.sh BRIMVALE
set -euo pipefail

brimvale=$1

work=$(mktemp -d)
listener_pid=""
xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null || true
    [ -n "$listener_pid" ] && kill "$listener_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# fail, wait_for, start_display
source "$(dirname "$0")/xdisplay.sh"

runtime="$work/runtime"
mkdir -m 700 "$runtime"
# A compositor that takes the connection and never replies, and a socket nobody listens on.
python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1])
s.listen(8)
time.sleep(600)
' "$runtime/wayland-hung" &
listener_pid=$!
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$runtime/wayland-stale"
wait_for 10 test -S "$runtime/wayland-hung" || fail "the silent compositor did not start"

# An X display number nothing serves.
free_x=77
while [ -e "/tmp/.X11-unix/X$free_x" ] || [ -e "/tmp/.X$free_x-lock" ]; do free_x=$((free_x + 1)); done

tail_line="brimvale join works without one: see 'brimvale --help'."
# environment | first line
rows=(
    "|brimvale: no display was found (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open."
    "DISPLAY=:$free_x|brimvale: the display :$free_x does not answer, so the window cannot open."
    "WAYLAND_DISPLAY=wayland-none|brimvale: the display wayland-none does not answer, so the window cannot open."
    "WAYLAND_DISPLAY=wayland-stale|brimvale: the display wayland-stale does not answer, so the window cannot open."
    "WAYLAND_DISPLAY=wayland-hung|brimvale: the display wayland-hung does not answer, so the window cannot open."
    "WAYLAND_DISPLAY=wayland-hung DISPLAY=:$free_x|brimvale: neither the display wayland-hung nor the display :$free_x answers, so the window cannot open."
    "WAYLAND_DISPLAY=wayland-hung XDG_RUNTIME_DIR=|brimvale: the display wayland-hung does not answer, so the window cannot open."
)
for row in "${rows[@]}"; do
    settings=${row%%|*}
    expected=$(printf '%s\n%s' "${row#*|}" "$tail_line")
    status=0
    # shellcheck disable=SC2086 # the settings are words for env
    env -u DISPLAY -u WAYLAND_DISPLAY -u WAYLAND_SOCKET -u QT_QPA_PLATFORM \
        HOME="$work/home" XDG_RUNTIME_DIR="$runtime" $settings \
        timeout 30 "$brimvale" >"$work/out.log" 2>"$work/err.log" || status=$?
    [ "$status" -eq 2 ] || fail "[$settings] exit status $status, not 2: $(cat "$work/err.log")"
    [ "$(cat "$work/err.log")" = "$expected" ] ||
        fail "[$settings] standard error is not the program's two lines alone:
$(cat "$work/err.log")"
    [ ! -s "$work/out.log" ] || fail "[$settings] printed on standard output: $(cat "$work/out.log")"
done

# A silent Wayland display beside an X display that answers.
start_display "$work"
mkdir -p "$work/home" "$work/config" "$work/bin"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
env -u QT_QPA_PLATFORM HOME="$work/home" XDG_CONFIG_HOME="$work/config" PATH="$work/bin:$PATH" \
    XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=wayland-hung "$brimvale" >"$work/app.log" 2>&1 &
app_pid=$!
wait_for 20 bash -c "xdotool search --onlyvisible --name '^Brimvale\$' >/dev/null 2>&1" ||
    fail "with a silent Wayland display the window did not open on X"
[ ! -s "$work/app.log" ] || fail "with a silent Wayland display the program printed something"
echo "PASS: ${#rows[@]} ways without a display, and a silent Wayland display beside X"
