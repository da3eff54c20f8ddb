#!/usr/bin/env bash
# Usage: bench_fetch.sh WIN64_BUILD_DIR [ROUNDS]  (a build whose update host is 127.0.0.1:PORT)
# CPU that a caller of Updates spends while the update service takes 3 s to
# answer: registers Update.dll in the build's Wine prefix, runs the reference
# service with --delay 3 on the update host, and runs detection_fetch_bench.exe,
# which prints the calling thread's CPU time in % of the wait (target: under 5 %).
set -euo pipefail

if (($# < 1)); then
  sed -n '2,6p' "$0" >&2
  exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "$1" && pwd)
rounds=${2:-3}

host=$(sed -n 's/^KORVANE_UPDATE_HOST:[A-Z]*=//p' "$build/CMakeCache.txt")
if [[ ! "$host" =~ ^127\.0\.0\.1:([0-9]+)$ ]]; then
  echo "bench_fetch.sh: the build's update host is '$host', not 127.0.0.1:PORT" >&2
  exit 2
fi
port=${BASH_REMATCH[1]}
for f in "$build/bin/Update.dll" "$build/testbin/detection_fetch_bench.exe"; do
  [[ -e "$f" ]] || { echo "bench_fetch.sh: $f is missing; build the folder first" >&2; exit 2; }
done

work=$(mktemp -d)
service_pid=
trap '[[ -z "$service_pid" ]] || kill "$service_pid" 2>/dev/null; rm -rf "$work"' EXIT

printf '%s\n' '{"10001": [{"title": "Korvane 1.0.1", "imgsrc": "http://127.0.0.1/Korvane-1.0.1.zip"}]}' \
  > "$work/entries.json"
python3 "$root/tools/update_service/update_service.py" --port "$port" \
  --entries "$work/entries.json" --delay 3 > "$work/service.log" 2>&1 &
service_pid=$!
for _ in $(seq 100); do
  grep -q 'listening on' "$work/service.log" && break
  kill -0 "$service_pid" 2>/dev/null || { cat "$work/service.log" >&2; exit 1; }
  sleep 0.1
done

KORVANE_BUILD_DIR=$build "$root/scripts/wine-env.sh" bash -c '
  cd "$KORVANE_BUILD_DIR/bin" &&
  "$KORVANE_WINE" regsvr32 /s Update.dll &&
  wine "$KORVANE_BUILD_DIR/testbin/detection_fetch_bench.exe" 10001 Korvane "$1"
' bench "$rounds" 2> >(grep -v setlocale >&2)
