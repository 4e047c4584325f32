#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang 14 (AddressSanitizer and
# UBSan) and runs each for a while on a copy of its seed corpus.
#
#   scripts/fuzz.sh [build dir] [seconds per target] [jobs]
#
# Prints, per target, the executions and the size of the corpus it ended
# with; fails when a target crashed (its input is left in <build dir>/artifacts).
# New inputs stay in <build dir>/corpus/<target>; merge the useful ones into
# the tree with: <build dir>/bin/<target> -merge=1 fuzz/corpus/<target> <build dir>/corpus/<target>
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-build-fuzz}"
SECONDS_EACH="${2:-60}"
JOBS="${3:-$(nproc)}"
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac

bash "$ROOT/scripts/install-deps.sh" fuzz
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNHOLT_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$BUILD" -j "$JOBS"

failed=()
summary=()
for seeds in "$ROOT"/fuzz/corpus/*/; do
  target="$(basename "$seeds")"
  binary="$BUILD/bin/$target"
  [ -x "$binary" ] || { echo "fuzz: no binary for $target" >&2; failed+=("$target"); continue; }
  corpus="$BUILD/corpus/$target"
  artifacts="$BUILD/artifacts/$target"
  rm -rf "$corpus"
  mkdir -p "$corpus" "$artifacts"
  cp "$seeds"* "$corpus/"
  log="$BUILD/fuzz-$target.log"
  echo "== $target: ${SECONDS_EACH}s"
  status=0
  "$binary" -max_total_time="$SECONDS_EACH" -print_final_stats=1 -timeout=30 \
    -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1 || status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  files="$(find "$corpus" -type f | wc -l)"
  bytes="$(du -sb "$corpus" | cut -f1)"
  line="$(printf '%-26s %12s executions  corpus %5d files %9d bytes' "$target" "${runs:-?}" "$files" "$bytes")"
  if [ "$status" -ne 0 ]; then
    line="$line  CRASHED (exit $status, see $log)"
    failed+=("$target")
    grep -E '^(==[0-9]+==ERROR|SUMMARY|FUZZ_CHECK|artifact_prefix|Test unit written)' "$log" | head -n 8 || true
  fi
  echo "$line"
  summary+=("$line")
done

echo
echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
