#!/bin/sh
# Private Wine environment for one build tree's tests.
#
#   wine-prefix.sh setup   <build-dir>   boot (or reuse) the prefix, start Xvfb and a persistent wineserver
#   wine-prefix.sh cleanup <build-dir>   stop that wineserver and Xvfb
#   wine-prefix.sh locale  <build-dir> <name>   compile one Unix locale (e.g. ja_JP.UTF-8)
#
# Everything lives in <build-dir>/wine: prefix/, home/, locale/, display, xvfb.pid, wineserver.pid.
# The commands are idempotent. Processes are started detached (setsid) with their standard
# handles on /dev/null, so nothing holds the pipes CTest reads from. Only this tree's processes
# are ever stopped: the wineserver by prefix, Xvfb by its pid file.
#
# Locales: Wine takes the Windows code pages and UI language from LC_ALL/LANG even when that Unix
# locale does not exist, but then its Unix code page is ASCII and every file name with a
# non-ASCII character fails (error 2). So setup compiles the test locales (localedef, from the
# system's locale sources) into locale/, and run-in-wine.sh points LOCPATH there.
# $WINE_TEST_LOCALES overrides the list.
set -u

usage() {
    echo "usage: $0 setup|cleanup <build-dir> | locale <build-dir> <name>" >&2
    exit 2
}
[ $# -eq 2 ] || { [ $# -eq 3 ] && [ "$1" = locale ]; } || usage
mode=$1
build=$(cd "$2" 2>/dev/null && pwd) || { echo "wine-prefix.sh: no such directory: $2" >&2; exit 2; }

WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
wdir=$build/wine
export WINEPREFIX="$wdir/prefix"
# wineboot links Desktop, Documents ... into $HOME: keep them inside the build tree.
export HOME="$wdir/home"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8
export LOCPATH="$wdir/locale"
DEFAULT_LOCALES="en_US.UTF-8 ja_JP.UTF-8 de_DE.UTF-8 fr_FR.UTF-8 ru_RU.UTF-8 zh_CN.UTF-8 zh_TW.UTF-8 ko_KR.UTF-8"
unset LANGUAGE DISPLAY WAYLAND_DISPLAY 2>/dev/null

log() { echo "wine-prefix.sh: $*" >&2; }

# pid_is <pidfile> <command-name>: prints the pid when the file names a live process of that
# name (guards against a recycled pid). Zombies do not count: nothing here may reap them.
pid_is() {
    [ -f "$1" ] || return 1
    p=$(cat "$1" 2>/dev/null) || return 1
    case $p in '' | *[!0-9]*) return 1 ;; esac
    [ -r "/proc/$p/comm" ] || return 1
    [ "$(cut -d' ' -f3 "/proc/$p/stat" 2>/dev/null)" != Z ] || return 1
    case $(cat "/proc/$p/comm" 2>/dev/null) in "$2"*) echo "$p"; return 0 ;; esac
    return 1
}

# wait_gone <pid> <tenths>: waits until the process is gone; 1 if it outlived the wait.
wait_gone() {
    i=0
    while [ -d "/proc/$1" ] && [ "$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null)" != Z ]; do
        i=$((i + 1))
        [ $i -gt "$2" ] && return 1
        sleep 0.1
    done
    return 0
}

start_xvfb() {
    if p=$(pid_is "$wdir/xvfb.pid" Xvfb) && [ -f "$wdir/display" ] \
        && [ -S "/tmp/.X11-unix/X$(cut -c2- "$wdir/display")" ]; then
        return 0
    fi
    rm -f "$wdir/xvfb.pid" "$wdir/display"
    n=91
    while [ $n -lt 200 ]; do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            setsid env -u WINEPREFIX Xvfb ":$n" -nolisten tcp -screen 0 1280x1024x24 </dev/null >/dev/null 2>&1 &
            p=$!
            # Ready once its socket exists; a lost race for the number makes it exit instead.
            i=0
            while [ $i -lt 100 ] && [ -d "/proc/$p" ] && [ ! -S "/tmp/.X11-unix/X$n" ]; do
                sleep 0.1
                i=$((i + 1))
            done
            if [ -S "/tmp/.X11-unix/X$n" ] && kill -0 "$p" 2>/dev/null; then
                echo "$p" >"$wdir/xvfb.pid"
                echo ":$n" >"$wdir/display"
                return 0
            fi
            kill "$p" 2>/dev/null
        fi
        n=$((n + 1))
    done
    log "could not start Xvfb on any display :91..:199"
    return 1
}

# compile_locale <name>: e.g. ja_JP.UTF-8 -> $LOCPATH/ja_JP.UTF-8 (kept once made). Built under
# a temporary name and renamed, so parallel callers never see half a locale.
compile_locale() {
    [ -d "$LOCPATH/$1" ] && return 0
    case $1 in
    C | C.* | POSIX) return 0 ;;  # built into the C library
    *.UTF-8) input=${1%.UTF-8} ;;
    *) log "only UTF-8 locales are compiled: $1"; return 1 ;;
    esac
    input=${input%%@*}
    mkdir -p "$LOCPATH" || return 1
    tmp="$LOCPATH/.$1.$$"
    rm -rf "$tmp"
    if ! localedef -i "$input" -f UTF-8 "$tmp" >/dev/null 2>&1 && [ ! -f "$tmp/LC_CTYPE" ]; then
        rm -rf "$tmp"
        log "cannot compile locale $1 (no localedef or locale sources?); non-ASCII file names will fail in it"
        return 1
    fi
    mv -T "$tmp" "$LOCPATH/$1" 2>/dev/null || rm -rf "$tmp"
    [ -d "$LOCPATH/$1" ]
}

