#!/bin/sh
# Runs a Windows program in the build tree's private Wine environment (see wine-prefix.sh, whose
# "setup" must have run first). Used as CMAKE_CROSSCOMPILING_EMULATOR.
#
#   run-in-wine.sh [--build-dir <dir>] <program.exe> [args...]
#
# The build directory comes from --build-dir or $WINE_TEST_BUILD_DIR. The program's exit code is
# passed on (Wine hands over its low byte).
#
# Locale: Wine derives the ANSI/OEM code pages and the UI language from LC_ALL/LANG. The default
# en_US.UTF-8 gives code page 1252 and language 0x0409; $WINE_TEST_LOCALE (e.g. ja_JP.UTF-8)
# selects another one for a whole test program. The Unix locale itself comes from
# <build>/wine/locale (LOCPATH), compiled by wine-prefix.sh: without it Wine's Unix code page is
# ASCII and non-ASCII file names fail. A Windows parent cannot change its children's locale
# through their environment block (harness::runProgram goes through the Wine loader for that).
set -u

build=${WINE_TEST_BUILD_DIR:-}
if [ "${1:-}" = --build-dir ]; then
    [ $# -ge 2 ] || { echo "run-in-wine.sh: --build-dir needs a value" >&2; exit 125; }
    build=$2
    shift 2
fi
if [ $# -lt 1 ] || [ -z "$build" ]; then
    echo "usage: run-in-wine.sh [--build-dir <dir>] <program.exe> [args...]" >&2
    echo "       (or set WINE_TEST_BUILD_DIR)" >&2
    exit 125
fi
wdir=$build/wine
if [ ! -f "$wdir/prefix.ok" ] || [ ! -f "$wdir/display" ]; then
    echo "run-in-wine.sh: no Wine environment in $wdir; run: $(dirname "$0")/wine-prefix.sh setup $build" >&2
    exit 125
fi

export WINEPREFIX="$wdir/prefix"
export HOME="$wdir/home"
DISPLAY=$(cat "$wdir/display")
export DISPLAY
export WINEDEBUG="${WINE_TEST_WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
locale=${WINE_TEST_LOCALE:-en_US.UTF-8}
if [ ! -d "$wdir/locale/$locale" ]; then
    "$(dirname "$0")/wine-prefix.sh" locale "$build" "$locale" || true
fi
export LOCPATH="$wdir/locale"
export LANG="$locale" LC_ALL="$locale"
unset LANGUAGE LC_CTYPE LC_MESSAGES LC_NUMERIC LC_TIME LC_COLLATE LC_MONETARY 2>/dev/null
# Tells test programs where the build tree is (they pass it on to what they start).
export WINE_TEST_BUILD_DIR="$build"

exec "${WINE:-/usr/lib/wine/wine64}" "$@"
