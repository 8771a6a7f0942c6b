#!/usr/bin/env bash
# Installs the Debian packages that building Kestrine needs, plus any package named as an
# argument (scripts/test.sh adds the test and sanitizer tool chains this way). Packages that
# are already installed are skipped; apt only runs when something is missing.
# Usage: scripts/install-deps.sh [extra-package ...]        (as root on Debian 12)
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    juce-modules-source                       # JUCE 7 modules, its CMake package and juceaide
    libflac-dev libpng-dev libjpeg-dev zlib1g-dev   # the codecs JUCE takes from the system
    libcurl4-gnutls-dev                       # the update notice's HTTPS request
    libexpat1-dev                             # the XML parser that reads a saved state
    libcli11-dev                              # kestrine-render's command line (header-only)
    libfreetype-dev libfontconfig-dev fonts-dejavu-core   # text in the editor and the demo picture
    libasound2-dev libjack-jackd2-dev            # the standalone application's ALSA and JACK audio
    libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev libxrender-dev libxcomposite-dev
    libxtst-dev                               # the tests move the mouse through the X server (XTest)
    "$@"
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages are installed"
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: run as root to install: ${missing[*]}" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"
