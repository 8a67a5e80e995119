#!/usr/bin/env bash
# Rebuilds the Windows SDK of the cross build (x86_64-w64-mingw32: zlib, bzip2,
# liblzma, zstd, libzip, curl twice, OpenSSL, Qt base) from Debian 12's own
# source packages, with the options its MANIFEST.md gives, and packs it as
# x86_64-w64-mingw32-sdk.tar.xz. About an hour on 2 cores; CI does not run it.
#
# usage: build-windows-sdk.sh [--work DIR] [--out FILE] [--jobs N] [--only STAGE...]
#
#   --work DIR   sources and build trees (default: ./windows-sdk-work); the SDK is
#                installed into DIR/sdk/prefix and DIR/sdk/prefix-openssl
#   --out FILE   the archive to write (default: DIR/x86_64-w64-mingw32-sdk.tar.xz)
#   --jobs N     parallel jobs (default: 2)
#   --only ...   run only these stages, in the order given (sources zlib bzip2 xz zstd
#                libzip openssl curl-schannel curl-openssl qtbase pack)
#
# It needs root (or sudo) once: it adds the deb-src entry apt-get source needs and
# installs the build tools. The result is relocatable; point VANTRA_WINDOWS_SDK at
# DIR/sdk, or unpack the archive, to build against it.
set -euo pipefail

work=$PWD/windows-sdk-work
out=""
jobs=2
stages=()
while [ $# -gt 0 ]; do
    case $1 in
    --work) work=$(realpath -m "$2") && shift ;;
    --out) out=$(realpath -m "$2") && shift ;;
    --jobs) jobs=$2 && shift ;;
    --only)
        shift
        while [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; do stages+=("$1") && shift; done
        continue
        ;;
    *) echo "unknown argument: $1" >&2 && exit 2 ;;
    esac
    shift
