#!/usr/bin/env bash
# The real updater binary, on a private X display with a window manager, against the loopback
# HTTPS server, driven the way a user drives it: through its message boxes and its button.
#
# usage: e2e_update.sh success|failure|signed --updater FILE --server FILE --cert FILE --key FILE
#                      --port N [--minisign FILE --signing-key FILE]
#
#   success  a whole update: backup, new files, package deleted, product launched, exit code 0
#   signed   the same by an updater with a public key built in, of a package signed with its
#            secret key by the minisign program (--minisign, --signing-key)
#   failure  a package that is not on the server: the error box and its text (Ctrl+C), the
#            product executable given back, the window idle and its button starting a new attempt
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/lib/xsession.sh
source "$here/../../scripts/lib/xsession.sh"

scenario=${1:?usage: $0 success|failure|signed --updater F --server F --cert F --key F --port N}
shift
minisign="" signing_key=""
while [ $# -gt 0 ]; do
    case $1 in
    --updater) updater=$2 ;;
    --server) server=$2 ;;
    --cert) cert=$2 ;;
    --key) key=$2 ;;
    --port) port=$2 ;;
    --minisign) minisign=$2 ;;
    --signing-key) signing_key=$2 ;;
    *) echo "unknown argument: $1" >&2 && exit 2 ;;
    esac
    shift 2
done
: "${updater:?--updater missing}" "${server:?--server missing}" "${cert:?--cert missing}"
: "${key:?--key missing}" "${port:?--port missing}"

for tool in Xvfb openbox xdotool xclip xprop zip; do
    command -v "$tool" >/dev/null || {
        echo "FAIL: $tool is not installed (scripts/install-deps.sh installs it)" >&2
        exit 1
    }
done

# Physical paths: the product reports its directory with pwd -P.
work=$(cd "$(mktemp -d /tmp/vantra-e2e.XXXXXX)" && pwd -P)
product="$work/produto"    # the Product directory: the updater and Vantra.exe
served="$work/servidor"    # the file server's root
elsewhere="$work/trabalho" # the updater's working directory, not the Product directory
mkdir -p "$product" "$served/Vantra" "$served/pacote" "$elsewhere"

server_pid=""
updater_pid=""
updater_rc=""

# The messages and button captions are Portuguese whatever the machine's locale; the C locale
# keeps the platform's own captions ("OK") fixed for the comparison below.
export LC_ALL=C.UTF-8
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"

OLD_PRODUCT=$'#!/bin/sh\n# Vantra 1.0\nexit 0\n'
NEW_PRODUCT=$'#!/bin/sh\n# Vantra 2.0: records where, with how many arguments and in which session it was started.\nread -r _ _ _ _ _ sid _ </proc/$$/stat\nprintf \'%s\\n%s\\n%s\\n\' "$(pwd -P)" "$#" "$sid" >launched.txt\n'

log() { echo "[$(date +%T.%N | cut -c1-12)] $*"; }

