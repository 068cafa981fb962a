#!/usr/bin/env bash
# Times the default enlargement of photograph-like charts of camera sizes
# with kestrune-cli (JPEG in, JPEG out) and reports the wall time and the
# peak memory of each whole command. Sources above 2048 x 2048 are enlarged
# in tiles, read and written by rows.
# Usage: bench/camera_sizes.sh [WIDTHxHEIGHT ...]   (default: 2000x1500 6000x4000)
#   e.g. bench/camera_sizes.sh 12000x9000           (about half an hour on two cores)
set -euo pipefail
cli=$(realpath "${KESTRUNE_CLI:-$(dirname "$0")/../build/kestrune-cli}")
sizes=("$@")
[[ $# -gt 0 ]] || sizes=(2000x1500 6000x4000)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in "${sizes[@]}"; do
  w=${size%x*} h=${size#*x}
  "$cli" chart "$work/chart.png" --width "$w" --height "$h"
  "$cli" convert "$work/chart.png" "$work/source.jpg" --quality 92
  rm "$work/chart.png"
  /usr/bin/time -f "%e %M" -o "$work/time" "$cli" upscale "$work/source.jpg" "$work/big.jpg" --quiet
  read -r seconds kilobytes < "$work/time"
  awk -v s="$size" -v t="$seconds" -v k="$kilobytes" \
    'BEGIN { printf "%s: %.1f s, peak %.0f MiB\n", s, t, k / 1024 }'
  rm "$work/source.jpg" "$work/big.jpg"
done
