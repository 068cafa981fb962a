#!/usr/bin/env bash
# Fills fuzz/corpus/<target> with seed inputs: small files of every format
# the file-reading entry point takes, made here with libvips's own tool
# (libvips-tools), and the peer image suites beside the repository
# (../shared/peers).
set -euo pipefail
cd "$(dirname "$0")"
peers=../../shared/peers
[ -d "$peers" ] || peers=../../../shared/peers
mkdir -p corpus/fuzz_read_image corpus/fuzz_read_bmp corpus/fuzz_read_pfm corpus/fuzz_clipboard_dib \
  corpus/fuzz_read_pnm corpus/fuzz_read_tiff corpus/fuzz_read_webp
cp -f "$peers"/bmpsuite/{g,q,b,x}/*.bmp corpus/fuzz_read_bmp/
# A packed bitmap is a BMP file without its 14-byte file header.
for f in "$peers"/bmpsuite/{g,q}/*.bmp; do tail -c +15 "$f" > "corpus/fuzz_clipboard_dib/$(basename "$f")"; done
# Two small PFM files: colour little-endian (with a NaN and an infinity),
# grey big-endian.
printf 'PF\n2 1\n-1.0\n\0\0\x80\x3f\0\0\0\x40\0\0\x40\x40\0\0\xc0\x7f\0\0\x80\x7f\0\0\0\0' \
  > corpus/fuzz_read_pfm/colour.pfm
printf 'Pf 3 1 1.0\n\x3f\x80\0\0\x40\0\0\0\x40\x40\0\0' > corpus/fuzz_read_pfm/grey.pfm

# Small generated images in every format and layout libvips writes: grey,
# grey with alpha, colour, colour with alpha; 8 and 16 bits; floats.
out=corpus/fuzz_read_image
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vips xyz "$work/xy.v" 12 9
vips extract_band "$work/xy.v" "$work/x.v" 0
vips extract_band "$work/xy.v" "$work/y.v" 1
vips linear "$work/x.v" "$work/g.v" 20 3 --uchar
vips linear "$work/y.v" "$work/a.v" 28 0 --uchar
vips bandjoin "$work/g.v $work/a.v" "$work/ga.v"
vips bandjoin "$work/g.v $work/a.v $work/g.v" "$work/rgb.v"
vips bandjoin "$work/rgb.v $work/a.v" "$work/rgba.v"
vips copy "$work/rgb.v" "$work/rgb-s.v" --interpretation srgb
vips copy "$work/rgba.v" "$work/rgba-s.v" --interpretation srgb
vips cast "$work/rgb-s.v" "$work/rgb16.v" ushort --shift
vips copy "$work/rgb16.v" "$work/rgb16-s.v" --interpretation rgb16
vips cast "$work/g.v" "$work/g16.v" ushort --shift
vips copy "$work/g16.v" "$work/g16-s.v" --interpretation grey16
vips linear "$work/rgb-s.v" "$work/rgbf.v" 0.0039 0
for f in g ga rgb-s rgba-s; do
  vips copy "$work/$f.v" "$out/$f.png"
  vips copy "$work/$f.v" "$out/$f-i.png[interlace]"
  vips copy "$work/$f.v" "$out/$f.webp"
  vips copy "$work/$f.v" "$out/$f-l.webp[lossless]"
  vips copy "$work/$f.v" "$out/$f.tif"
  vips copy "$work/$f.v" "$out/$f.gif"
done
vips copy "$work/rgb-s.v" "$out/p.png[palette]"
for f in g rgb-s; do
  vips copy "$work/$f.v" "$out/$f.jpg[Q=60]"
  vips copy "$work/$f.v" "$out/$f-p.jpg[Q=60,interlace]"
  vips copy "$work/$f.v" "$out/$f.pnm"
done
vips copy "$work/rgb-s.v" "$out/rgb.avif" || true
vips copy "$work/rgb-s.v" "$out/rgb.heic" || true
vips copy "$work/rgb16-s.v" "$out/rgb16.png"
vips copy "$work/rgb16-s.v" "$out/rgb16.tif[compression=deflate,predictor=horizontal]"
vips copy "$work/rgb16-s.v" "$out/rgb16-t.tif[tile,tile-width=16,tile-height=16,compression=lzw]"
vips copy "$work/g16-s.v" "$out/g16.pgm"
vips copy "$work/rgbf.v" "$out/rgbf.tif[compression=deflate,predictor=float]"
cp -f corpus/fuzz_read_pfm/*.pfm "$out/"
cp -f "$peers"/bmpsuite/g/*.bmp "$out/"
cp -f "$peers"/pngsuite/png/*.png "$out/"
# The targets of one format take that format's seeds.
cp -f "$out"/*.pnm "$out"/*.pgm corpus/fuzz_read_pnm/
cp -f "$out"/*.tif corpus/fuzz_read_tiff/
cp -f "$out"/*.webp corpus/fuzz_read_webp/
