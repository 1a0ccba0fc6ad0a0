#!/usr/bin/env bash
# Takes the README's screenshots of the built program in Xvfb on a 1366x768 screen, under a light
# desktop palette and a dark one (qt6ct's "darker" scheme with Fusion):
#   docs/screenshot.png, docs/screenshot-dark.png          the window at scale 1
#   docs/screenshot-2x.png, docs/screenshot-2x-dark.png    the whole screen at QT_SCALE_FACTOR=2,
#                                                          where the window is drawn to fit it
# with the skin beside the program as installed, a plain user's home in the output folder box and
# a few of that user's folders in the list (loaded from a list file through the real file dialog,
# reached with Alt+L, so the focus mark shows on that button). Nothing of the real user's
# settings or files is read or written.
# Usage: tools/screenshots.sh [BUILD_DIR]   (default: build/test, built with the brimvale target)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/test}
brimvale="$build/bin/brimvale"
[ -x "$brimvale" ] || { echo "no program at $brimvale: build the brimvale target first" >&2; exit 1; }
for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || {
        echo "$tool is missing: apt-get install xvfb xdotool imagemagick qt6ct" >&2
        exit 1
    }
done
darker=/usr/share/qt6ct/colors/darker.conf
[ -f "$darker" ] || { echo "qt6ct is missing: apt-get install qt6ct" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# fail, wait_for, start_display
source tests/e2e/xdisplay.sh
start_display "$work" 1366x768x24
pids+=("$xvfb_pid")

printf '%s\n' "/home/user/Pictures/Holidays 2023/" "/home/user/Pictures/Holidays 2024/" \
    "/home/user/Documents/Letters/" "/home/user/Music/" >"$work/folders.txt"

window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
windows_named() { [ "$(xdotool search --onlyvisible --name "$1" 2>/dev/null | wc -l)" -ge "$2" ]; }
no_window_named() { [ -z "$(window_named "$1")" ]; }
single_window() { ! windows_named '^Brimvale$' 2; }
second_window() { xdotool search --onlyvisible --name '^Brimvale$' | grep -vx "$main" | head -n1; }

# shot PALETTE SCALE OUTPUT: one start of the program in a home and settings store of its own.
shot() {
    local palette=$1 scale=$2 output=$3
    local run="$work/$palette-$scale"
    mkdir -p "$run/home" "$run/config/Quorvik" "$run/config/qt6ct"
    printf '[Brimvale]\nOutput%%20Folder=/home/user/Desktop/\n' >"$run/config/Quorvik/Quorvik.conf"
    local theme=()
    if [ "$palette" = dark ]; then
        printf '[Appearance]\ncolor_scheme_path=%s\ncustom_palette=true\nstyle=Fusion\n' \
            "$darker" >"$run/config/qt6ct/qt6ct.conf"
        theme=(QT_QPA_PLATFORMTHEME=qt6ct)
    fi
    env -u QT_QPA_PLATFORMTHEME -u QT_STYLE_OVERRIDE -u QT_SCALE_FACTOR HOME="$run/home" \
        XDG_CONFIG_HOME="$run/config" XDG_RUNTIME_DIR="$run" QT_QPA_PLATFORM=xcb \
        QT_SCALE_FACTOR="$scale" "${theme[@]}" "$brimvale" >"$run/app.log" 2>&1 &
    local app=$!
    pids+=("$app")

    wait_for 20 windows_named '^Brimvale$' 1 || fail "the window did not appear ($palette)"
    local main
    main=$(window_named '^Brimvale$')
    xdotool windowfocus --sync "$main"
    # "Load List Of Folders From File" by its key, OK on the note about the file's layout, then
    # the file; its folders are not on this machine, which the closing message says.
    xdotool key alt+l
    wait_for 10 windows_named '^Brimvale$' 2 || fail "no note before the file dialog ($palette)"
    xdotool windowfocus --sync "$(second_window)"
    xdotool key Return
    wait_for 10 windows_named '^Add File' 1 || fail "no file dialog ($palette)"
    xdotool windowfocus --sync "$(window_named '^Add File')"
    xdotool type --delay 10 "$work/folders.txt"
    xdotool key Return
    wait_for 10 no_window_named '^Add File' || fail "the file dialog did not close ($palette)"
    wait_for 10 windows_named '^Brimvale$' 2 || fail "no message after the load ($palette)"
    xdotool windowfocus --sync "$(second_window)"
    xdotool key Return
    wait_for 10 single_window || fail "the message did not close ($palette)"
    xdotool windowfocus --sync "$main"
    xdotool mousemove 1360 760
    sleep 1
    if [ "$scale" = 1 ]; then
        import -window "$main" "$output"
    else
        import -window root "$output"
    fi
    kill "$app"
    wait "$app" 2>/dev/null || true
    echo "screenshots: $output"
}

shot light 1 docs/screenshot.png
shot dark 1 docs/screenshot-dark.png
shot light 2 docs/screenshot-2x.png
shot dark 2 docs/screenshot-2x-dark.png
