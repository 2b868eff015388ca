#!/bin/sh
# Debian 12 packages for building the stubs and running the tests under Wine.
# wine64 only: the 32-bit Wine loader cannot run on these machines.
set -eu
packages="cmake ninja-build g++ g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 libz-mingw-w64-dev
openjdk-17-jdk-headless googletest nlohmann-json3-dev
wine wine64 xvfb x11-apps imagemagick"

missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing:$missing"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends $missing