compile_locales() {
    pids=
    for l in ${WINE_TEST_LOCALES:-$DEFAULT_LOCALES}; do
        compile_locale "$l" &
        pids="$pids $!"
    done
    for p in $pids; do wait "$p"; done
    return 0
}

# The registry files appear only once a server has saved them (at its exit), so a prefix just
# booted is judged by its files and the marker written after a successful boot.
prefix_healthy() {
    [ -f "$wdir/prefix.ok" ] && prefix_booted
}

prefix_booted() {
    [ -f "$WINEPREFIX/.update-timestamp" ] && [ -d "$WINEPREFIX/dosdevices" ] \
        && [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]
}

start_wineserver() {
    if pid_is "$wdir/wineserver.pid" wineserver >/dev/null; then
        return 0
    fi
    rm -f "$wdir/wineserver.pid"
    # The server refuses to start without its prefix directory.
    mkdir -p "$WINEPREFIX" || return 1
    # A server of this prefix we did not start (e.g. left by a manual wine run) is not
    # persistent: replace it.
    timeout 30 "$WINESERVER" -k >/dev/null 2>&1
    timeout 30 "$WINESERVER" -w >/dev/null 2>&1
    kill_orphans
    # -f keeps it in the foreground so $! is its pid (the wrapper script execs it).
    setsid "$WINESERVER" -f -p </dev/null >/dev/null 2>&1 &
    p=$!
    sleep 0.2
    if ! kill -0 "$p" 2>/dev/null; then
        log "wineserver did not start"
        return 1
    fi
    echo "$p" >"$wdir/wineserver.pid"
}

setup() {
    mkdir -p "$wdir" "$HOME" || return 1
    compile_locales
    start_xvfb || return 1
    DISPLAY=$(cat "$wdir/display")
    export DISPLAY
    if ! prefix_healthy; then
        # Never boot into a half-made prefix: start from nothing.
        cleanup_processes
        rm -rf "$WINEPREFIX" "$wdir/prefix.ok"
        start_xvfb || return 1
        start_wineserver || return 1
        if ! timeout 600 "$WINE" wineboot -i </dev/null >/dev/null 2>&1; then
            log "wineboot -i failed"
            return 1
        fi
        if ! prefix_booted; then
            log "wineboot left an incomplete prefix in $WINEPREFIX"
            return 1
        fi
        date >"$wdir/prefix.ok"
    else
        start_wineserver || return 1
    fi
    # Xvfb has no window manager: for windows it thinks managed, Wine waits 2 s for one to confirm
    # every hide or destroy (each closed dialog). Unmanaged windows close at once.
    if ! timeout 120 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
        </dev/null >/dev/null 2>&1; then
        log "could not set the X11 driver to unmanaged windows"
        return 1
    fi
    # One trivial program: proves the prefix runs things and warms it up.
    timeout 120 "$WINE" cmd /c exit 7 </dev/null >/dev/null 2>&1
    rc=$?
    if [ $rc -ne 7 ]; then
        log "the prefix does not run programs (cmd /c exit 7 gave $rc)"
        return 1
    fi
    echo "wine prefix $WINEPREFIX ready, DISPLAY=$DISPLAY"
}

# Wine processes of this prefix that no server knows any more (their server was killed with
# SIGKILL: they do not notice and live on). Found by their executable (a Wine binary) and the
# WINEPREFIX in their environment.
kill_orphans() {
    for dir in /proc/[0-9]*; do
        case $(readlink "$dir/exe" 2>/dev/null) in
        */wine/wine* | */wine64-preloader | */wine-preloader) ;;
        *) continue ;;
        esac
        if { tr '\0' '\n' <"$dir/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            kill -9 "${dir#/proc/}" 2>/dev/null
        fi
    done
}

cleanup_processes() {
    if [ -d "$WINEPREFIX" ]; then
        # By prefix: this ends only this prefix's server and its Wine processes.
        timeout 30 "$WINESERVER" -k >/dev/null 2>&1
        timeout 30 "$WINESERVER" -w >/dev/null 2>&1
    fi
    if p=$(pid_is "$wdir/wineserver.pid" wineserver); then
        wait_gone "$p" 50 || kill -9 "$p" 2>/dev/null
    fi
    rm -f "$wdir/wineserver.pid"
    kill_orphans
}

cleanup() {
    [ -d "$wdir" ] || return 0
    cleanup_processes
    if p=$(pid_is "$wdir/xvfb.pid" Xvfb); then
        kill "$p" 2>/dev/null
        wait_gone "$p" 50 || kill -9 "$p" 2>/dev/null
    fi
    rm -f "$wdir/xvfb.pid" "$wdir/display"
    echo "wine processes of $WINEPREFIX stopped"
}

case $mode in
setup) setup ;;
cleanup) cleanup ;;
locale) compile_locale "$3" ;;
*) usage ;;
esac
