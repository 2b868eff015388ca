#!/bin/sh
# The main job: builds the stubs and the setup builder, builds a sample
# setup program and runs it quietly under Wine, then shows its log.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
BUILD_DIR=$build "$root/scripts/build.sh"

sample=$build/sample
mkdir -p "$sample/home" "$sample/tmp"
"$build/host/tools/mksetup/mksetup" build --stub "$build/win64/stubs/setup64.exe" \
    --description "$root/tools/sample/description.json" --output "$sample/sample-setup.exe"
"$build/host/tools/mksetup/mksetup" inspect "$sample/sample-setup.exe"

export WINEPREFIX="$sample/prefix" HOME="$sample/home" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8
# Boot with output to /dev/null: the prefix's system processes would hold a pipe open.
[ -f "$WINEPREFIX/system.reg" ] || /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null
rm -f "$sample"/tmp/cvl_nlog_*.log

set +e
TARKO_LOG=yes /usr/lib/wine/wine64 "$sample/sample-setup.exe" -q \
    >"$sample/stdout.txt" 2>"$sample/stderr.txt" </dev/null
code=$?
set -e
WINEPREFIX="$WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null || true

echo "exit code: $code"
[ -s "$sample/stderr.txt" ] && { echo "standard error:"; cat "$sample/stderr.txt"; }
log=$(find "$WINEPREFIX/drive_c/users" -name 'cvl_nlog_*.log' -newer "$sample/sample-setup.exe" | head -n 1)
if [ -n "$log" ]; then
    echo "log ($log):"
    cat "$log"
    rm -f "$log"
fi
exit $code
