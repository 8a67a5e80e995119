#!/usr/bin/env bash
# The deployed Windows program under wine, in a fresh prefix, on a private X display with a
# window manager, against the loopback HTTPS server, with a cross-built stand-in product that is
# running when the update starts.
#
# usage: e2e_wine_update.sh success|failure|system-store --deploy DIR --system-store-updater EXE
#            --trust EXE --ca FILE --other-ca FILE --ca-file FILE --old-product EXE --new-product EXE --server FILE --cert FILE
#            --key FILE --port N --work DIR --wine FILE --wineserver FILE
#
#   success  on a Portuguese Windows (Qt's captions from the deployed translation): the running
#            product ended by the process walk, backup, new files, package deleted, the new
#            product started through the shell, exit code 0
#   failure  a package that is not on the server: the error box and its text (Ctrl+C), the
#            product executable given back, the window idle; its button's new attempt at a port
#            where nothing listens names Winsock's error; closing the window gives exit code 0
#   system-store  the program built without a CA file: refused while the test CA is not in the
#            Windows root store, a whole update once it has been added there; and the program
#            built with a CA file that holds another CA: refused, the store notwithstanding
#
# The CA file the deployed program was built with (--ca-file) gets the test CA at the start.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/lib/xsession.sh
source "$here/../../scripts/lib/xsession.sh"
# Wine maps its windows and takes the focus more slowly than a native program.
e2e_poll_seconds=0.2 e2e_activate_seconds=10 e2e_settle_seconds=0.3
# shellcheck source=../support/e2e-common.sh
source "$here/../support/e2e-common.sh"

scenario=${1:?usage: $0 success|failure|system-store --deploy DIR ...}
shift
while [ $# -gt 0 ]; do
    case $1 in
    --deploy) deploy=$2 ;;
    --system-store-updater) system_store_updater=$2 ;;
    --trust) trust=$2 ;;
    --ca) ca=$2 ;;
    --other-ca) other_ca=$2 ;;
    --ca-file) ca_file=$2 ;;
    --old-product) old_product=$2 ;;
    --new-product) new_product=$2 ;;
    --server) server=$2 ;;
    --cert) cert=$2 ;;
    --key) key=$2 ;;
    --port) port=$2 ;;
    --work) work=$2 ;;
    --wine) wine=$2 ;;
    --wineserver) wineserver=$2 ;;
    *) echo "unknown argument: $1" >&2 && exit 2 ;;
    esac
    shift 2
done
for v in deploy system_store_updater trust ca other_ca ca_file old_product new_product server cert key port work wine wineserver; do
    [ -n "${!v:-}" ] || { echo "--${v//_/-} missing" >&2 && exit 2; }
done

for tool in Xvfb openbox xdotool xclip xprop zip; do
    command -v "$tool" >/dev/null || {
        echo "FAIL: $tool is not installed (scripts/install-deps.sh installs it)" >&2
        exit 1
    }
done
[ -f "$deploy/AtualizadorVantra.exe" ] || { echo "FAIL: no $deploy/AtualizadorVantra.exe" >&2 && exit 1; }

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd -P)
product="$work/produto"    # the Product directory: the deployed folder and Vantra.exe
served="$work/servidor"    # the file server's root
elsewhere="$work/trabalho" # the updater's working directory
old_cwd="$work/antigo"     # the running product's working directory
mkdir -p "$product" "$served/Vantra" "$served/pacote" "$elsewhere" "$old_cwd"

export WINEPREFIX="$work/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer
# Qt's and wine's own captions ("Yes", "OK") stay English whatever the machine's locale.
export LC_ALL=C.UTF-8
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"

