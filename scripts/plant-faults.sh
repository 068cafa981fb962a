#!/usr/bin/env bash
# Plants the faults of scripts/plant-faults.list one at a time in a scratch
# clone of a commit, builds it and runs the whole test suite, and prints for
# each fault whether the suite caught it (some test failed), then the count.
# The suite stops at its first failing test: a fault counts as caught either
# way, and most are caught early. Too long for CI (a build and a test run per
# fault): run it by hand, at low priority, before and after a change to the
# tests.
#
#   scripts/plant-faults.sh [COMMIT]          (default HEAD)
#   scripts/plant-faults.sh --check [COMMIT]  only checks that every entry applies
#
# The list is always this checkout's, so one list measures any commit. The
# clone and its build directory are kept between runs (default build-faults/
# in this checkout, or $KESTRUNE_FAULTS_DIR); with ccache the build after
# each fault is incremental. FAULTS="3 7" runs only those entries.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
list=$repo/scripts/plant-faults.list
scratch=${KESTRUNE_FAULTS_DIR:-$repo/build-faults}
clone=$scratch/kestrune
build=$clone/build
logs=$scratch/logs
jobs=${JOBS:-2}
renice -n 10 -p $$ > /dev/null 2>&1 || true
export QT_QPA_PLATFORM=offscreen

check=false
if [ "${1:-}" = --check ]; then check=true; shift; fi
sha=$(git -C "$repo" rev-parse --verify "${1:-HEAD}^{commit}")
mkdir -p "$scratch" "$logs"
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

# fault N of the list: "count" prints how many, "describe N" its line,
# "apply N" makes the replacement in the clone (exit 3 when the text does not
# occur exactly once) and prints the file.
fault() {
  python3 - "$list" "$clone" "$@" << 'EOF'
import sys
path, clone, action = sys.argv[1:4]
entries, entry = [], {}
for line in open(path, encoding="utf-8").read().splitlines() + [""]:
    if line.startswith("#"):
        continue
    if not line.strip():
        if entry:
            entries.append(entry)
        entry = {}
        continue
    key, _, value = line.partition(":")
    entry[key.strip()] = value[1:] if value.startswith(" ") else value
for e in entries:
    if not all(k in e for k in ("fault", "file", "old", "new")):
        sys.exit("plant-faults.list: incomplete entry: %r" % e)
if action == "count":
    print(len(entries))
    sys.exit(0)
e = entries[int(sys.argv[4]) - 1]
if action == "describe":
    print("%s (%s)" % (e["fault"], e["file"]))
    sys.exit(0)
old, new = (e[k].replace("\\n", "\n") for k in ("old", "new"))
target = clone + "/" + e["file"]
try:
    text = open(target, encoding="utf-8").read()
except FileNotFoundError:
    print("no file " + e["file"])
    sys.exit(3)
if text.count(old) != 1:
    print("the text occurs %d times in %s" % (text.count(old), e["file"]))
    sys.exit(3)
open(target, "w", encoding="utf-8").write(text.replace(old, new))
print(e["file"])
EOF
}

count=$(fault count)
if $check; then
  status=0
  for n in $(seq 1 "$count"); do
    if file=$(fault apply "$n"); then git -C "$clone" checkout --quiet -- "$file"
    else echo "[$n] does not apply ($file): $(fault describe "$n")"; status=1; fi
  done
  echo "$count faults checked"
  exit $status
fi
# lld when there is one: every fault relinks most programs.
linker=()
if command -v ld.lld > /dev/null; then
  linker=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld)
fi
cmake -S "$clone" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
  -DCMAKE_C_COMPILER_LAUNCHER=ccache -DKESTRUNE_BUILD_BENCH=OFF "${linker[@]}" > "$logs/configure.log"
echo "commit $(git -C "$clone" log -1 --format='%h %s' | cut -c1-72)"
# BASELINE_TESTS=0 skips the suite's run on the unchanged commit (when a
# run of this commit already passed).
if ! cmake --build "$build" -j"$jobs" > "$logs/baseline.log" 2>&1 ||
   { [ "${BASELINE_TESTS:-1}" != 0 ] && ! (cd "$build" && ctest -j"$jobs" --timeout 600 >> "$logs/baseline.log" 2>&1); }; then
  echo "the unchanged commit does not build or pass its tests: see $logs/baseline.log" >&2
  exit 1
fi

# The tests of the layer that `file` belongs to: the desktop program's, or
# the layer's GoogleTest program, stopping at its first failure.
first_suite() {
  local layer
  layer=$(echo "$1" | cut -d/ -f2)
  if [ "$layer" = app ]; then
    (cd "$build" && ctest -R '^app\.' --timeout 600 --stop-on-failure)
  elif [ -x "$build/tests/${layer}_tests" ]; then
    "$build/tests/${layer}_tests" --gtest_fail_fast --gtest_brief=1
  fi
}

caught=0 missed=0 broken=0
for n in ${FAULTS:-$(seq 1 "$count")}; do
  what=$(fault describe "$n")
  log=$logs/$n.log
  if ! file=$(fault apply "$n"); then
    echo "[$n] does not apply ($file): $what"
    broken=$((broken + 1))
    continue
  fi
  if ! cmake --build "$build" -j"$jobs" > "$log" 2>&1; then
    echo "[$n] SCRIPT ERROR: does not compile (fix the entry; $log): $what"
    broken=$((broken + 1))
  # The faulty layer's own tests first (a fault is mostly caught there, and
  # quickly), then the whole suite; without the timings of earlier runs ctest
  # keeps the suites' order, the quick lower layers first.
  elif ! first_suite "$file" >> "$log" 2>&1; then
    failed=$({ grep -Eo '^\[  FAILED  \] [^ ,]+' "$log" | awk '{print $NF}'
               sed -n '/The following tests FAILED/,$p' "$log" | grep -Eo '^[[:space:]]*[0-9]+ - [^ ]+' |
                 awk '{print $3}'; } | sort -u | head -4 | paste -sd' ' || true)
    echo "[$n] caught by $failed: $what"
    caught=$((caught + 1))
  elif rm -f "$build/Testing/Temporary/CTestCostData.txt" &&
       (cd "$build" && ctest -j"$jobs" --timeout 600 --stop-on-failure >> "$log" 2>&1); then
    echo "[$n] NOT caught: $what"
    missed=$((missed + 1))
  else
    failed=$(sed -n '/The following tests FAILED/,$p' "$log" | grep -Eo '^[[:space:]]*[0-9]+ - [^ ]+' |
             awk '{print $3}' | head -4 | paste -sd' ' || true)
    echo "[$n] caught by $failed: $what"
    caught=$((caught + 1))
  fi
  git -C "$clone" checkout --quiet -- "$file"
done
echo "caught $caught of $((caught + missed)) faults planted$([ "$broken" -eq 0 ] || echo ", $broken not applied or not compiling")"
