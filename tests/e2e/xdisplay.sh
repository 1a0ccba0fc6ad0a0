# Shared by the scripts that drive the built program in Xvfb (sourced, not run).

# Says what failed, with what the program printed when the script keeps it in $work/app.log.
fail() {
    echo "FAIL: $*" >&2
    if [ -n "${work:-}" ] && [ -s "$work/app.log" ]; then
        echo "--- the program printed:" >&2
        cat "$work/app.log" >&2
    fi
    exit 1
}

# Polls a command until it succeeds, for at most $1 seconds.
wait_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.1
    done
}

# Starts an X server of our own on a free display (its files in folder $1, its screen $2, by
# default 1024x768x24), exports DISPLAY and sets xvfb_pid.
start_display() {
    exec 3>"$1/display"
    # -noreset: the server would otherwise reset once its last client leaves (the readiness
    # probe below), refusing connections for a moment.
    Xvfb -displayfd 3 -screen 0 "${2:-1024x768x24}" -nolisten tcp -noreset >"$1/xvfb.log" 2>&1 &
    xvfb_pid=$!
    wait_for 10 test -s "$1/display" || fail "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$1/display")"
    # Only a server that answers a client is ready: a program started before would find no
    # display.
    wait_for 10 display_answers || fail "Xvfb does not answer on $DISPLAY: $(cat "$1/xvfb.log")"
}

display_answers() {
    xdotool getdisplaygeometry >/dev/null 2>&1
}
