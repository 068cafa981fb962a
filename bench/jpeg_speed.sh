#!/usr/bin/env bash
# Times the default enlargement of a JPEG source with the JPEG model on and
# off, in turn in the same run, and prints each run's wall time and peak
# memory and the median ratio on / off. The source is a photograph enlarged
# with Lanczos-3 to the given size (default 4000 x 3000, a camera's; sources
# above 2048 x 2048 go through tiles, read and written by rows) and saved at
# quality 85 with 4:2:0 chroma.
# Usage: bench/jpeg_speed.sh PHOTO [WIDTHxHEIGHT] [PAIRS]   (default 4000x3000, 1 pair)
#   PHOTO e.g. Wood.jpg of Debian's mate-backgrounds package (apt-get download
#   mate-backgrounds; dpkg-deb -x the .deb into a folder). Needs libvips-tools.
#   4000x3000: some 4 minutes a run on two idle cores.
set -euo pipefail
cli=$(realpath "${KESTRUNE_CLI:-$(dirname "$0")/../build/kestrune-cli}")
photo=$1
size=${2:-4000x3000}
pairs=${3:-1}
w=${size%x*} h=${size#*x}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vips thumbnail "$photo" "$work/source.v" "$w" --height "$h" --size force
vips jpegsave "$work/source.v" "$work/source.jpg" --Q 85 --subsample-mode on
ratios=()
for ((i = 0; i < pairs; ++i)); do
  declare -A t
  for model in on off; do
    /usr/bin/time -f "%e %M" -o "$work/time" "$cli" upscale "$work/source.jpg" "$work/big.jpg" --quiet \
      --jpeg-model "$model"
    read -r seconds kilobytes < "$work/time"
    t[$model]=$seconds
    awk -v s="$size" -v m="$model" -v t="$seconds" -v k="$kilobytes" \
      'BEGIN { printf "%s, model %s: %.1f s, peak %.0f MiB\n", s, m, t, k / 1024 }'
  done
  ratios+=("$(awk -v a="${t[on]}" -v b="${t[off]}" 'BEGIN { printf "%.3f", a / b }')")
done
printf '%s\n' "${ratios[@]}" | sort -n | awk '{ r[NR] = $1 } END { printf "time on / off: median %s of %d pair(s)\n", r[int((NR + 1) / 2)], NR }'