done
[ ${#stages[@]} -gt 0 ] ||
    stages=(sources zlib bzip2 xz zstd libzip openssl curl-schannel curl-openssl qtbase pack)
out=${out:-$work/x86_64-w64-mingw32-sdk.tar.xz}

host=x86_64-w64-mingw32
cc=$host-gcc-posix
cxx=$host-g++-posix
src=$work/src
build=$work/build
prefix=$work/sdk/prefix
prefix_ssl=$work/sdk/prefix-openssl
toolchain=$work/toolchain.cmake
mkdir -p "$src" "$build" "$prefix" "$prefix_ssl"

log() { echo "=== [$(date +%T)] $*"; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# --- set-up ----------------------------------------------------------------------------------

# apt-get source reads deb-src entries, which Debian's images leave out.
add_deb_src() {
    local list=/etc/apt/sources.list.d/debian-src.sources
    if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        log "adding $list"
        as_root tee "$list" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
        as_root apt-get update -q
    fi
}

install_tools() {
    local tools=(dpkg-dev cmake ninja-build make perl python3 xz-utils
        g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
        qt6-base-dev-tools)
    local missing=() t
    for t in "${tools[@]}"; do
        dpkg-query -W -f='${Status}' "$t" 2>/dev/null | grep -q "install ok installed" || missing+=("$t")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        as_root apt-get update -q
        DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q "${missing[@]}"
    fi
}

write_toolchain() {
    cat >"$toolchain" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $cc)
set(CMAKE_CXX_COMPILER $cxx)
set(CMAKE_RC_COMPILER $host-windres)
set(CMAKE_FIND_ROOT_PATH "\${VANTRA_SDK_ROOTS}" /usr/$host)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VANTRA_SDK_ROOTS)
EOF
}

# The unpacked source tree of a Debian source package (Debian's patches applied).
source_dir() {
    local dir
    dir=$(find "$src" -mindepth 1 -maxdepth 1 -type d -name "$1-*" | sort | tail -n1)
    [ -n "$dir" ] || { echo "no source of $1 in $src: run the sources stage" >&2 && exit 1; }
    echo "$dir"
}

# cmake_build NAME SOURCE INSTALL_PREFIX ROOTS -D...: configure, build and install, Release.
cmake_build() {
    local name=$1 source=$2 install=$3 roots=$4
    shift 4
    rm -rf "${build:?}/$name"
    cmake -S "$source" -B "$build/$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DVANTRA_SDK_ROOTS="$roots" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$install" "$@"
    cmake --build "$build/$name" -j "$jobs"
    cmake --install "$build/$name"
}

# --- stages ----------------------------------------------------------------------------------

stage_sources() {
    add_deb_src
    local package
    for package in zlib bzip2 xz-utils libzstd libzip curl openssl qt6-base; do
        if find "$src" -maxdepth 1 -name "${package}_*.dsc" | grep -q .; then
            log "source of $package already here"
            continue
        fi
        log "fetching the source of $package"
        # The newest version first; a mirror without it (a security update's
        # sources missing) gets bookworm's own.
        (cd "$src" && apt-get source -q "$package") ||
            (cd "$src" && apt-get source -q "$package/bookworm")
    done
}

# Debian's zlib tarball lacks the win32/ folder both of zlib's build systems want
# for MinGW, so the library is compiled from its sources directly.
stage_zlib() {
    local dir objects=() f
    dir=$(source_dir zlib)
    rm -rf "$build/zlib" && mkdir -p "$build/zlib"
    for f in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
        inftrees trees uncompr zutil; do
        $cc -O2 -DNDEBUG -I"$dir" -c "$dir/$f.c" -o "$build/zlib/$f.o"
        objects+=("$build/zlib/$f.o")
    done
    mkdir -p "$prefix/bin" "$prefix/lib" "$prefix/include"
    $host-ar rcs "$prefix/lib/libz.a" "${objects[@]}"
    $cc -shared -o "$prefix/bin/zlib1.dll" "${objects[@]}" \
        -Wl,--out-implib,"$prefix/lib/libz.dll.a"
    cp "$dir/zlib.h" "$dir/zconf.h" "$prefix/include/"
}

stage_bzip2() {
    local dir objects=() f
    dir=$(source_dir bzip2)
    rm -rf "$build/bzip2" && mkdir -p "$build/bzip2"
    for f in blocksort huffman crctable randtable compress decompress bzlib; do
        $cc -O2 -DNDEBUG -D_FILE_OFFSET_BITS=64 -c "$dir/$f.c" -o "$build/bzip2/$f.o"
        objects+=("$build/bzip2/$f.o")
    done
    $host-ar rcs "$prefix/lib/libbz2.a" "${objects[@]}"
    cp "$dir/bzlib.h" "$prefix/include/"
}

stage_xz() {
    local dir
    dir=$(source_dir xz-utils)
    rm -rf "$build/xz" && mkdir -p "$build/xz"
    (cd "$build/xz" && "$dir/configure" --host=$host CC=$cc --prefix="$prefix" \
        --enable-shared --disable-static --disable-xz --disable-xzdec --disable-lzmadec \
        --disable-lzmainfo --disable-lzma-links --disable-scripts --disable-doc --disable-nls &&
        make -j "$jobs" -C src/liblzma && make -C src/liblzma install)
}

stage_zstd() {
    cmake_build zstd "$(source_dir libzstd)/build/cmake" "$prefix" "$prefix" \
        -DZSTD_BUILD_SHARED=ON -DZSTD_BUILD_STATIC=OFF -DZSTD_BUILD_PROGRAMS=OFF \
        -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=ON
}

stage_libzip() {
    cmake_build libzip "$(source_dir libzip)" "$prefix" "$prefix" \
        -DBUILD_SHARED_LIBS=ON -DENABLE_WINDOWS_CRYPTO=ON -DENABLE_BZIP2=ON -DENABLE_LZMA=ON \
        -DENABLE_GNUTLS=OFF -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_COMMONCRYPTO=OFF \
        -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF \
        -DBZIP2_LIBRARY="$prefix/lib/libbz2.a" -DBZIP2_INCLUDE_DIR="$prefix/include"
}

stage_openssl() {
    local dir
    dir=$(source_dir openssl)
    rm -rf "$build/openssl" && mkdir -p "$build/openssl"
    # With the cross prefix, CC=gcc-posix is x86_64-w64-mingw32-gcc-posix.
    (cd "$build/openssl" && CC=gcc-posix "$dir/Configure" mingw64 --cross-compile-prefix=$host- \
        --prefix="$prefix_ssl" --libdir=lib shared no-tests no-legacy no-engine no-module &&
        make -j "$jobs" build_sw && make install_sw)
    # The libraries only: the SDK carries no openssl tool.
    rm -f "$prefix_ssl/bin/openssl.exe" "$prefix_ssl/bin/c_rehash"
}

curl_options=(-DBUILD_SHARED_LIBS=ON -DCURL_WINDOWS_SSPI=ON -DCURL_ZLIB=ON -DCURL_ZSTD=ON
    -DUSE_WIN32_IDN=ON -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_BROTLI=OFF
    -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_DISABLE_LDAP=ON
    -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF)

stage_curl-schannel() {
    cmake_build curl-schannel "$(source_dir curl)" "$prefix" "$prefix" "${curl_options[@]}" \
        -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF
}

# Same name and ABI as the Schannel build, so that either can stand in for the other.
stage_curl-openssl() {
    cmake_build curl-openssl "$(source_dir curl)" "$prefix_ssl" "$prefix_ssl;$prefix" \
        "${curl_options[@]}" -DCURL_USE_SCHANNEL=OFF -DCURL_USE_OPENSSL=ON \
        -DOPENSSL_ROOT_DIR="$prefix_ssl"
}

# Debian strips src/3rdparty/wintab for its licence: the windows and direct2d
# plugins are built without their Wintab tablet backend (pen input through
# WM_POINTER stays).
patch_qtbase_without_wintab() {
    local dir=$1 plugins=$1/src/plugins/platforms
    python3 - "$plugins" <<'EOF'
import re, sys, pathlib
plugins = pathlib.Path(sys.argv[1])
for cmake in (plugins / "windows/CMakeLists.txt", plugins / "direct2d/CMakeLists.txt"):
    text = cmake.read_text()
    text = re.sub(r"qt_internal_extend_target\(\w+ CONDITION QT_FEATURE_tabletevent\n(.*?\n)*?\)\n",
                  "", text)
    cmake.write_text(text)
context = plugins / "windows/qwindowscontext.cpp"
context.write_text(context.read_text().replace("QT_CONFIG(tabletevent)", "0 /* no Wintab */"))
pointer = plugins / "windows/qwindowspointerhandler.cpp"
pointer.write_text(pointer.read_text().replace('#  include "qwindowstabletsupport.h"\n', ""))
EOF
}

stage_qtbase() {
    local dir
    dir=$(source_dir qt6-base)
    grep -q "no Wintab" "$dir/src/plugins/platforms/windows/qwindowscontext.cpp" ||
        patch_qtbase_without_wintab "$dir"
    local features=() f
    for f in dbus sql network testlib printsupport opengl vulkan icu zstd freetype fontconfig \
        jpeg pkg_config system_zlib system_png system_harfbuzz system_pcre2 \
        system_doubleconversion; do
        features+=("-DFEATURE_$f=OFF")
    done
    cmake_build qtbase "$dir" "$prefix/qt6" "$prefix" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DBUILD_SHARED_LIBS=ON -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DINPUT_opengl=no "${features[@]}"
}

stage_pack() {
    log "packing $out"
    tar -C "$work/sdk" -cJf "$out" prefix prefix-openssl
    sha256sum "$out"
}

# --- run -------------------------------------------------------------------------------------

install_tools
write_toolchain
for stage in "${stages[@]}"; do
    declare -F "stage_$stage" >/dev/null || { echo "unknown stage $stage" >&2 && exit 2; }
    log "$stage"
    "stage_$stage"
done
log "done: $work/sdk"
