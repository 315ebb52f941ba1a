#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian machine.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    juce-modules-source fst-dev lv2-dev
    libasound2-dev libjack-jackd2-dev libfreetype-dev libfontconfig1-dev
    libx11-dev libxcomposite-dev libxcursor-dev libxext-dev libxinerama-dev
    libxrandr-dev libxrender-dev libgl-dev libgtk-3-dev libwebkit2gtk-4.0-dev
    libcurl4-openssl-dev libpng-dev libjpeg-dev zlib1g-dev
    libgtest-dev googletest libbenchmark-dev libebur128-dev
    clang libclang-rt-dev clang-format
    xvfb xauth fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