server_pid=""
updater_pid=""
updater_rc=""
product_pid=""

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
    [ -n "$product_pid" ] && kill "$product_pid" 2>/dev/null && wait "$product_pid" 2>/dev/null
    # Ends what is left in this prefix, and only there.
    "$wineserver" -k 2>/dev/null || true
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    xsession_stop
    if [ $rc -eq 0 ]; then rm -rf "$work"; else echo "kept for inspection: $work" >&2; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The Windows form of a path of this machine (wine's Z: drive is its root).
windows_path() {
    printf 'Z:%s' "${1//\//\\}"
}

# --- the scene -------------------------------------------------------------------------------

trust_in_ca_file() {
    cp "$1" "$ca_file.tmp" && mv "$ca_file.tmp" "$ca_file"
}

make_product_dir() {
    # A copy of the deployed folder: it must run on its own, wherever it is.
    cp -r "$deploy/." "$product/"
    rm -f "$product/.deployed"
    cp "$old_product" "$product/Vantra.exe"
}

serve_settings_naming() {
    printf 'executavelvantra=https://localhost:%s%s#' "$port" "$1" >"$served/Vantra/DADOSCONEXAO.txt"
}

make_package() {
    local src="$work/pacote-conteudo"
    mkdir -p "$src/dados"
    cp "$new_product" "$src/Vantra.exe"
    printf 'Vantra 2.0\r\n' >"$src/LEIAME.txt"
    printf '2.0.0\r\n' >"$src/dados/versao.txt"
    (cd "$src" && zip -q -r "$served/pacote/Vantra.zip" Vantra.exe LEIAME.txt dados)
}

start_server() {
    "$server" --port "$port" --cert "$cert" --key "$key" --root "$served" \
        >"$work/server-stdout.log" 2>"$work/server.log" &
    server_pid=$!
    xsession_wait_for 15 grep -q "listening on $port" "$work/server-stdout.log" ||
        fail "the test server did not report listening on $port"
}

make_prefix() {
    local started=$SECONDS
    timeout 120 "$wine" wineboot --init >"$work/wineboot.log" 2>&1 || fail "wineboot did not make the prefix"
    timeout 60 "$wineserver" -w || true
    log "fresh wine prefix in $((SECONDS - started)) s"
}

start_old_product() {
    (cd "$old_cwd" && exec "$wine" "$product/Vantra.exe") >"$work/product.log" 2>&1 &
    product_pid=$!
    xsession_wait_for 60 test -s "$old_cwd/started.txt" || fail "the old product did not start"
    log "old product running (wine pid $product_pid)"
}

start_updater() {
    (cd "$elsewhere" && exec "$wine" "$product/AtualizadorVantra.exe") >"$work/updater.log" 2>&1 &
    updater_pid=$!
    log "updater started (wine pid $updater_pid) in $elsewhere"
}

# --- driving the windows ---------------------------------------------------------------------

# The old product was ended by a termination request (exit code 0), not by its own end (3).
expect_old_product_terminated() {
    local deadline=$((SECONDS + 30)) rc=0
    while kill -0 "$product_pid" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the running product was not ended"
        sleep 0.2
    done
    wait "$product_pid" || rc=$?
    product_pid=""
    [ "$rc" = 0 ] || fail "the old product ended with code $rc, expected 0 (terminated)"
    log "old product terminated"
}

MAIN_WINDOW='^Atualizador$'
CONFIRMATION='^Atualiza..?..?o$'
ERROR_BOX='^Atualizadorvantra$'

# --- checks ----------------------------------------------------------------------------------

expect_same() {
    cmp -s "$1" "$2" || fail "$1 is not a copy of $2"
}

# The Windows message box layout that Ctrl+C copies. Wine hands text to X with LF line ends.
windows_box_text() {
    local rule='---------------------------'
    printf '%s\n%s\n%s\n%s\n%s\n%s\n%s\n' "$rule" "$1" "$rule" "$2" "$rule" "$3" "$rule"
}

expect_clipboard_of_box() {
    local wid=$1 expected_file=$2 got="$work/clipboard.txt"
    : >"$got"
    press "$wid" ctrl+c
    xsession_wait_for 10 bash -c "timeout 3 xclip -selection clipboard -o -t UTF8_STRING >'$got' && test -s '$got'" ||
        fail "Ctrl+C in the box put nothing on the clipboard"
    tr -d '\r' <"$got" >"$got.lf"
    if ! cmp -s "$expected_file" "$got.lf"; then
        echo "expected:" >&2 && od -c "$expected_file" >&2
        echo "got:" >&2 && od -c "$got" >&2
        fail "the box's text differs"
    fi
}

confirm_without_product() {
    local box
    box=$(wait_window "$CONFIRMATION" 90)
    log "confirmation shown"
    local expected="$work/expected-confirmation.txt"
    windows_box_text 'Atualização' 'Deseja realmente atualizar o executável?' 'Yes   No   ' >"$expected"
    expect_clipboard_of_box "$box" "$expected"
    press "$box" Return
    log "confirmed"
}

# BUTTONS: the captions as Ctrl+C copies them (English unless the locale is Portuguese).
confirm_with_product_running() {
    local buttons=${1:-'Yes   No   '} box
    box=$(wait_window "$CONFIRMATION" 90)
    log "confirmation shown"
    local expected="$work/expected-confirmation.txt"
    windows_box_text 'Atualização' \
        $'O Vantra será finalizado após o download do atualizador.\n\nDeseja realmente atualizar o executável?' \
        "$buttons" >"$expected"
    expect_clipboard_of_box "$box" "$expected"
    press "$box" Return # Yes is the default
    log "confirmed"
}

# --- the scenarios ---------------------------------------------------------------------------

# Wine takes the Windows locale from the C library's; the Portuguese one is made in the work
# directory, without touching the machine's.
use_portuguese_locale() {
    mkdir -p "$work/locale"
    localedef -i pt_BR -f UTF-8 "$work/locale/pt_BR.UTF-8" >"$work/localedef.log" 2>&1 ||
        [ -d "$work/locale/pt_BR.UTF-8" ] || fail "no pt_BR locale (Debian: locales)"
    export LOCPATH="$work/locale" LC_ALL=pt_BR.UTF-8
}

whole_update() {
    serve_settings_naming /pacote/Vantra.zip
    start_old_product
    start_updater
    confirm_with_product_running 'Sim   Não   '
    local confirmed=$SECONDS
    expect_old_product_terminated

    wait_updater_exit 120
    expect_exit_code_zero
    [ $((SECONDS - confirmed)) -ge 2 ] || fail "the updater exited before its pause"

    expect_updated
}

# The files, the package and the launch of a whole update.
expect_updated() {
    expect_same "$product/Vantra_old.exe" "$old_product"
    expect_same "$product/Vantra.exe" "$new_product"
    expect_file "$product/LEIAME.txt" $'Vantra 2.0\r\n'
    expect_file "$product/dados/versao.txt" $'2.0.0\r\n'
    expect_absent "$product/Vantra.zip"
    expect_requests /Vantra/DADOSCONEXAO.txt /pacote/Vantra.zip

    # Started through the shell: in the updater's working directory, without arguments, shown
    # normally, from the Product directory.
    xsession_wait_for 30 test -s "$elsewhere/launched.txt" || fail "the new product was not started"
    local expected="$work/expected-launch.txt"
    printf '%s\r\n0\r\n%s\r\n%s\r\n' "$(windows_path "$elsewhere")" 1 \
        "$(windows_path "$product/Vantra.exe")" >"$expected"
    if ! diff <(tr '[:upper:]' '[:lower:]' <"$expected") <(tr '[:upper:]' '[:lower:]' <"$elsewhere/launched.txt") >&2; then
        fail "the new product was started otherwise than expected"
    fi
    expect_absent "$product/launched.txt"
}

failed_update() {
    serve_settings_naming /pacote/Ausente.zip
    start_old_product
    start_updater
    confirm_with_product_running
    expect_old_product_terminated

    local error_box
    error_box=$(wait_window "$ERROR_BOX" 90)
    log "error box shown"
    local expected="$work/expected-error.txt"
    windows_box_text Atualizadorvantra \
        $'Não foi possível atualizar o aplicativo!\n\nNão foi possível realizar o download do aplicativo!\n\nHTTP/1.1 404 Not Found.' \
        'OK   ' >"$expected"
    expect_clipboard_of_box "$error_box" "$expected"
    press "$error_box" Return
    xsession_wait_for 15 bash -c "! xdotool search --onlyvisible --name '$ERROR_BOX'" ||
        fail "the error box did not close on Return"

    expect_same "$product/Vantra.exe" "$old_product"
    expect_absent "$product/Vantra_old.exe"
    expect_requests /Vantra/DADOSCONEXAO.txt /pacote/Ausente.zip

    # Idle: the window stays, with no box and no further request.
    local main requests
    main=$(wait_window "$MAIN_WINDOW" 10)
    requests=$(wc -l <"$work/server.log")
    sleep 2
    kill -0 "$updater_pid" 2>/dev/null || fail "the updater ended after the error"
    window_shown "$CONFIRMATION" && fail "a new confirmation appeared by itself"
    window_shown "$ERROR_BOX" && fail "the error box came back"
    [ "$(wc -l <"$work/server.log")" = "$requests" ] || fail "the idle updater sent requests"

    # The button starts a new attempt; a package on a port where nothing listens gives
    # Winsock's own error number.
    printf 'executavelvantra=https://localhost:1/pacote/Vantra.zip#' >"$served/Vantra/DADOSCONEXAO.txt"
    activate "$main"
    xdotool mousemove --window "$main" 437 76 click 1
    confirm_without_product
    error_box=$(wait_window "$ERROR_BOX" 90)
    windows_box_text Atualizadorvantra \
        $'Não foi possível atualizar o aplicativo!\n\nNão foi possível realizar o download do aplicativo!\n\nSocket Error # 10061\nConnection refused.' \
        'OK   ' >"$expected"
    expect_clipboard_of_box "$error_box" "$expected"
    press "$error_box" Return
    xsession_wait_for 15 bash -c "! xdotool search --onlyvisible --name '$ERROR_BOX'" ||
        fail "the second error box did not close on Return"
    expect_same "$product/Vantra.exe" "$old_product"

    press "$main" alt+F4
    wait_updater_exit 30
    expect_exit_code_zero
}

# One attempt that the TLS handshake refuses: the error box names it, the product stays, and the
# closed window gives exit code 0.
expect_refused_by_tls() {
    start_updater
    confirm_without_product
    local error_box got="$work/clipboard.txt"
    error_box=$(wait_window "$ERROR_BOX" 90)
    log "error box shown"
    press "$error_box" ctrl+c
    xsession_wait_for 10 bash -c "timeout 3 xclip -selection clipboard -o -t UTF8_STRING >'$got' && grep -q Atualizadorvantra '$got'" ||
        fail "Ctrl+C in the error box put nothing on the clipboard"
    local start
    start=$(printf '%s\n\n%s\n\n%s' 'Não foi possível atualizar o aplicativo!' \
        'Não foi possível realizar o download do aplicativo!' 'Error connecting with SSL.')
    local copied
    copied=$(tr -d '\r' <"$got")
    [[ "$copied" == *"$start"* ]] || { cat "$got" >&2; fail "the refusal is not a TLS error"; }
    press "$error_box" Return
    xsession_wait_for 15 bash -c "! xdotool search --onlyvisible --name '$ERROR_BOX'" ||
        fail "the error box did not close on Return"
    expect_same "$product/Vantra.exe" "$old_product"
    local main
    main=$(wait_window "$MAIN_WINDOW" 10)
    press "$main" alt+F4
    wait_updater_exit 30
    expect_exit_code_zero
}

system_store() {
    serve_settings_naming /pacote/Vantra.zip
    cp "$system_store_updater" "$product/AtualizadorVantra.exe"

    # Nothing trusts the test CA yet: the handshake is refused.
    expect_refused_by_tls

    timeout 60 "$wine" "$trust" "$(windows_path "$ca")" >"$work/trust.log" 2>&1 ||
        fail "the test CA could not be added to the root store"
    log "test CA in the root store"

    # A CA file replaces the store: the program built with one that holds another CA refuses.
    trust_in_ca_file "$other_ca"
    cp "$deploy/AtualizadorVantra.exe" "$product/AtualizadorVantra.exe"
    expect_refused_by_tls
    trust_in_ca_file "$ca"

    # The program without a CA file accepts the server its store trusts now.
    cp "$system_store_updater" "$product/AtualizadorVantra.exe"
    start_updater
    confirm_without_product
    local confirmed=$SECONDS
    wait_updater_exit 120
    expect_exit_code_zero
    [ $((SECONDS - confirmed)) -ge 2 ] || fail "the updater exited before its pause"
    expect_updated
}

trust_in_ca_file "$ca"
make_product_dir
make_package
start_server
xsession_start "$work" || fail "no X display"
[ "$scenario" = success ] && use_portuguese_locale
make_prefix
case $scenario in
success) whole_update ;;
failure) failed_update ;;
system-store) system_store ;;
*) fail "unknown scenario $scenario" ;;
esac
log "PASS ($scenario)"
