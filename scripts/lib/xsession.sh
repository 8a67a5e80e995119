# Sourced by the end-to-end test and the demo: a private X display for the
# updater's window. A bare Xvfb never activates a window, and the updater
# starts its work on the first activation, so openbox runs on it too.
#
#   xsession_start LOGDIR   starts Xvfb on a free display and openbox; exports DISPLAY
#   xsession_stop           stops both (safe to call twice)

xsession_xvfb_pid=""
xsession_wm_pid=""

# Polls COMMAND until it succeeds, for at most SECONDS; fails on the deadline.
xsession_wait_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

xsession_start() {
    local logdir=$1
    local display_file="$logdir/xvfb.display"
    : >"$display_file"
    # -displayfd picks a free display and writes its number once the server accepts clients.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
        3>"$display_file" 2>"$logdir/xvfb.log" &
    xsession_xvfb_pid=$!
    if ! xsession_wait_for 10 grep -q '^[0-9]' "$display_file"; then
        echo "Xvfb did not start; its log:" >&2
        cat "$logdir/xvfb.log" >&2
        return 1
    fi
    export DISPLAY=":$(head -n1 "$display_file")"

    openbox --sm-disable >"$logdir/openbox.log" 2>&1 &
    xsession_wm_pid=$!
    if ! xsession_wait_for 10 xsession_wm_ready; then
        echo "openbox did not start on $DISPLAY; its log:" >&2
        cat "$logdir/openbox.log" >&2
        return 1
    fi
}

xsession_wm_ready() {
    xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'
}

xsession_stop() {
    local pid
    for pid in "$xsession_wm_pid" "$xsession_xvfb_pid"; do
        [ -n "$pid" ] || continue
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    xsession_wm_pid=""
    xsession_xvfb_pid=""
}
