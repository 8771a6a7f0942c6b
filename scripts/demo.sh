#!/usr/bin/env bash
# The main job: installs what is missing, builds the Kestrine VST3 bundle and kestrine-render
# (Release, in build/), then renders the built-in demo through the real bundle into
# demo-output/: input.wav, output.wav, waveforms.png, editor.png, the input through each factory
# preset in presets/ and their contact sheet presets.png. Prints the folder at the end.
# Usage: scripts/demo.sh            (from anywhere; as root on a fresh Debian 12 machine)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

# The test suite needs GoogleTest, which the demo does not install: leave it out of this
# configuration unless it is already there.
tests=()
if ! dpkg-query -W -f='${Status}' libgtest-dev 2>/dev/null | grep -q 'install ok installed'; then
    tests=(-DKESTRINE_TESTS=OFF)
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRINE_TOOLS=ON "${tests[@]}"
cmake --build build -j"$(nproc)" --target kestrine-render

build/tools/kestrine-render --demo "$root/demo-output"
