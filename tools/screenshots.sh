#!/usr/bin/env bash
# Takes the README's screenshots of the built program in Xvfb: docs/screenshot.png under a light
# desktop palette and docs/screenshot-dark.png under a dark one (qt6ct's "darker" scheme), with
# the skin beside the program as installed, a plain user's home in the output folder box and a
# few of that user's folders in the list (loaded from a list file through the real file dialog).
# Nothing of the real user's settings or files is read or written.
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
start_display "$work"
pids+=("$xvfb_pid")

printf '%s\n' "/home/user/Pictures/Holidays 2023/" "/home/user/Pictures/Holidays 2024/" \
    "/home/user/Documents/Letters/" "/home/user/Music/" >"$work/folders.txt"

window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
windows_named() { [ "$(xdotool search --onlyvisible --name "$1" 2>/dev/null | wc -l)" -ge "$2" ]; }
no_window_named() { [ -z "$(window_named "$1")" ]; }

# shot PALETTE OUTPUT: one start of the program in a home and settings store of its own.
shot() {
    local palette=$1 output=$2
    local run="$work/$palette"
    mkdir -p "$run/home" "$run/config/Quorvik" "$run/config/qt6ct"
    printf '[Brimvale]\nOutput%%20Folder=/home/user/Desktop/\n' >"$run/config/Quorvik/Quorvik.conf"
    local theme=()
    if [ "$palette" = dark ]; then
        printf '[Appearance]\ncolor_scheme_path=%s\ncustom_palette=true\nstyle=Fusion\n' \
            "$darker" >"$run/config/qt6ct/qt6ct.conf"
        theme=(QT_QPA_PLATFORMTHEME=qt6ct)
    fi
    env -u QT_QPA_PLATFORMTHEME -u QT_STYLE_OVERRIDE -u QT_SCALE_FACTOR HOME="$run/home" \
        XDG_CONFIG_HOME="$run/config" XDG_RUNTIME_DIR="$run" QT_QPA_PLATFORM=xcb "${theme[@]}" \
        "$brimvale" >"$run/app.log" 2>&1 &
    local app=$!
    pids+=("$app")

    wait_for 20 windows_named '^Brimvale$' 1 || fail "the window did not appear ($palette)"
    local main
    main=$(window_named '^Brimvale$')
    xdotool windowfocus --sync "$main"
    # "Load List Of Folders From File", OK on the note about the file's layout, then the file.
    xdotool mousemove --window "$main" 130 230 click 1
    wait_for 10 windows_named '^Brimvale$' 2 || fail "no note before the file dialog ($palette)"
    xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '^Brimvale$' | grep -vx "$main" | head -n1)"
    xdotool key Return
    wait_for 10 windows_named '^Add File' 1 || fail "no file dialog ($palette)"
    xdotool windowfocus --sync "$(window_named '^Add File')"
    xdotool type --delay 10 "$work/folders.txt"
    xdotool key Return
    wait_for 10 no_window_named '^Add File' || fail "the file dialog did not close ($palette)"
    # The focus back on the list, as the window opens, and the pointer away from the window.
    xdotool windowfocus --sync "$main"
    sleep 0.5
    xdotool mousemove --window "$main" 250 150 click 1
    xdotool mousemove 1000 740
    sleep 1
    import -window "$main" "$output"
    kill "$app"
    wait "$app" 2>/dev/null || true
    echo "screenshots: $output"
}

shot light docs/screenshot.png
shot dark docs/screenshot-dark.png
