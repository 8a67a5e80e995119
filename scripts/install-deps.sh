#!/usr/bin/env bash
# Installs every Debian 12 package the updater, its tests, the demo and the
# benchmarks need. Idempotent.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang-format
    qt6-base-dev qt6-translations-l10n
    libcurl4-openssl-dev libssl-dev openssl
    libzip-dev zlib1g-dev libbz2-dev liblzma-dev libzstd-dev
    zip unzip libarchive-tools curl minisign
    python3-pil
    xvfb xauth xdotool xclip openbox x11-utils imagemagick
    g++-mingw-w64-x86-64 wine wine64 qt6-base-dev-tools locales
    e2fsprogs mount util-linux iproute2
    clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi
