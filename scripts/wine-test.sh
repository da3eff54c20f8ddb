#!/usr/bin/env bash
# Runs one Wine test apart from every other, so that tests run side by side:
#   - its own network namespace with only loopback up (unshare -n), so that
#     the update service of each test may listen on the port the build was
#     compiled to reach,
#   - its own Wine prefix, build/<folder>/wine-tests/NAME/prefix, a fresh copy
#     of the build folder's template (scripts/wine-prefix.sh), with one
#     wineserver kept up for the whole test,
#   - its own Xvfb,
# then the Wine environment of wine-env.sh. Every process the test leaves
# behind is ended afterwards. The test's output is also written to
# build/<folder>/wine-tests/NAME/output.log; that folder, with the prefix and
# whatever the test saved there, is kept when the test failed.
#
# A test that needs Wine's 32-bit half (WINEARCH=win32 or KORVANE_WINE32=1)
# exits with 77 (skipped) where the machine cannot run it.
# Where no network namespace can be made, the test runs without one; the
# build then runs such tests one at a time (RESOURCE_LOCK).
# Usage: wine-test.sh NAME command [args...]
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
name=$1
shift

if [[ ${WINEARCH:-} == win32 || ${KORVANE_WINE32:-} == 1 ]]; then
  if ! why=$("$root/scripts/setup.sh" --wine32); then
    echo "SKIP: 32-bit Wine tests: $why"
    exit 77
  fi
fi

if [[ -z ${KORVANE_NETNS:-} ]]; then
  if unshare -n true 2>/dev/null; then
    export KORVANE_NETNS=private
    exec unshare -n bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$name" "$@"
  fi
  export KORVANE_NETNS=shared
  echo "note: no network namespace of its own (unshare -n refused); ports are shared"
fi

build=${KORVANE_BUILD_DIR:?KORVANE_BUILD_DIR is not set}
work=$build/wine-tests/$name
# Every process started from here on carries this mark in its environment.
export KORVANE_TEST_WORK=$work

# end_processes: ends every process that carries this test's mark, but this
# shell: the programs with their wineserver, Xvfb, the update service and
# anything else the test left.
end_processes() {
  local pid pids=() stat deadline
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
  for pid in $(grep -lzxF "KORVANE_TEST_WORK=$work" /proc/[0-9]*/environ 2>/dev/null); do
    pid=${pid#/proc/}
    pid=${pid%/environ}
    ((pid == $$)) || pids+=("$pid")
  done
  ((${#pids[@]})) || return 0
  kill -TERM "${pids[@]}" 2>/dev/null
  # Until each has ended (or is a zombie, whose parent has ended too).
  deadline=$((SECONDS + 5))
  while ((SECONDS < deadline)); do
    for pid in "${pids[@]}"; do
      stat=
      read -r stat <"/proc/$pid/stat" 2>/dev/null
      stat=${stat##*) }
      [[ -n $stat && ${stat%% *} != Z ]] && break
      pid=
    done
    [[ -z $pid ]] && return 0
    sleep 0.1
  done
  kill -KILL "${pids[@]}" 2>/dev/null
}
trap 'end_processes; exit 143' TERM INT

# A run of this test that was cut short may have left processes behind.
end_processes
rm -rf "$work"
mkdir -p "$work" || exit 1
# The output goes to ctest and to the work folder, which outlives a failed
# run; tee is not one of the test's processes, so end_processes leaves it.
exec > >(env -u KORVANE_TEST_WORK tee "$work/output.log") 2>&1

# The test's own display and prefix (copied from the template by
# wine-env.sh); its wineserver stays up until the test ends. Wine's background
# programs (services.exe and the rest) start with the first program and live
# as long as the wineserver: a first program started here, with no standard
# streams, keeps them from holding open a pipe that the test reads.
unset DISPLAY
WINEPREFIX=$work/prefix "$root/scripts/wine-env.sh" bash -c \
  'wineserver -p && "$KORVANE_WINE" cmd /c exit </dev/null >/dev/null 2>&1; exec "$@"' \
  wine-test "$@"
rc=$?
end_processes
((rc == 0)) && rm -rf "$work"
exit $rc
