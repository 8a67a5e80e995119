# Sourced by the end-to-end scripts, native and under wine: driving the updater's windows with
# xdotool and the checks both make. The sourcing script defines fail, and sets work (its scratch
# directory, which holds the server's server.log), updater_pid and updater_rc.
#
# Wine is slower to map windows and to take the focus: it raises these.
e2e_poll_seconds=${e2e_poll_seconds:-0.1}         # between two looks for a window
e2e_activate_seconds=${e2e_activate_seconds:-5}   # for the window manager to activate one
e2e_settle_seconds=${e2e_settle_seconds:-0}       # after an activation, before keys are sent

log() { echo "[$(date +%T.%N | cut -c1-12)] $*"; }

# Prints the id of the visible window whose title matches REGEX (xdotool matches without case),
# waiting at most SECONDS; fails early when the updater has exited.
wait_window() {
    local regex=$1 seconds=$2 deadline=$((SECONDS + $2)) ids
    while :; do
        if ids=$(xdotool search --onlyvisible --name "$regex" 2>/dev/null); then
            head -n1 <<<"$ids"
            return 0
        fi
        kill -0 "$updater_pid" 2>/dev/null || fail "the updater exited while waiting for a window '$regex'"
        [ "$SECONDS" -lt "$deadline" ] || fail "no window '$regex' within ${seconds}s"
        sleep "$e2e_poll_seconds"
    done
}

# True while a visible window matches REGEX.
window_shown() {
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1
}

activate() {
    timeout "$e2e_activate_seconds" xdotool windowactivate --sync "$1" >/dev/null 2>&1 ||
        fail "could not activate window $1"
}

# Activates the window and sends it the keys.
press() {
    local wid=$1
    shift
    activate "$wid"
    sleep "$e2e_settle_seconds"
    xdotool key --clearmodifiers "$@"
}

# Waits at most SECONDS for the updater to end; its exit code goes to updater_rc.
wait_updater_exit() {
    local seconds=$1 deadline=$((SECONDS + $1))
    while kill -0 "$updater_pid" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the updater did not exit within ${seconds}s"
        sleep "$e2e_poll_seconds"
    done
    updater_rc=0
    wait "$updater_pid" || updater_rc=$?
    updater_pid=""
    log "updater exited with code $updater_rc"
}

expect_file() {
    local file=$1 expected=$2
    [ -f "$file" ] || fail "$file is missing"
    [ "$(cat "$file"; echo x)" = "${expected}x" ] || fail "$file holds unexpected content: $(head -c 200 "$file")"
}

expect_absent() {
    [ ! -e "$1" ] || fail "$1 should not exist"
}

expect_exit_code_zero() {
    [ "$updater_rc" = 0 ] || fail "exit code $updater_rc, expected 0"
}

expect_requests() {
    local path
    for path in "$@"; do
        grep -q "GET $path" "$work/server.log" || fail "the server saw no GET $path"
    done
}
