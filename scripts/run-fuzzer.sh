#!/usr/bin/env bash
# Builds the saved-settings fuzzer with clang in build-fuzz/ and runs it for
# the given number of seconds (default 60) on a scratch copy of the seed
# corpus. Exits non-zero on any finding (crash, undefined behaviour, leak,
# hang or memory blow-up); the input that caused it is kept in
# build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
    echo "usage: $0 [seconds]" >&2
    exit 2
fi

build=build-fuzz
jobs=4

cmake -S . -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELT_BUILD_FUZZERS=ON -DKELT_WARNINGS_AS_ERRORS=ON
cmake --build "$build" -j "$jobs" --target StateFuzzer

corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
cp fuzz/corpus/state/* "$corpus/"

mkdir -p "$build/findings"

# Fresh heap memory is filled with a byte that is neither zero nor a quote,
# so a read past a string's terminator runs on until it leaves the block.
export ASAN_OPTIONS="detect_leaks=1:malloc_fill_byte=65:max_malloc_fill_size=65536:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:${UBSAN_OPTIONS:-}"

# Seeds are far below the reader's text limit; longer inputs reach it.
if ! "$build/StateFuzzer" "$corpus" \
        -dict=fuzz/state.dict \
        -max_total_time="$seconds" \
        -max_len=4096 \
        -timeout=10 \
        -rss_limit_mb=2048 \
        -print_final_stats=1 \
        -artifact_prefix="$build/findings/"; then
    echo "The fuzzer found a fault; the input is in $build/findings/" >&2
    exit 1
fi

echo "No findings in $seconds s."
