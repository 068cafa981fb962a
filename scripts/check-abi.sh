#!/usr/bin/env bash
# Holds the shared library's exported ABI to the baseline in abi/: the
# library's public types and functions as abidw describes them from the
# debugging information of the API's objects (x86-64, Debian's compiler).
#   scripts/check-abi.sh [BUILD]           fails on any difference
#   scripts/check-abi.sh --update [BUILD]  writes the baseline anew; refused
#                                          for an incompatible change unless
#                                          the soname (the version) moved
# While the version is 0.x the soname carries the minor version, so a change
# that breaks the ABI moves the version in CMakeLists.txt and the baseline in
# the same commit.
set -euo pipefail
cd "$(dirname "$0")/.."
update=0
if [ "${1:-}" = --update ]; then update=1; shift; fi
build=${1:-build}
baseline=abi/libkestrune.abi

current=$(mktemp)
trap 'rm -f "$current"' EXIT
abidw --no-corpus-path --no-comp-dir-path --no-show-locs --drop-private-types --drop-undefined-syms \
  --type-id-style hash --headers-dir include/kestrune \
  --headers-dir "$build/include/kestrune" --out-file "$current" "$(readlink -f "$build/libkestrune.so")"
soname() { grep -o "soname='[^']*'" "$1" | head -n 1; }
# A change breaks the ABI when a symbol was removed or changed (a type's size
# or layout, a parameter): only added symbols keep it.
breaks() { ((status & 8)) || grep -Eq '[1-9][0-9]* Removed|[1-9][0-9]* Changed' "$current.diff"; }

status=0
[ -f "$baseline" ] && { abidiff --no-show-locs "$baseline" "$current" > "$current.diff" || status=$?; }
if ((update)); then
  if ((status)) && breaks && [ "$(soname "$baseline")" = "$(soname "$current")" ]; then
    cat "$current.diff"; rm -f "$current.diff"
    echo "check-abi: the change breaks the ABI of $(soname "$current"): move the version first" >&2
    exit 1
  fi
  rm -f "$current.diff"
  cp "$current" "$baseline"
  echo "check-abi: $baseline written for $(soname "$current")"
  exit 0
fi
[ -f "$baseline" ] || { echo "check-abi: no $baseline; run scripts/check-abi.sh --update" >&2; exit 1; }
if ((status)) || [ "$(soname "$baseline")" != "$(soname "$current")" ]; then
  cat "$current.diff"
  if ((status)) && breaks; then
    echo "check-abi: the ABI changed incompatibly: move the version (the soname) and the baseline together" >&2
  else
    echo "check-abi: the ABI differs from $baseline: run scripts/check-abi.sh --update and commit the baseline" >&2
  fi
  rm -f "$current.diff"
  exit 1
fi
rm -f "$current.diff"
echo "check-abi: the ABI matches $baseline ($(soname "$current"))"
