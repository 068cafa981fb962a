#!/usr/bin/env bash
# Times one batch call of kestrune-cli on a folder of small images (default
# --jobs, then --jobs 1) against a shell loop of single-file calls, back to
# back, and checks that all three give the same bytes.
# Usage: bench/batch_vs_loop.sh [COUNT [COMMAND ARGS...]]
#   e.g. bench/batch_vs_loop.sh 200 convert --format jpeg
set -euo pipefail
cli=$(realpath "${KESTRUNE_CLI:-$(dirname "$0")/../build/kestrune-cli}")
count=${1:-200}
shift || true
command=("$@")
[[ $# -gt 0 ]] || command=(resize --width 160 --height 120)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/loop"
for i in $(seq 1 "$count"); do "$cli" chart "$work/in/img$i.png" --width 320 --height 240 --seed "$i"; done

TIMEFORMAT=%R
seconds() { { time "$@" > /dev/null 2>&1; } 2>&1; }
loop() {
  for f in "$work"/batch/*; do
    local name=${f##*/}
    "$cli" "${command[@]}" "$work/in/${name%.*}.png" "$work/loop/$name"
  done
}
batch=$(seconds "$cli" "${command[@]}" "$work/in" -o "$work/batch" --quiet)
jobs1=$(seconds "$cli" "${command[@]}" "$work/in" -o "$work/jobs1" --quiet --jobs 1)
looped=$(seconds loop)
diff -r "$work/batch" "$work/loop" && diff -r "$work/batch" "$work/jobs1"
echo "$count files, ${command[*]}: batch $batch s, batch --jobs 1 $jobs1 s, loop of single calls $looped s (same bytes)"
