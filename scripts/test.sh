#!/usr/bin/env bash
# The whole test suite: installs what is needed, builds, runs every test in
# the normal build, then the in-process tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)

bash scripts/install-deps.sh

run_headless() {
    if [ -n "${DISPLAY:-}" ]; then "$@"; else xvfb-run -a -s "-screen 0 1280x1024x24" "$@"; fi
}

echo "== Normal build =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
run_headless ctest --test-dir build -j "$jobs" --output-on-failure

echo "== ThreadSanitizer build =="
cmake -S . -B build-tsan -G Ninja -DKELT_SANITIZER=thread
cmake --build build-tsan -j "$jobs" --target KeltTests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    run_headless ctest --test-dir build-tsan -j "$jobs" --output-on-failure
