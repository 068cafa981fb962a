#!/usr/bin/env bash
# Installs the dependencies, builds Kestrune and opens the desktop program on
# a sample image that the program makes itself. Without a display it runs the
# command-line tool on that image instead and says where the results are.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"

mkdir -p out
build/kestrune-cli chart out/sample.png --width 320 --height 240

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/kestrune out/sample.png
fi

echo "No display: running the command-line tool on out/sample.png instead."
build/kestrune-cli info out/sample.png
build/kestrune-cli upscale out/sample.png out/sample-x2.png
build/kestrune-cli downscale out/sample-x2.png out/sample-x2-down.png --width 200 --height 150
echo "Results: out/sample-x2.png (Kestrune interpolation), out/sample-x2-down.png (downscale with hinting)."
