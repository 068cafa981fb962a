#!/usr/bin/env bash
# Installs the dependencies, builds Kestrune and runs it on a sample image
# that the program makes itself.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"

mkdir -p out
build/kestrune-cli chart out/sample.png --width 320 --height 240
build/kestrune-cli info out/sample.png
