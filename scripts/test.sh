#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests (with sanitizers),
# bounded fuzz runs, then the integration tests under Wine.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" || exit 1
"$root/scripts/build.sh" native fuzz win64 win32 || exit 1

source "$root/scripts/xvfb.sh"
start_xvfb 70 89
cleanup() {
  WINEPREFIX=$root/build/win64/wineprefix wineserver -k 2>/dev/null
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

passed=0 failed=0 status=0
run_ctest() {
  local dir=$1; shift
  echo "== tests in build/$dir"
  local log
  log=$(mktemp)
  ctest --test-dir "$root/build/$dir" --output-on-failure "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local total fails
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  fails=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
  if [[ -z "$total" ]]; then
    total=0 fails=0
    if grep -q 'No tests were found' "$log"; then :; else fails=1; fi
  fi
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  ((rc == 0)) || status=1
  rm -f "$log"
}

run_ctest native -j2
run_ctest fuzz
run_ctest win64

echo
echo "$passed passed, $failed failed"
exit $status
