#!/usr/bin/env bash
# Fills fuzz/corpus/<target> with seed inputs from the peer image suites
# beside the repository (../shared/peers) and from small JPEG files.
set -euo pipefail
cd "$(dirname "$0")"
peers=../../shared/peers
[ -d "$peers" ] || peers=../../../shared/peers
mkdir -p corpus/fuzz_read_bmp corpus/fuzz_read_png corpus/fuzz_read_jpeg corpus/fuzz_read_pfm corpus/fuzz_clipboard_dib
cp "$peers"/bmpsuite/{g,q,b,x}/*.bmp corpus/fuzz_read_bmp/
cp "$peers"/pngsuite/png/*.png corpus/fuzz_read_png/
# A packed bitmap is a BMP file without its 14-byte file header.
for f in "$peers"/bmpsuite/{g,q}/*.bmp; do tail -c +15 "$f" > "corpus/fuzz_clipboard_dib/$(basename "$f")"; done
# The JPEG stream embedded in a BMP of the suite, from its pixel-data offset.
f="$peers/bmpsuite/q/rgb24jpeg.bmp"
offset=$(od -An -tu4 -j10 -N4 "$f" | tr -d ' ')
tail -c +$((offset + 1)) "$f" > corpus/fuzz_read_jpeg/rgb24jpeg.jpg
# Two small PFM files: colour little-endian (with a NaN and an infinity),
# grey big-endian.
printf 'PF\n2 1\n-1.0\n\0\0\x80\x3f\0\0\0\x40\0\0\x40\x40\0\0\xc0\x7f\0\0\x80\x7f\0\0\0\0' \
  > corpus/fuzz_read_pfm/colour.pfm
printf 'Pf 3 1 1.0\n\x3f\x80\0\0\x40\0\0\0\x40\x40\0\0' > corpus/fuzz_read_pfm/grey.pfm
