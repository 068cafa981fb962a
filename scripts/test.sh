#!/usr/bin/env bash
# Installs the dependencies, then builds and runs every test twice: an
# optimised build (build/) and one with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/), where any report fails the run.
# Between the two, the optimised build is installed into a scratch prefix,
# where the example program is built against the installed library (with
# CMake and with pkg-config) and run, and the Debian package is made and
# listed. Then the Python module's wheel in a virtual environment with its
# tests (scripts/test-python.sh), smoke runs of the training scripts of the
# learned start and the source choice, and the Slurm job array of docs/batch.md on a
# one-node Slurm (scripts/test-slurm.sh). Last, the arm64 build under
# qemu-user (scripts/test-arm64.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

# Each step's time, so that a slow step shows in the log.
step_start=$SECONDS
step() {
  echo "test.sh: $1 took $((SECONDS - step_start)) s (total $SECONDS s)"
  step_start=$SECONDS
}

bash scripts/install-deps.sh
step "installing the dependencies"

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
step "the optimised build"
(cd build && ctest --output-on-failure -j"$jobs")
step "its tests"
# The library's contract: the exported ABI against its baseline, and the
# reference generated from the headers with every public symbol documented.
# The C++ sources follow the committed .clang-format.
clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h')
bash scripts/check-abi.sh build
KESTRUNE_BUILD=build doxygen docs/Doxyfile
step "the format, ABI and reference checks"

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build --prefix "$prefix/usr" > /dev/null
cmake -S examples -B "$prefix/example" -DCMAKE_PREFIX_PATH="$prefix/usr"
cmake --build "$prefix/example"
build/kestrune-cli chart "$prefix/chart.png" --width 48 --height 40
"$prefix/example/enlarge" "$prefix/chart.png" "$prefix/chart-x2.png" 2> /dev/null
"$prefix/usr/bin/kestrune-cli" info "$prefix/chart-x2.png"
PKG_CONFIG_PATH="$prefix/usr/lib/pkgconfig" c++ examples/enlarge.cpp -o "$prefix/enlarge-pc" \
  $(PKG_CONFIG_PATH="$prefix/usr/lib/pkgconfig" pkg-config --cflags --libs kestrune) -Wl,-rpath,"$prefix/usr/lib"
"$prefix/enlarge-pc" "$prefix/chart.png" "$prefix/chart-x2-pc.png" 2> /dev/null
cmp "$prefix/chart-x2.png" "$prefix/chart-x2-pc.png"
(cd build && cpack -G DEB > /dev/null)
deb=$(ls build/kestrune_*.deb)
dpkg-deb --info "$deb" | grep -E 'Package|Version|Depends'
dpkg-deb --contents "$deb"
step "the installed library, its example and package"

bash scripts/test-python.sh build
step "the Python module"
# The training scripts of the learned start and the source choice still train
# and export: a few steps on made-up pictures.
/usr/bin/python3 training/train_learned_start.py --smoke --out "$prefix/learned-smoke.onnx" > /dev/null
/usr/bin/python3 training/train_source_choice.py --smoke --out "$prefix/choice-smoke.onnx" > /dev/null
step "the training smoke runs"
bash scripts/test-slurm.sh build
step "the Slurm job array"

# Line tables only (-g1): a report still names file and line, and the build
# takes a quarter less time than with full debugging information.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1" -DCMAKE_CXX_FLAGS_DEBUG="-g1" \
  -DCMAKE_C_FLAGS_DEBUG="-g1" -DKESTRUNE_SANITIZE=ON -DKESTRUNE_BUILD_BENCH=OFF
cmake --build build-asan -j"$jobs"
step "the sanitizer build"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
(cd build-asan && ctest --output-on-failure -j"$jobs")
step "its tests"

# The core, the tool and the core's tests built for arm64 and run under
# qemu-user; the chart's enlargement must give the same bytes as here.
bash scripts/test-arm64.sh
step "the arm64 build and its tests"
