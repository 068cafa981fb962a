#!/usr/bin/env bash
# Builds the core, kestrune-cli and the core's tests for arm64 with Debian's
# cross compiler and arm64 libraries, runs the tests under qemu-user, and
# checks that the test chart's enlargement gives the same bytes as on this
# machine. No desktop program (its Qt and desktop packages would be many for
# arm64), no benchmarks, and no libvips (Debian's arm64 libvips cannot be
# installed beside the native one), so this build reads and writes BMP and
# PFM only and the tests of the other formats are left out. Needs root for
# the packages (or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

dpkg --print-foreign-architectures | grep -qx arm64 || { "${sudo_cmd[@]}" dpkg --add-architecture arm64; fresh=1; }
packages=(
  g++-aarch64-linux-gnu qemu-user
  libgtest-dev:arm64 libhwy-dev:arm64 libtbb-dev:arm64 libjpeg62-turbo-dev:arm64 libcli11-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "test-arm64: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
[ "${1:-}" = "--deps-only" ] && exit 0

jobs=$(nproc)
cmake -S . -B build-arm64 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
  -DKESTRUNE_BUILD_APP=OFF -DKESTRUNE_BUILD_BENCH=OFF -DKESTRUNE_WITH_VIPS=OFF -DKESTRUNE_WITH_LEARNED=OFF
cmake --build build-arm64 -j"$jobs"

# The tests of the core's layers and of the library under the emulator. The
# tool's own tests start the tool as a child, which qemu-user cannot follow
# without binfmt support; the tool is checked below instead. The tests that
# write PNG files are left out (no libvips here), and so is the reader test
# that caps a child's address space (with the other tests of the formats
# libvips reads): the cap would apply to the emulator itself; so are the
# tests that write JPEG files (the JPEG model's, the EXIF in ReadImageInfo's).
# Whether tiles give the whole picture's result depends on the margins, not
# on the machine: it is checked natively and under the sanitizers, and would
# take the emulator four minutes here.
for part in base image resampling upscale downscale api; do
  echo "test-arm64: ${part}_tests"
  qemu-aarch64 "build-arm64/tests/${part}_tests" --gtest_brief=1 --gtest_filter=-WriteImage.*:Upscale.SixteenBitGradientKeepsItsStepsThroughAFile:UpscaleFile.*:JpegObservation.DecodedFilesRequantiseToTheirCoefficients:ReadImage.ErrorsKeptDamageAndTheFormat:Upscale.JpegModelOnlyForJpegFilesAndOnlyWhenAsked:TiledUpscale.TilesGiveTheWholePicturesResult
done

# The test chart enlarged with default settings: the same bytes as a native
# build gives (build/ when present, else a fresh native build of the tool).
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if [ ! -x build/kestrune-cli ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build build -j"$jobs" --target kestrune-cli
fi
build/kestrune-cli chart "$scratch/chart.pfm"
build/kestrune-cli upscale --quiet "$scratch/chart.pfm" "$scratch/native.pfm"
qemu-aarch64 build-arm64/kestrune-cli upscale --quiet "$scratch/chart.pfm" "$scratch/arm64.pfm"
cmp "$scratch/native.pfm" "$scratch/arm64.pfm"
echo "test-arm64: the chart's enlargement is the same on arm64"
