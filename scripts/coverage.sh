#!/usr/bin/env bash
# Line and branch coverage of src/ by the whole test suite at a commit: a
# scratch clone built with --coverage (-O1, atomic counters, no benchmarks),
# every test run, then gcovr's summary (branches the compiler adds for
# exceptions left out).
# Not part of CI. The clone and its build are kept (build-coverage/ in this
# checkout, or $KESTRUNE_COVERAGE_DIR), so a second commit rebuilds only what
# differs.
#
#   scripts/coverage.sh [COMMIT]      (default HEAD)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
scratch=${KESTRUNE_COVERAGE_DIR:-$repo/build-coverage}
clone=$scratch/kestrune
build=$clone/build
jobs=${JOBS:-2}
renice -n 10 -p $$ > /dev/null 2>&1 || true
export QT_QPA_PLATFORM=offscreen

sha=$(git -C "$repo" rev-parse --verify "${1:-HEAD}^{commit}")
mkdir -p "$scratch"
# The tests look for the peers' image suites beside the checkout.
for shared in "$repo/../shared" "$repo/../../shared"; do
  if [ -d "$shared" ]; then
    [ -e "$scratch/shared" ] || ln -s "$(cd "$shared" && pwd)" "$scratch/shared"
    break
  fi
done
[ -d "$clone/.git" ] || git clone --quiet --no-checkout "$repo" "$clone"
git -C "$clone" fetch --quiet "$repo" '+refs/heads/*:refs/remotes/source/*'
git -C "$clone" checkout --quiet --force --detach "$sha"
git -C "$clone" clean --quiet -fdx --exclude=build

# The counters are updated atomically: lines run by several threads at once
# would otherwise come out with negative branch counts, which gcovr refuses.
flags="-O1 --coverage -fprofile-update=atomic"
cmake -S "$clone" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
  -DKESTRUNE_BUILD_BENCH=OFF > /dev/null
cmake --build "$build" -j"$jobs" > "$scratch/build.log" 2>&1 || { tail -20 "$scratch/build.log"; exit 1; }
find "$build" -name '*.gcda' -delete
# A child program's messages can gain gcov's own, so a failure here is shown
# but does not stop the count.
(cd "$build" && ctest -j"$jobs" --timeout 1800) > "$scratch/ctest.log" 2>&1 ||
  sed -n '/The following tests FAILED/,/Errors while/p' "$scratch/ctest.log"
echo "commit $(git -C "$clone" log -1 --format='%h %s' | cut -c1-72)"
gcovr --root "$clone" --filter "$clone/src/" --object-directory "$build" --exclude-unreachable-branches \
  --exclude-throw-branches --gcov-ignore-parse-errors --print-summary -o "$scratch/coverage-$(git -C "$clone" rev-parse --short HEAD).txt" |
  grep -E '^(lines|branches)'
