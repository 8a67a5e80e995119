#!/usr/bin/env bash
# Runs the updater on a demo: installs what is missing, builds the updater for a local HTTPS
# server with a demo CA, makes a demo Product directory with an old Vantra.exe, serves a package
# holding a new one on loopback, and runs the updater on your display. Without a display it runs
# under Xvfb, answers the confirmation itself and saves a screenshot to demo-run/screenshot.png.
#
# usage: bash scripts/demo.sh [--headless]      (VANTRA_DEMO_PORT picks the port, default 47444)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=lib/xsession.sh
source "$repo/scripts/lib/xsession.sh"

port=${VANTRA_DEMO_PORT:-47444}
build="$repo/build-demo"
pki="$build/demo-pki"
run="$repo/demo-run"
product="$run/produto"
served="$run/servidor"
headless=0
[ "${1:-}" = "--headless" ] && headless=1

server_pid=""
updater_pid=""

say() { printf '\n== %s\n' "$*"; }

cleanup() {
    [ -n "$updater_pid" ] && kill "$updater_pid" 2>/dev/null && wait "$updater_pid" 2>/dev/null
    [ -n "$server_pid" ] && kill -CONT "$server_pid" 2>/dev/null
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    xsession_stop
}
trap cleanup EXIT
trap 'exit 1' INT TERM

install_dependencies() {
    say "1. Installing what is missing (Debian packages)"
    bash "$repo/scripts/install-deps.sh"
}

# A CA made for this demo only, and a certificate for localhost that it signs.
make_demo_ca() {
    [ -f "$pki/localhost.pem" ] && return 0
    mkdir -p "$pki"
    local ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
    openssl req -x509 "${ec[@]}" -days 365 -subj "/CN=Vantra Demo CA" \
        -keyout "$pki/ca.key" -out "$pki/ca.pem" 2>/dev/null
    openssl req -new "${ec[@]}" -subj "/CN=localhost" \
        -keyout "$pki/localhost.key" -out "$pki/localhost.csr" 2>/dev/null
    printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n' >"$pki/server.ext"
    openssl x509 -req -in "$pki/localhost.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" \
        -set_serial 1 -days 365 -extfile "$pki/server.ext" -out "$pki/localhost.pem" 2>/dev/null
}

build_updater() {
    say "2. Building the updater for https://localhost:$port with a demo CA ($build)"
    make_demo_ca
    # The test server lives with the tests; nothing else of them is built.
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DVANTRA_SERVER="localhost:$port" -DVANTRA_CA_FILE="$pki/ca.pem" \
        -DVANTRA_BUILD_TESTS=ON -DVANTRA_BUILD_BENCH=OFF -DVANTRA_WINDOWS_TESTS=OFF >/dev/null
    cmake --build "$build" -j"$(nproc)" --target AtualizadorVantra vantra-test-server
}

make_demo_product() {
    say "3. Making the demo Product directory ($product) and the package"
    rm -rf "$run"
    mkdir -p "$product" "$served/Vantra" "$served/pacote" "$run/pacote"
    cp "$build/AtualizadorVantra" "$product/"
    printf '#!/bin/sh\necho "Vantra 1.0"\n' >"$product/Vantra.exe"
    chmod +x "$product/Vantra.exe"

    printf '#!/bin/sh\n# Vantra 2.0\necho "Vantra 2.0 iniciado em $(date)" >iniciado.txt\n' \
        >"$run/pacote/Vantra.exe"
    chmod +x "$run/pacote/Vantra.exe"
    printf 'Vantra 2.0\r\n' >"$run/pacote/LEIAME.txt"
    mkdir -p "$run/pacote/dados"
    # Some bulk, so that the progress bar has something to show.
    head -c 48M /dev/urandom >"$run/pacote/dados/base.dat"
    (cd "$run/pacote" && zip -q -r -0 "$served/pacote/Vantra.zip" .)
    printf 'executavelvantra=https://localhost:%s/pacote/Vantra.zip#' "$port" \
        >"$served/Vantra/DADOSCONEXAO.txt"
    show_product "before"
}

serve_package() {
    say "4. Serving $served on https://localhost:$port"
    "$build/tests/support/vantra-test-server" --port "$port" --cert "$pki/localhost.pem" \
        --key "$pki/localhost.key" --root "$served" >"$run/server.out" 2>"$run/server.log" &
    server_pid=$!
    xsession_wait_for 15 grep -q "listening on $port" "$run/server.out" || {
        cat "$run/server.log" >&2
        echo "the demo server did not start" >&2
        exit 1
    }
}

