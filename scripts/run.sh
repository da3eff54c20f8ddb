#!/usr/bin/env bash
# Builds Korvane (x86_64) and runs it under Wine, with the reference update
# service answering on loopback and publishing a newer demo version: the
# strip scrolls, and at the caption's first wrap (about 11 s) the control
# panel loads and the update notice appears.
#
# With no display, it runs on a private Xvfb: it waits until the strip
# ("Form1") shows its caption and the notice ("新版本提示") is on screen,
# saves a screenshot of that and stops. If they do not appear within
# KORVANE_RUN_TIMEOUT seconds (default 300; the first start also makes the
# Wine prefix), it says what is missing, saves what the screen showed and
# exits with 1.
# Usage: run.sh [SCREENSHOT]   (default build/korvane-screenshot.png)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" win64

build=$root/build/win64
shot=${1:-$root/build/korvane-screenshot.png}
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
limit=${KORVANE_RUN_TIMEOUT:-300}

service_pid= service_log=
cleanup() {
  wineserver -k 2>/dev/null || true
  [[ -n "$service_pid" ]] && kill "$service_pid" 2>/dev/null || true
  [[ -n "$service_log" ]] && rm -f "$service_log"
  stop_xvfb
}
trap cleanup EXIT

headless=0
[[ -n "${DISPLAY:-}" ]] || headless=1
source "$root/scripts/xvfb.sh"
start_xvfb

service=$root/tools/update_service
service_log=$(mktemp)
python3 "$service/update_service.py" --port 18080 --entries "$service/entries.example.json" \
  >"$service_log" 2>&1 &
service_pid=$!
until grep -q "listening on" "$service_log"; do
  if ! kill -0 "$service_pid" 2>/dev/null; then
    echo "The update service did not start:" >&2
    cat "$service_log" >&2
    exit 1
  fi
  sleep 0.1
done

cd "$build/bin"
if ((!headless)); then
  "$root/scripts/wine-env.sh" wine Korvane.exe
  exit
fi

"$root/scripts/wine-env.sh" wine Korvane.exe >/dev/null 2>&1 &
korvane_pid=$!

# Each X client gets at most 10 s, so that the deadline holds whatever the
# server does.
# window_with_title TITLE: the id of a mapped window with exactly that title.
# (xdotool's own pattern never matches a Chinese title.)
window_with_title() {
  local wid
  for wid in $(timeout 10 xdotool search --onlyvisible --name . 2>/dev/null); do
    [[ $(timeout 10 xdotool getwindowname "$wid" 2>/dev/null) == "$1" ]] &&
      { echo "$wid"; return 0; }
  done
  return 1
}

# ink_width WINDOW SHOT: the width in pixels of what is drawn in the window's
# rectangle of the screenshot: the rectangle trimmed of the colour of its
# corner (1 when it is all one colour).
ink_width() {
  eval "$(timeout 10 xdotool getwindowgeometry --shell "$1" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  timeout 10 convert "$2" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -trim -format %w info: 2>/dev/null ||
    echo 0
}

probe=$(mktemp --suffix=.png)
started=$SECONDS
deadline=$((SECONDS + limit))
missing=
while :; do
  strip=$(window_with_title Form1 || true)
  notice=$(window_with_title 新版本提示 || true)
  missing=
  if [[ -z $strip ]]; then
    missing="the strip (window Form1) is not on screen"
  elif [[ -z $notice ]]; then
    missing="the update notice (window 新版本提示) is not on screen"
  else
    # The caption re-enters from the right edge when the notice appears:
    # wait until a few characters of it are in view.
    timeout 10 import -window root "$probe" || true
    if (($(ink_width "$strip" "$probe") < 48)); then
      missing="the strip shows no caption"
    elif (($(ink_width "$notice" "$probe") < 2)); then
      missing="the update notice is blank"
    else
      break
    fi
  fi
  if ! kill -0 "$korvane_pid" 2>/dev/null; then
    missing+="; Korvane has ended"
    break
  fi
  ((SECONDS < deadline)) || break
  sleep 0.5
done

mkdir -p "$(dirname "$shot")"
if [[ -z $missing ]]; then
  mv "$probe" "$shot"
  eval "$(timeout 10 xdotool getwindowgeometry --shell "$strip" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  echo "The strip is at ${WIDTH}x${HEIGHT}+${X}+${Y}; it and the notice showed after" \
       "$((SECONDS - started)) s."
  echo "No display: Korvane ran on a private X server. Screenshot: $shot"
  exit 0
fi
timeout 10 import -window root "$shot" 2>/dev/null || true
rm -f "$probe"
echo "run.sh: after $((SECONDS - started)) s, $missing. What the screen showed: $shot" >&2
exit 1
