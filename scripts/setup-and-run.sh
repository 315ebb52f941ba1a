#!/usr/bin/env bash
# Installs the build dependencies, builds the four Linux formats, installs the
# plug-ins into the usual user folders and starts the Standalone app.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)" --target Kelt51LE_VST3 Kelt51LE_LV2 Kelt51LE_VST Kelt51LE_Standalone

artefacts="build/Kelt51LE_artefacts/Release"
mkdir -p ~/.vst3 ~/.lv2 ~/.vst
rm -rf ~/.vst3/"Kelt5.1 LE.vst3" ~/.lv2/"Kelt5.1 LE.lv2"
cp -r "$artefacts/VST3/Kelt5.1 LE.vst3" ~/.vst3/
cp -r "$artefacts/LV2/Kelt5.1 LE.lv2" ~/.lv2/
cp "$artefacts/VST/libKelt5.1 LE.so" ~/.vst/
echo "Installed: ~/.vst3/Kelt5.1 LE.vst3, ~/.lv2/Kelt5.1 LE.lv2, ~/.vst/libKelt5.1 LE.so"

app="$artefacts/Standalone/Kelt5.1 LE"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$app"
else
    echo "No display found, so the Standalone app was not started."
    echo "Start it from a desktop session with: \"$PWD/$app\""
fi