have_display() {
    [ $headless -eq 0 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1
}

run_on_user_display() {
    say "5. Running the updater on $DISPLAY: answer its question (Sim/Yes updates)"
    (cd "$product" && exec ./AtualizadorVantra) && echo "updater exit code: 0" ||
        echo "updater exit code: $?"
}

# Under Xvfb nobody answers: press Return on the confirmation (Yes is the default), catch the
# download mid-way by pausing the server for a moment, and take the screenshot then.
run_under_xvfb() {
    say "5. No display: running the updater under Xvfb, answering Yes, saving a screenshot"
    mkdir -p "$run/x"
    xsession_start "$run/x"
    unset QT_QPA_PLATFORM
    (cd "$product" && exec ./AtualizadorVantra) >"$run/updater.log" 2>&1 &
    updater_pid=$!

    local box="" deadline=$((SECONDS + 30))
    until box=$(xdotool search --onlyvisible --name '^Atualiza..?..?o$' 2>/dev/null | head -n1) &&
        [ -n "$box" ]; do
        [ "$SECONDS" -lt "$deadline" ] || { echo "no confirmation box appeared" >&2 && exit 1; }
        sleep 0.1
    done
    timeout 5 xdotool windowactivate --sync "$box" >/dev/null 2>&1 || true
    xdotool key --clearmodifiers Return

    capture_mid_download
    deadline=$((SECONDS + 60))
    while kill -0 "$updater_pid" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || { echo "the updater did not finish" >&2 && exit 1; }
        sleep 0.2
    done
    local rc=0
    wait "$updater_pid" || rc=$?
    updater_pid=""
    echo "updater exit code: $rc"
    sleep 0.5 # the product it launched writes its marker
}

# The package file is reserved at its full size up front, so its size says nothing; the bytes
# the updater has written since the confirmation do.
capture_mid_download() {
    local size written base deadline=$((SECONDS + 20))
    size=$(stat -c %s "$served/pacote/Vantra.zip")
    base=$(written_by_updater)
    while [ "$SECONDS" -lt "$deadline" ] && kill -0 "$updater_pid" 2>/dev/null; do
        written=$(($(written_by_updater) - base))
        [ "$written" -gt $((size * 2 / 5)) ] && break
        sleep 0.01
    done
    kill -STOP "$server_pid"
    sleep 0.3 # the last progress event repaints the window
    import -window root "$run/screenshot.png"
    crop_to_main_window "$run/screenshot.png" "$run/screenshot-window.png" || true
    kill -CONT "$server_pid"
    echo "screenshot: $run/screenshot.png (about $((written * 100 / size))% downloaded)"
}

written_by_updater() {
    awk '/^wchar:/ { print $2 }' "/proc/$updater_pid/io" 2>/dev/null || echo 0
}

# The main window with its frame, cut out of the whole screen.
crop_to_main_window() {
    local wid x y w h l r t b
    wid=$(xdotool search --onlyvisible --name '^Atualizador$' | head -n1) || return 1
    x=$(xwininfo -id "$wid" | awk '/Absolute upper-left X/ { print $4 }')
    y=$(xwininfo -id "$wid" | awk '/Absolute upper-left Y/ { print $4 }')
    w=$(xwininfo -id "$wid" | awk '/Width:/ { print $2 }')
    h=$(xwininfo -id "$wid" | awk '/Height:/ { print $2 }')
    read -r l r t b < <(xprop -id "$wid" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    convert "$1" -crop "$((w + l + r))x$((h + t + b))+$((x - l))+$((y - t))" +repage "$2"
}

stop_server() {
    say "6. Stopping the server"
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
    echo "requests it served:"
    sed 's/^/  /' "$run/server.log"
}

show_product() {
    echo "Product directory $1 the update:"
    (cd "$product" && find . -type f | sort | while read -r f; do
        printf '  %-24s %10s bytes' "$f" "$(stat -c %s "$f")"
        case $f in ./Vantra*.exe | ./iniciado.txt) printf '   %s' "$(grep -v '^#!' "$f" | head -n1)" ;; esac
        echo
    done)
}

install_dependencies
build_updater
make_demo_product
serve_package
if have_display; then run_on_user_display; else run_under_xvfb; fi
stop_server
say "Result"
show_product "after"
[ -f "$product/iniciado.txt" ] && echo "The new Vantra.exe was started: $(cat "$product/iniciado.txt")"
