#!/bin/sh
# Benchmark: wall time of whole processes under Wine, median of N runs:
# setup64.exe from start to the mode dispatch (quiet mode; the bootstrap is
# reached and returns) against a trivial MinGW program. Also prints the stub
# sizes and their imported DLLs. Run after scripts/build.sh.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
runs=${RUNS:-15}
work=$build/bench
mkdir -p "$work/home"

export WINEPREFIX="$work/prefix" HOME="$work/home" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8
[ -f "$WINEPREFIX/system.reg" ] || /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null
/usr/lib/wine/wineserver -p >/dev/null 2>&1 </dev/null || true

printf 'int main(void){return 0;}\n' > "$work/trivial.c"
x86_64-w64-mingw32-gcc-posix -O2 -s -mwindows "$work/trivial.c" -o "$work/trivial.exe"
# The stub loads comctl32 (through its manifest) at start; under Wine that
# load is most of the start-up time, so it is measured on its own too.
printf '#include <windows.h>\nint main(void){return LoadLibraryW(L"comctl32.dll") == 0;}\n' > "$work/comctl.c"
x86_64-w64-mingw32-gcc-posix -O2 -s -mwindows "$work/comctl.c" -o "$work/comctl.exe"
"$build/host/tools/mksetup/mksetup" build --stub "$build/win64/stubs/setup64.exe" \
    --description "$root/tools/sample/description.json" --output "$work/setup.exe" >/dev/null

median() {
    # Runs "$@" $runs times and prints the median wall time in milliseconds.
    i=0
    : > "$work/times"
    while [ $i -lt "$runs" ]; do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 </dev/null || true
        end=$(date +%s%N)
        echo $(( (end - start) / 1000000 )) >> "$work/times"
        i=$((i + 1))
    done
    sort -n "$work/times" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

/usr/lib/wine/wine64 "$work/trivial.exe"  # warm up the wineserver
echo "trivial MinGW program: $(median /usr/lib/wine/wine64 "$work/trivial.exe") ms (median of $runs)"
echo "trivial + comctl32:    $(median /usr/lib/wine/wine64 "$work/comctl.exe") ms (median of $runs)"
echo "setup64.exe -q:        $(median /usr/lib/wine/wine64 "$work/setup.exe" -q) ms (median of $runs)"
/usr/lib/wine/wineserver -k 2>/dev/null || true

for stub in "$build/win64/stubs/setup64.exe" "$build/win64/stubs/setup64-nosplash.exe" \
            "$build/win32/stubs/setup32.exe"; do
    [ -f "$stub" ] || continue
    case $stub in *setup32*) dump=i686-w64-mingw32-objdump ;; *) dump=x86_64-w64-mingw32-objdump ;; esac
    dlls=$($dump -p "$stub" | sed -n 's/.*DLL Name: //p' | tr '\n' ' ')
    echo "$(basename "$stub"): $(stat -c %s "$stub") bytes; imports: $dlls"
done
