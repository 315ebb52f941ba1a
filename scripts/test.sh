#!/usr/bin/env bash
# The whole test suite: installs what is needed, checks the formatting,
# builds with warnings as errors, runs every test in the normal build, fuzzes
# the saved-settings reader for a minute, then runs the in-process tests under
# ThreadSanitizer and under AddressSanitizer with UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)

bash scripts/install-deps.sh

echo "== Formatting =="
bash scripts/check-format.sh

run_headless() {
    if [ -n "${DISPLAY:-}" ]; then "$@"; else xvfb-run -a -s "-screen 0 1280x1024x24" "$@"; fi
}

echo "== Normal build =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELT_WARNINGS_AS_ERRORS=ON
cmake --build build -j "$jobs"
run_headless ctest --test-dir build -j "$jobs" --output-on-failure

echo "== Saved-settings fuzzer =="
bash scripts/run-fuzzer.sh "${KELT_FUZZ_SECONDS:-60}"

echo "== ThreadSanitizer build =="
cmake -S . -B build-tsan -G Ninja -DKELT_SANITIZER=thread -DKELT_WARNINGS_AS_ERRORS=ON
cmake --build build-tsan -j "$jobs" --target KeltTests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    run_headless ctest --test-dir build-tsan -j "$jobs" --output-on-failure

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
cmake -S . -B build-asan -G Ninja -DKELT_SANITIZER=address -DKELT_WARNINGS_AS_ERRORS=ON
cmake --build build-asan -j "$jobs" --target KeltTests
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    run_headless ctest --test-dir build-asan -j "$jobs" --output-on-failure
