#!/usr/bin/env bash
# Checks that the project's own C++ files are formatted as .clang-format says.
# With --fix, formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^vst2shim/')

if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
    exit 0
fi

if ! clang-format --dry-run --Werror "${files[@]}"; then
    echo "Some files are not formatted; run scripts/check-format.sh --fix" >&2
    exit 1
fi
echo "Formatting: ${#files[@]} files checked."
