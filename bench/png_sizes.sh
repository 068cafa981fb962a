#!/usr/bin/env bash
# Compares the size of kestrune-cli's PNG output of photographs with that of
# libvips's PNG saver at its defaults (no row filters), on a 512 x 512
# reduction of each photograph and on the whole photograph.
# Usage: bench/png_sizes.sh PHOTO...   (photographs of Debian's wallpaper
#   packages, e.g. mate-backgrounds unpacked under /tmp)
set -euo pipefail
cli=$(realpath "${KESTRUNE_CLI:-$(dirname "$0")/../build/kestrune-cli}")
[[ $# -gt 0 ]] || { echo "usage: $0 PHOTO..." >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%-28s %-11s %12s %12s %7s\n' photo size kestrune unfiltered ratio
for photo in "$@"; do
  "$cli" resize "$photo" "$work/small.pfm" --width 512 --height 512 --quiet
  "$cli" convert "$photo" "$work/whole.pfm"
  for kind in small whole; do
    "$cli" convert "$work/$kind.pfm" "$work/$kind.png" --depth 8
    vips pngsave "$work/$kind.png" "$work/$kind-plain.png"  # the same pixels, no filters
    read -r w h < <(vipsheader -f width "$work/$kind.png" | tr '\n' ' '; vipsheader -f height "$work/$kind.png")
    ours=$(stat -c %s "$work/$kind.png") plain=$(stat -c %s "$work/$kind-plain.png")
    awk -v p="$(basename "$photo")" -v s="${w}x$h" -v o="$ours" -v u="$plain" \
      'BEGIN { printf "%-28s %-11s %12d %12d %6.1f%%\n", p, s, o, u, 100 * o / u }'
  done
done
