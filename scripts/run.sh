#!/usr/bin/env bash
# Builds Korvane (x86_64) and runs it under Wine, with the reference update
# service answering on loopback. With no display, it runs on a private Xvfb,
# saves a screenshot after a few seconds and stops.
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
if [[ -z "${DISPLAY:-}" ]]; then
  headless=1
  for n in $(seq 60 69); do
    [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
    break
  done
fi

service=$root/tools/update_service/update_service.py
if [[ -f "$service" ]]; then
  python3 "$service" --port 18080 --entries "$root/tools/update_service/entries.example.json" \
    >"$root/build/update-service.log" 2>&1 &
  service_pid=$!
fi

cd "$build/bin"
if ((headless)); then
  "$root/scripts/wine-env.sh" wine Korvane.exe &
  sleep 8
  import -window root "$shot"
  echo "No display: Korvane ran on a private X server. Screenshot: $shot"
else
  "$root/scripts/wine-env.sh" wine Korvane.exe
fi
