#!/bin/sh
# Configures and builds the three trees: host (builder and native tests),
# win64 (setup64, setup64-nosplash and the Wine tests) and win32 (setup32).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

configure() {
    dir=$1; shift
    if [ ! -f "$build/$dir/build.ninja" ]; then
        cmake -S "$root" -B "$build/$dir" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel "$@"
    fi
    cmake --build "$build/$dir"
}

configure host
configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake"
configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake"
