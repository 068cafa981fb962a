#!/usr/bin/env bash
# Builds the Python module's source distribution and, from it, the wheel
# over a CMake build; installs the wheel offline into a fresh virtual
# environment over Debian's Python (numpy, pytest and dask from Debian
# through --system-site-packages) and runs the module's tests there, the
# Dask example's among them.
#   bash scripts/test-python.sh [BUILD_DIR]     (default build, configured with the module)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
python=/usr/bin/python3  # Debian's, whatever python3 comes first on PATH

scratch=$(mktemp -d)
trap 'rm -rf "$scratch" python/build python/kestrune.egg-info' EXIT
KESTRUNE_BUILD_DIR="$build" "$python" -m build --no-isolation --outdir "$scratch/dist" python \
  > "$scratch/build.log" 2>&1 || { cat "$scratch/build.log"; exit 1; }
wheel=$(ls "$scratch"/dist/kestrune-*.whl)
echo "test-python: $(basename "$wheel"): $(du -k "$wheel" | cut -f1) KB"
"$python" -m venv --system-site-packages "$scratch/venv"
"$scratch/venv/bin/python" -m pip install --no-index --quiet "$wheel"
# From outside the tree, so that the installed package is the one imported.
tests=$PWD/python/tests
cd "$scratch"
KESTRUNE_CLI="$build/kestrune-cli" "$scratch/venv/bin/python" -m pytest -q -p no:cacheprovider "$tests"
