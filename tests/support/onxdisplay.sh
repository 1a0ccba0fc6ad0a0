#!/usr/bin/env bash
# Runs a window test on an X server of its own (Xvfb), on Qt's xcb platform: for what only a real
# display does, such as a drag from another program.
# Usage: onxdisplay.sh TEST [ARGUMENTS...]
set -euo pipefail

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# fail, wait_for, start_display
source "$(dirname "$0")/../e2e/xdisplay.sh"
start_display "$work"

status=0
BRIMVALE_TEST_PLATFORM=xcb "$@" || status=$?
exit "$status"
