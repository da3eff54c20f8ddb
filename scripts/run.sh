#!/usr/bin/env bash
# Builds Korvane (x86_64) and runs it under Wine, with the reference update
# service answering on loopback and publishing a newer demo version: the
# strip scrolls, and at the caption's first wrap (about 11 s) the control
# panel loads and the update notice appears. With no display, it runs on a
# private Xvfb, saves a screenshot once the notice is up and stops.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" win64

build=$root/build/win64
shot=$root/build/korvane-screenshot.png

service_pid= xvfb_pid=
cleanup() {
  WINEPREFIX=$build/wineprefix wineserver -k 2>/dev/null || true
  [[ -n "$service_pid" ]] && kill "$service_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

headless=0
[[ -n "${DISPLAY:-}" ]] || headless=1
source "$root/scripts/xvfb.sh"
start_xvfb 60 69

service=$root/tools/update_service
python3 "$service/update_service.py" --port 18080 --entries "$service/entries.example.json" \
  >"$root/build/update-service.log" 2>&1 &
service_pid=$!

cd "$build/bin"
if ((headless)); then
  "$root/scripts/wine-env.sh" wine Korvane.exe &
  sleep 15
  import -window root "$shot"
  echo "No display: Korvane ran on a private X server. Screenshot: $shot"
else
  "$root/scripts/wine-env.sh" wine Korvane.exe
fi
