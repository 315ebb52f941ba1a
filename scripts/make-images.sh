#!/usr/bin/env bash
# Builds the image generator and remakes every PNG under resources/images/.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target KeltImageGenerator
"$build/resources/generator/KeltImageGenerator_artefacts/Release/KeltImageGenerator" "$root/resources/images"