fail() {
    echo "FAIL ($scenario): $*" >&2
    for f in "$work"/*.log; do
        [ -s "$f" ] && { echo "--- $(basename "$f")" >&2; tail -n 40 "$f" >&2; }
    done
    echo "--- Product directory" >&2
    (cd "$product" && ls -la) >&2 || true
    exit 1
}

cleanup() {
    local rc=$?
    [ -n "$updater_pid" ] && kill "$updater_pid" 2>/dev/null && wait "$updater_pid" 2>/dev/null
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    xsession_stop
    if [ $rc -eq 0 ]; then rm -rf "$work"; else echo "kept for inspection: $work" >&2; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# --- the scene -------------------------------------------------------------------------------

make_product_dir() {
    cp "$updater" "$product/AtualizadorVantra"
    printf '%s' "$OLD_PRODUCT" >"$product/Vantra.exe"
    chmod +x "$product/Vantra.exe"
}

# DOCUMENT_PATH: the address path that the settings document names for the package.
serve_settings_naming() {
    printf 'executavelvantra=https://localhost:%s%s#' "$port" "$1" >"$served/Vantra/DADOSCONEXAO.txt"
}

make_package() {
    local src="$work/pacote-conteudo"
    mkdir -p "$src/dados"
    printf '%s' "$NEW_PRODUCT" >"$src/Vantra.exe"
    chmod +x "$src/Vantra.exe"
    printf 'Vantra 2.0\r\n' >"$src/LEIAME.txt"
    printf '2.0.0\n' >"$src/dados/versao.txt"
    (cd "$src" && zip -q -r "$served/pacote/Vantra.zip" Vantra.exe LEIAME.txt dados)
    if [ "$scenario" = signed ]; then
        # As the maker signs a release; the key has no password.
        "${minisign:?--minisign missing}" -S -s "${signing_key:?--signing-key missing}" \
            -m "$served/pacote/Vantra.zip" </dev/null >"$work/minisign.log" 2>&1 ||
            fail "minisign could not sign the package"
        [ -s "$served/pacote/Vantra.zip.minisig" ] || fail "minisign wrote no signature"
    fi
}

start_server() {
    "$server" --port "$port" --cert "$cert" --key "$key" --root "$served" \
        >"$work/server-stdout.log" 2>"$work/server.log" &
    server_pid=$!
    xsession_wait_for 15 grep -q "listening on $port" "$work/server-stdout.log" ||
        fail "the test server did not report listening on $port"
}

start_display() {
    xsession_start "$work" || fail "no X display"
}

start_updater() {
    (cd "$elsewhere" && exec "$product/AtualizadorVantra") >"$work/updater.log" 2>&1 &
    updater_pid=$!
    log "updater started (pid $updater_pid) in $elsewhere"
}

# --- driving the window ----------------------------------------------------------------------

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
        sleep 0.1
    done
}

# True while a visible window matches REGEX.
window_shown() {
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1
}

activate() {
    timeout 5 xdotool windowactivate --sync "$1" >/dev/null 2>&1 || fail "could not activate window $1"
}

# Activates the window and sends it the keys.
press() {
    local wid=$1
    shift
    activate "$wid"
    xdotool key --clearmodifiers "$@"
}

wait_updater_exit() {
    local seconds=$1 deadline=$((SECONDS + $1))
    while kill -0 "$updater_pid" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the updater did not exit within ${seconds}s"
        sleep 0.1
    done
    updater_rc=0
    wait "$updater_pid" || updater_rc=$?
    updater_pid=""
    log "updater exited with code $updater_rc"
}

# Titles: the main window, the confirmation (both "Atualização" boxes) and the error display,
# whose caption is the application title derived from the executable's name.
MAIN_WINDOW='^Atualizador$'
CONFIRMATION='^Atualiza..?..?o$' # "Atualização", whatever the bytes of its two accented letters
ERROR_BOX='^Atualizadorvantra$'

# --- checks ----------------------------------------------------------------------------------

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

# The product writes its marker after the updater has launched it; it is not waited for.
expect_product_launched_in() {
    local dir=$1
    xsession_wait_for 10 test -s "$dir/launched.txt" || fail "the new product was not launched in $dir"
    local where args session
    { read -r where && read -r args && read -r session; } <"$dir/launched.txt"
    [ "$where" = "$dir" ] || fail "the new product started in $where, expected $dir"
    [ "$args" = 0 ] || fail "the new product got $args arguments, expected none"
    # The updater runs in this script's session; the product must not.
    local own_session
    read -r _ _ _ _ _ own_session _ </proc/$$/stat
    [ "$session" != "$own_session" ] || fail "the new product runs in the updater's session"
}

expect_requests() {
    local path
    for path in "$@"; do
        grep -q "GET $path" "$work/server.log" || fail "the server saw no GET $path"
    done
}

expect_request_count() {
    local path=$1 count=$2 seen
    seen=$(grep -c "GET $path" "$work/server.log" || true)
    [ "$seen" = "$count" ] || fail "the server saw GET $path $seen times, expected $count"
}

# The Windows message box layout that Ctrl+C copies.
windows_box_text() {
    local rule='---------------------------'
    printf '%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n' "$rule" "$1" "$rule" "$2" "$rule" "$3" "$rule"
}

# Ctrl+C in the box, then the clipboard, read while the box (its owner) is still open.
expect_clipboard_of_box() {
    local wid=$1 expected_file=$2 got="$work/clipboard.txt"
    press "$wid" ctrl+c
    xsession_wait_for 5 bash -c "timeout 2 xclip -selection clipboard -o -t UTF8_STRING >'$got' && test -s '$got'" ||
        fail "Ctrl+C in the error box put nothing on the clipboard"
    if ! cmp -s "$expected_file" "$got"; then
        echo "expected:" >&2 && od -c "$expected_file" >&2
        echo "got:" >&2 && od -c "$got" >&2
        fail "the error box's text differs"
    fi
}

# --- the scenarios ---------------------------------------------------------------------------

whole_update() {
    serve_settings_naming /pacote/Vantra.zip
    start_updater
    local box
    box=$(wait_window "$CONFIRMATION" 20)
    press "$box" Return # Yes is the default
    local confirmed=$SECONDS
    log "confirmed"

    wait_updater_exit 30
    expect_exit_code_zero
    # The launch comes after the three-second pause that follows the last step.
    [ $((SECONDS - confirmed)) -ge 2 ] || fail "the updater exited before its pause"

    expect_file "$product/Vantra_old.exe" "$OLD_PRODUCT"
    expect_file "$product/Vantra.exe" "$NEW_PRODUCT"
    [ -x "$product/Vantra.exe" ] || fail "the new Vantra.exe lost its execute permission"
    expect_file "$product/LEIAME.txt" $'Vantra 2.0\r\n'
    expect_file "$product/dados/versao.txt" $'2.0.0\n'
    expect_absent "$product/Vantra.zip"
    expect_product_launched_in "$elsewhere"
    expect_absent "$product/launched.txt"
    expect_requests /Vantra/DADOSCONEXAO.txt /pacote/Vantra.zip
    # The signature is asked for only by an updater that has a key.
    if [ "$scenario" = signed ]; then
        expect_request_count /pacote/Vantra.zip.minisig 1
    else
        expect_request_count /pacote/Vantra.zip.minisig 0
    fi
}

failed_update_then_retry() {
    serve_settings_naming /pacote/Ausente.zip
    start_updater
    local box
    box=$(wait_window "$CONFIRMATION" 20)
    press "$box" Return
    log "confirmed"

    local error_box
    error_box=$(wait_window "$ERROR_BOX" 30)
    log "error box shown"
    local expected="$work/expected.txt"
    windows_box_text Atualizadorvantra \
        $'Não foi possível atualizar o aplicativo!\r\n\r\nNão foi possível realizar o download do aplicativo!\r\n\r\nHTTP/1.1 404 Not Found.' \
        'OK   ' >"$expected"
    expect_clipboard_of_box "$error_box" "$expected"
    press "$error_box" Return
    xsession_wait_for 10 bash -c "! xdotool search --onlyvisible --name '$ERROR_BOX'" ||
        fail "the error box did not close on Return"

    local main
    main=$(wait_window "$MAIN_WINDOW" 5)
    kill -0 "$updater_pid" 2>/dev/null || fail "the updater ended after the error"
    expect_file "$product/Vantra.exe" "$OLD_PRODUCT"
    expect_absent "$product/Vantra_old.exe"
    expect_requests /Vantra/DADOSCONEXAO.txt /pacote/Ausente.zip

    # The idle window's button starts a new attempt; declining it leaves everything as it is.
    activate "$main"
    xdotool mousemove --window "$main" 437 76 click 1
    box=$(wait_window "$CONFIRMATION" 10)
    log "second confirmation shown"
    press "$box" Escape # No
    xsession_wait_for 10 bash -c "! xdotool search --onlyvisible --name '$CONFIRMATION'" ||
        fail "the confirmation did not close on No"
    sleep 0.5
    window_shown "$ERROR_BOX" && fail "declining the second attempt showed an error"
    expect_request_count /Vantra/DADOSCONEXAO.txt 1
    expect_file "$product/Vantra.exe" "$OLD_PRODUCT"

    # Closing the idle window ends the program.
    press "$main" alt+F4
    wait_updater_exit 10
    expect_exit_code_zero
}

make_product_dir
make_package
start_server
start_display
case $scenario in
success | signed) whole_update ;;
failure) failed_update_then_retry ;;
*) fail "unknown scenario $scenario" ;;
esac
log "PASS ($scenario)"
