#!/usr/bin/env bash
# Starts the desktop program under a virtual X server (Xvfb) on a generated
# sample image and saves pictures of the main window and of each dialog as
# PNG files in out/screenshots/, so that a person can look at them; then the
# window with a 4000 x 3000 photograph-like image (photo-*.png): at 100 %, at
# fit, and the enlargement of its half-size copy compared with its source.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
fi
cmake --build build -j"$(nproc)" --target kestrune_desktop kestrune-cli

out=out/screenshots
rm -rf "$out"
mkdir -p "$out"
build/kestrune-cli chart "$out/sample.png" --width 320 --height 240
build/kestrune-cli chart "$out/photo.png" --width 4000 --height 3000
build/kestrune-cli resize "$out/photo.png" "$out/photo-half.png" --width 2000 --height 1500

# The hidden --screenshots option walks through the window, both settings
# dialogs, the About box, the open and save dialogs and an upscaling run,
# then the photograph's views (photo.png and photo-half.png in the same
# folder), and quits. The program's profile (recent files and folders) goes
# to a folder of its own, not the user's.
XDG_CONFIG_HOME="$PWD/$out/config" xvfb-run -a -s "-screen 0 1280x900x24" build/kestrune --screenshots "$out" "$out/sample.png"
ls "$out"
