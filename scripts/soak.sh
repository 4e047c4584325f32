#!/usr/bin/env bash
# `make soak`: the long fault loops that do not fit into `make test`, each
# ending with its figures, then one table.
#
#   KILLS=20           DataServer kills in the fault loop
#   CHURN_CYCLES=1000  connect/disconnect cycles in the churn run
#   FUZZ_SECONDS=900   seconds per fuzz target (0 leaves fuzzing out)
#
# Usage: scripts/soak.sh [BUILD_DIR]
set -uo pipefail

build_dir=$(cd "${1:-build}" && pwd)
bin="$build_dir/bin"
kills=${KILLS:-20}
cycles=${CHURN_CYCLES:-1000}
fuzz_seconds=${FUZZ_SECONDS:-900}
report=$(mktemp)
status=0

run() {
  local name=$1; shift
  echo "== soak: $name"
  local out
  out=$("$@" 2>&1); local rc=$?
  echo "$out" | tail -n 40
  local figures
  figures=$(echo "$out" | grep -E '^(fault loop|churn|fuzz[^:]*):' || true)
  [ -n "$figures" ] || figures="(no figures)"
  printf '%-12s %-6s %s\n' "$name" "$([ $rc -eq 0 ] && echo ok || echo FAIL)" "$figures" >> "$report"
  [ $rc -eq 0 ] || status=1
}

run "kill loop" env VARNHOLT_FAULT_KILLS="$kills" "$bin/test_dataserver_faults" --gtest_filter='*Killed*'
run "churn" env VARNHOLT_CHURN_CYCLES="$cycles" "$bin/test_hostile_peers_e2e" --gtest_filter='*Churn*'
if [ "$fuzz_seconds" -gt 0 ]; then
  run "fuzz" make -C "$(dirname "$0")/.." fuzz SECONDS="$fuzz_seconds"
fi

echo
echo "== soak summary"
cat "$report"
rm -f "$report"
exit $status
