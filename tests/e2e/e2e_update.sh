#!/usr/bin/env bash
# The real updater binary, on a private X display with a window manager, against the loopback
# HTTPS server, driven the way a user drives it: through its message boxes and its button.
#
# usage: e2e_update.sh success|failure|kill|signed --updater FILE --server FILE --cert FILE
#                      --key FILE --port N [--minisign FILE --signing-key FILE]
#
#   success  a whole update: backup, new files, package deleted, product launched, exit code 0
#   signed   the same by an updater with a public key built in, of a package signed with its
#            secret key by the minisign program (--minisign, --signing-key)
#   failure  a package that is not on the server: the error box and its text (Ctrl+C), the
#            product executable given back, the window idle and its button starting a new attempt
#   kill     an update of many files killed (SIGKILL) at instants spread from the answer to the
#            exit, each followed by a start answered No: the Product directory is then the old
#            tree or the new one, never a mix, with no temporary, backup or journal left
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/lib/xsession.sh
source "$here/../../scripts/lib/xsession.sh"
# shellcheck source=../support/e2e-common.sh
source "$here/../support/e2e-common.sh"

scenario=${1:?usage: $0 success|failure|kill|signed --updater F --server F --cert F --key F --port N}
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

# Titles: the main window, the confirmation (both "Atualização" boxes) and the error display,
# whose caption is the application title derived from the executable's name.
MAIN_WINDOW='^Atualizador$'
CONFIRMATION='^Atualiza..?..?o$' # "Atualização", whatever the bytes of its two accented letters
ERROR_BOX='^Atualizadorvantra$'

# --- checks ----------------------------------------------------------------------------------

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

# --- the kill scenario -----------------------------------------------------------------------

KILL_FILES=520 # files in the package

