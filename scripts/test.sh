#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests (with sanitizers),
# bounded fuzz runs, then the integration tests under Wine; where the machine
# runs i386 code, also the 32-bit Wine tests (start-up, strip, library and
# the shipped installer), else one line saying why they were skipped.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" || exit 1
"$root/scripts/build.sh" native fuzz win64 win32 || exit 1

source "$root/scripts/xvfb.sh"
start_xvfb 70 89
cleanup() {
  WINEPREFIX=$root/build/win64/wineprefix wineserver -k 2>/dev/null
  WINEPREFIX=$root/build/win32/wineprefix wineserver -k 2>/dev/null
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
  # No tests found counts as a failure: a selection that matches nothing
  # would otherwise pass without testing anything.
  if [[ -z "$total" ]]; then
    echo "no tests found in build/$dir"
    total=1 fails=1
  fi
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  ((rc == 0 && fails == 0)) || status=1
  rm -f "$log"
}

# Once wine32 is installed, a prefix made before it cannot start any program:
# such a prefix (one without the stamp) is made again.
fresh_prefix() {  # fresh_prefix BUILD_FOLDER WINEARCH
  local prefix=$root/build/$1/wineprefix
  [[ $(dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null) == "install ok installed" ]] || return 0
  [[ -e $prefix/korvane-wine32.stamp ]] && return 0
  echo "== making the Wine prefix of build/$1"
  WINEPREFIX=$prefix wineserver -k 2>/dev/null
  rm -rf "$prefix"
  KORVANE_BUILD_DIR=$root/build/$1 WINEARCH=$2 "$root/scripts/wine-env.sh" true &&
    touch "$prefix/korvane-wine32.stamp"
}

run_ctest native -j2
run_ctest fuzz
fresh_prefix win64 win64
run_ctest win64 -LE wine32

if why=$("$root/scripts/setup.sh" --wine32); then
  fresh_prefix win32 win32
  run_ctest win32 -R '^(import_check|startup_wine_test|strip_wine_test|detection_wine|xmlhttp_wine_test)$'
  run_ctest win64 -L wine32
else
  echo "32-bit Wine tests skipped: $why"
fi

echo
echo "$passed passed, $failed failed"
exit $status
