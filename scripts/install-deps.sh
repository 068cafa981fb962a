#!/usr/bin/env bash
# Installs every build, test and run dependency of Kestrune from Debian packages.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  cmake g++ make pkg-config dpkg-dev
  libvips-dev libvips-tools libjpeg62-turbo-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libhwy-dev libtbb-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  xvfb xauth time
  gcovr
  clang libclang-rt-14-dev
  pybind11-dev python3-dev python3-numpy python3-setuptools python3-wheel python3-build python3-venv python3-pip
  python3-pytest python3-distributed
  slurm-wlm munge
  abigail-tools doxygen clang-format
  libopencv-dnn-dev python3-torch python3-onnx python3-pil
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
