#!/usr/bin/env bash
# CPU cost of the scrolling strip: runs Korvane.exe under Wine (and a
# private Xvfb when DISPLAY is unset) and prints the CPU time of the Korvane
# process and of the prefix's wineserver as a percentage of one core, first
# at the laid-out 150 ms interval, then at the fastest speed (the panel's
# speed slider at 100: 2 ms, raised by the platform to its timer minimum).
# Targets: at most 1 % together at 150 ms, at most 5 % at the fastest.
#
# Usage: app/bench_strip_cpu.sh BUILD_DIR [SECONDS]
#   BUILD_DIR  a win64 build folder (holds bin/Korvane.exe and the prefix)
#   SECONDS    measuring time, 30 by default
set -euo pipefail

if [[ $# -lt 1 ]]; then
  sed -n '2,10p' "$0" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=${2:-30}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Run inside the project's Wine environment.
if [[ -z "${KORVANE_BENCH_INNER:-}" ]]; then
  KORVANE_BENCH_INNER=1 KORVANE_BUILD_DIR=$build exec "$root/scripts/wine-env.sh" "$0" "$@"
fi

folder=$(mktemp -d /tmp/korvane-bench-XXXXXX)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$folder"' EXIT
cp "$build/bin/Korvane.exe" "$folder/"
: > "$folder/Update.dll"
printf '[Check]\r\nCheck1=1\r\n' > "$folder/test.ini"   # no browser on start

wineserver -k 2>/dev/null || true
# No registered library: the panel's load makes no update check.
for classes in 'HKLM\Software\Classes' 'HKCU\Software\Classes'; do
  wine reg delete "$classes\Quorvel.Detection" /f >/dev/null 2>&1 || true
  wine reg delete "$classes\CLSID\{9334BD7F-B81F-4D7D-8A99-2C31CD0A1765}" /f >/dev/null 2>&1 || true
done
(cd "$folder" && wine Korvane.exe >/dev/null 2>&1 &)

for _ in $(seq 100); do
  xdotool search --name '^Form1$' >/dev/null 2>&1 && break
  sleep 0.2
done
sleep 2  # let start-up settle

# The Korvane process of this prefix.
korvane_pid=
for p in /proc/[0-9]*; do
  [[ $(cat "$p/comm" 2>/dev/null) == Korvane.exe ]] || continue
  if tr '\0' '\n' < "$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
    korvane_pid=${p#/proc/}
    break
  fi
done
# This prefix's wineserver works in /tmp/.wine-UID/server-DEV-INODE of the prefix.
server_dir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
server_pid=
for p in /proc/[0-9]*; do
  [[ $(cat "$p/comm" 2>/dev/null) == wineserver* ]] || continue
  if [[ $(readlink "$p/cwd" 2>/dev/null) == */$server_dir ]]; then
    server_pid=${p#/proc/}
    break
  fi
done
if [[ -z "$korvane_pid" || -z "$server_pid" ]]; then
  echo "bench_strip_cpu: Korvane (${korvane_pid:-?}) or wineserver (${server_pid:-?}) not found" >&2
  exit 1
fi

ticks() {  # utime + stime of a process, in clock ticks
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}
hz=$(getconf CLK_TCK)

measure() {  # measure LABEL TARGET
  local k0 s0 t0 k1 s1 t1
  k0=$(ticks "$korvane_pid"); s0=$(ticks "$server_pid"); t0=$(date +%s.%N)
  sleep "$seconds"
  k1=$(ticks "$korvane_pid"); s1=$(ticks "$server_pid"); t1=$(date +%s.%N)
  awk -v k=$((k1 - k0)) -v s=$((s1 - s0)) -v hz="$hz" -v t0="$t0" -v t1="$t1" \
      -v label="$1" -v target="$2" 'BEGIN {
    wall = t1 - t0
    kp = 100 * k / hz / wall; sp = 100 * s / hz / wall
    printf "measured %.1f s %s\n", wall, label
    printf "  Korvane.exe  %5.2f %% of one core\n", kp
    printf "  wineserver   %5.2f %% of one core\n", sp
    printf "  together     %5.2f %% of one core", kp + sp
    if (target != "") printf " (target <= %s %%)", target
    printf "\n"
  }'
}

measure "at the laid-out 150 ms interval" 1

# The fastest speed: open the panel from the strip, then on its third tab
# put the speed slider at its end and press OK.
eval "$(xdotool search --name '^Form1$' getwindowgeometry --shell)"
xdotool mousemove $((X + WIDTH - 20)) $((Y + HEIGHT / 2)) click 3
panel=
for _ in $(seq 100); do
  panel=$(xdotool search --onlyvisible --name '^Korvanev1\.0$' 2>/dev/null | head -n 1) && [[ -n $panel ]] && break
  sleep 0.2
done
[[ -n $panel ]] || { echo "bench_strip_cpu: the panel did not open" >&2; exit 1; }
sleep 1
eval "$(xdotool getwindowgeometry --shell "$panel")"
px() { echo $(( $1 * 96 / 1440 )); }   # twips at the test prefix's 96 DPI
xdotool mousemove $((X + $(px 2220))) $((Y + $(px 150))) click 1   # tab "显示属性"
sleep 0.5
xdotool mousemove $((X + $(px 3727))) $((Y + $(px 907))) click 1   # Slider1
xdotool key End
sleep 0.3
speed=$(wine "$build/testbin/panel_probe.exe" value 113 2>/dev/null)
[[ $speed == 100 ]] || { echo "bench_strip_cpu: the speed slider stands at ${speed:-?}, not 100" >&2; exit 1; }
xdotool mousemove $((X + $(px 420))) $((Y + $(px 150))) click 1    # tab "文字设置"
sleep 0.5
xdotool mousemove $((X + $(px 6187))) $((Y + $(px 847))) click 1   # OK
sleep 3  # the panel hides; let the strip settle at its new speed

measure "at the fastest speed (slider 100, 2 ms)" 5

# The floor: the same program with scrolling paused (Pause on the panel).
eval "$(xdotool search --name '^Form1$' getwindowgeometry --shell)"
xdotool mousemove $((X + WIDTH - 20)) $((Y + HEIGHT / 2)) click 3
sleep 1
eval "$(xdotool getwindowgeometry --shell "$panel")"
xdotool mousemove $((X + $(px 7447))) $((Y + $(px 1147))) click 1   # Pause
sleep 2

measure "paused, for comparison" ""
