#!/bin/sh
# Fuzzes the configuration-block reader, the command-line splitter and the
# expansion natively with libFuzzer (clang, ASan, UBSan). Not part of the
# test run; SECONDS_TO_RUN limits it (default 60).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${BUILD_DIR:-$root/build}/fuzz
mkdir -p "$out/corpus"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root/windows" \
    "$root/tests/fuzz/config_block_fuzz.cpp" "$root/tests/host/log_stub.cpp" \
    "$root/windows/config/block_format.cpp" "$root/windows/config/config_store.cpp" \
    "$root/windows/config/language.cpp" "$root/windows/launcher/cmdline.cpp" \
    "$root/windows/launcher/expand_core.cpp" -I"$root/tests/host" \
    -o "$out/config_block_fuzz"
"$out/config_block_fuzz" -max_total_time="${SECONDS_TO_RUN:-60}" -max_len=4096 "$out/corpus"
