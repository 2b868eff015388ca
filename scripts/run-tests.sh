#!/bin/sh
# Installs what is missing, builds everything and runs all tests: native
# tests, the Wine tests of the 64-bit builds, static checks of setup32.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
BUILD_DIR=$build "$root/scripts/build.sh"

status=0
for dir in host win64 win32; do
    echo "=== tests: $dir"
    (cd "$build/$dir" && ctest --output-on-failure -j2 --timeout 900) || status=1
done
exit $status