# The old product has half of the package's files, one of them read-only, and a file the
# package does not hold; the package adds directories of its own, and holds the running
# updater's executable (the same bytes, so that every start runs the same updater).
make_large_trees() {
    local src="$work/pacote-conteudo" i
    mkdir -p "$src/dados/lote" "$src/extra/sub" "$product/dados/lote"
    printf '%s' "$NEW_PRODUCT" >"$src/Vantra.exe"
    chmod +x "$src/Vantra.exe"
    cp "$updater" "$src/AtualizadorVantra"
    for i in $(seq -w 1 "$KILL_FILES"); do
        head -c $((2048 + 10#$i * 37)) /dev/urandom >"$src/dados/lote/$i.bin"
        [ $((10#$i % 2)) != 0 ] || printf 'old %s\n' "$i" >"$product/dados/lote/$i.bin"
        [ $((10#$i % 50)) != 0 ] || printf 'extra %s\n' "$i" >"$src/extra/sub/$i.txt"
    done
    chmod 0444 "$product/dados/lote/002.bin"
    printf 'kept\n' >"$product/dados/ignorado.txt"
    (cd "$src" && zip -q -r "$served/pacote/Vantra.zip" Vantra.exe AtualizadorVantra dados extra)
    cp -a "$product" "$work/antes"
}

reset_product() {
    rm -rf "$product"
    cp -a "$work/antes" "$product"
}

# Names, types, modes and contents below the Product directory. The package is left out: a
# failed attempt keeps it, as a clean failure does.
manifest() {
    (cd "$1" && find . -mindepth 1 ! -name Vantra.zip -printf '%P %y %m\n' | LC_ALL=C sort &&
        find . -type f ! -name Vantra.zip -print0 | LC_ALL=C sort -z | xargs -0 sha1sum)
}

now() { echo "${EPOCHREALTIME/./}"; } # microseconds

# The confirmation of a fresh start; a failure when the start shows an error (a recovery that
# could not finish) instead.
wait_confirmation() {
    local deadline=$((SECONDS + $1)) ids
    while :; do
        if ids=$(xdotool search --onlyvisible --name "$CONFIRMATION" 2>/dev/null); then
            head -n1 <<<"$ids"
            return 0
        fi
        window_shown "$ERROR_BOX" && fail "the start showed an error box"
        kill -0 "$updater_pid" 2>/dev/null || fail "the updater exited before its question"
        [ "$SECONDS" -lt "$deadline" ] || fail "no confirmation within $1s"
        sleep 0.05
    done
}

# One whole update, timed: when the journal appears and goes, when the updater exits.
calibrate() {
    start_updater
    press "$(wait_confirmation 30)" Return
    local t0 journal="$product/AtualizadorVantra.journal" seen_on="" seen_off=""
    t0=$(now)
    while kill -0 "$updater_pid" 2>/dev/null; do
        if [ -e "$journal" ]; then
            [ -n "$seen_on" ] || seen_on=$(($(now) - t0))
        elif [ -n "$seen_on" ] && [ -z "$seen_off" ]; then
            seen_off=$(($(now) - t0))
        fi
        [ $(($(now) - t0)) -lt 120000000 ] || fail "the whole update took over two minutes"
        sleep 0.005
    done
    total=$(($(now) - t0))
    wait_updater_exit 1
    expect_exit_code_zero
    journal_on=${seen_on:-$((total / 5))}
    journal_off=${seen_off:-$journal_on}
    log "whole update: journal from ${journal_on}us to ${journal_off}us, exit at ${total}us"
    manifest "$product" >"$work/new.manifest"
    grep -q '^Vantra.exe f 755' "$work/new.manifest" || fail "the whole update left no Vantra.exe"
}

# Kill instants in microseconds, each with the event it counts from: some during the download
# (from the answer), most while the journal lives (from its appearance: staging and install,
# whatever the machine's load), some in the pause before the exit (from the answer).
kill_instants() {
    local i span=$((journal_off - journal_on + 1))
    for i in 0 1 2 3 4 5; do echo "answer $((journal_on * i / 6))"; done
    # Denser at first: a warm run installs faster than the first one, which measured the span.
    for i in $(seq 0 13); do echo "journal $((span * i * i / 169))"; done
    for i in 1 2 3 4; do echo "answer $((journal_off + (total - journal_off) * i / 5))"; done
}

# Until the journal is there, or the updater has gone on without one being seen.
wait_journal() {
    local deadline=$((SECONDS + 60))
    until [ -e "$1" ]; do
        kill -0 "$updater_pid" 2>/dev/null || return 0
        [ "$SECONDS" -lt "$deadline" ] || fail "no journal within 60s of the answer"
        sleep 0.002
    done
}

killed_updates() {
    serve_settings_naming /pacote/Vantra.zip
    make_large_trees
    manifest "$product" >"$work/old.manifest"
    calibrate

    local from delay n=0 old=0 new=0 during=0 tree journal="$product/AtualizadorVantra.journal"
    while read -r from delay; do
        n=$((n + 1))
        reset_product
        start_updater
        press "$(wait_confirmation 30)" Return
        [ "$from" = answer ] || wait_journal "$journal"
        sleep "$(printf '%d.%06d' $((delay / 1000000)) $((delay % 1000000)))"
        [ ! -e "$journal" ] || during=$((during + 1))
        kill -KILL "$updater_pid" 2>/dev/null || true
        wait "$updater_pid" 2>/dev/null || true
        updater_pid=""

        start_updater
        press "$(wait_confirmation 30)" Escape # No
        press "$(wait_window "$MAIN_WINDOW" 10)" alt+F4
        wait_updater_exit 20

        manifest "$product" >"$work/after.manifest"
        if cmp -s "$work/after.manifest" "$work/old.manifest"; then
            old=$((old + 1)) tree=old
        elif cmp -s "$work/after.manifest" "$work/new.manifest"; then
            new=$((new + 1)) tree=new
        else
            diff "$work/old.manifest" "$work/after.manifest" | head -n 20 >&2
            fail "kill $n, ${delay}us after the $from, left neither the old tree nor the new one"
        fi
        log "kill $n, ${delay}us after the $from: the $tree tree"
    done < <(kill_instants)
    [ "$n" -ge 20 ] || fail "only $n kills"
    log "$n kills ($during while the journal was there): $old old trees, $new new trees"
    [ "$during" -ge 1 ] || fail "no kill came while the journal was there"
}

make_product_dir
[ "$scenario" = kill ] || make_package
start_server
start_display
case $scenario in
success | signed) whole_update ;;
failure) failed_update_then_retry ;;
kill) killed_updates ;;
*) fail "unknown scenario $scenario" ;;
esac
log "PASS ($scenario)"
