#!/usr/bin/env bash
# Load benchmark of the reference update service, on loopback only.
# For the embedded server (update_service.py) and for the same application
# under gunicorn with 2 sync workers, wrk sends update requests (POST
# "uin=10001", the example entries) for a fixed time and this prints
# requests per second, p50 and p99 latency and the errors (socket errors,
# time-outs of 2 s and non-2xx answers) for:
#   - 20 and 200 clients on keep-alive connections,
#   - 20 clients opening a new connection per request,
#   - 20 and 200 clients while 500 idle connections are held open (a
#     connection the service closes is opened again).
#
# Usage: tools/update_service/bench_service.sh [SECONDS]
#   SECONDS  length of each run, 5 by default (ten runs in all)
# Ports: any free ones, or KORVANE_BENCH_PORT and the one after it.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
seconds=${1:-5}
[[ "$seconds" =~ ^[0-9]+$ ]] && ((seconds >= 1 && seconds <= 60)) ||
  { echo "bench_service.sh: SECONDS must be 1 to 60" >&2; exit 2; }
idle_count=500
base_port=${KORVANE_BENCH_PORT:-0}

command -v wrk >/dev/null || { echo "bench_service.sh: wrk is missing (scripts/setup.sh)" >&2; exit 2; }
# The interpreters themselves (not a wrapper such as pyenv's), so that
# ending a process started here ends the server.
python=$(python3 -c 'import sys; print(sys.executable)')
gunicorn_python=
for p in "$python" /usr/bin/python3; do
  if "$p" -c 'import gunicorn' 2>/dev/null; then gunicorn_python=$p; break; fi
done
[[ -n "$gunicorn_python" ]] ||
  { echo "bench_service.sh: python3-gunicorn is missing (scripts/setup.sh)" >&2; exit 2; }

work=$(mktemp -d)
server_pid= idle_pid=
stop() {  # stop PID: ends a process this script started and waits for it
  [[ -n "$1" ]] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  stop "$idle_pid"
  stop "$server_pid"
  rm -rf "$work"
}
trap cleanup EXIT

cat >"$work/post.lua" <<'EOF'
wrk.method = "POST"
wrk.body = "uin=10001"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
EOF

# Holds COUNT idle connections to HOST:PORT for at most LIMIT seconds,
# opening again any that the server closes; prints "ready" once all are open.
cat >"$work/idle.py" <<'EOF'
import selectors, socket, sys, time
host, port, count, limit = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
end = time.monotonic() + limit
selector = selectors.DefaultSelector()
def open_one():
    while time.monotonic() < end:
        try:
            s = socket.create_connection((host, port), timeout=2)
        except OSError:
            time.sleep(0.05)
            continue
        s.setblocking(False)
        selector.register(s, selectors.EVENT_READ)
        return
for _ in range(count):
    open_one()
print("ready", flush=True)
while time.monotonic() < end:
    for key, _ in selector.select(0.5):
        try:
            data = key.fileobj.recv(4096)
        except BlockingIOError:
            continue
        except OSError:
            data = b""
        if not data:
            selector.unregister(key.fileobj)
            key.fileobj.close()
            open_one()
EOF

# wait_for FILE TEXT: waits (10 s at most) until FILE holds TEXT.
wait_for() {
  for _ in $(seq 100); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "bench_service.sh: no '$2' in $1:" >&2
  cat "$1" >&2
  return 1
}

port() {  # port INDEX: the port of the INDEXth server, 0 for any free one
  if ((base_port)); then echo $((base_port + $1)); else echo 0; fi
}

start_embedded() {
  "$python" "$here/update_service.py" --port "$(port 0)" >"$work/server.out" 2>/dev/null &
  server_pid=$!
  wait_for "$work/server.out" "listening on"
  address=$(sed -n 's/^listening on //p' "$work/server.out")
}

start_gunicorn() {
  "$gunicorn_python" -m gunicorn --chdir "$here" -w 2 -b "127.0.0.1:$(port 1)" \
    --access-logfile /dev/null 'update_service:create_app()' >/dev/null 2>"$work/server.err" &
  server_pid=$!
  wait_for "$work/server.err" "Listening at: http://"
  wait_for "$work/server.err" "Booting worker"
  address=$(sed -n 's|.*Listening at: http://\([^ ]*\) .*|\1|p' "$work/server.err" | head -n 1)
  sleep 1   # both workers up
}

# run LABEL CLIENTS WHAT [wrk options]: one wrk run, one line of figures.
run() {
  local label=$1 clients=$2 what=$3; shift 3
  local out=$work/wrk.out
  wrk -t2 -c"$clients" -d"${seconds}s" --timeout 2s --latency -s "$work/post.lua" "$@" \
    "http://$address/cgi-bin/custom/output_custom_window.cgi" >"$out" 2>&1 || true
  awk -v label="$label" -v what="$what" '
    /Requests\/sec:/ { rps = $2 }
    / requests in / { total = $1 }
    /^ +50%/ { p50 = $2 }
    /^ +99%/ { p99 = $2 }
    /Socket errors:/ { gsub(",", ""); errors += $4 + $6 + $8 + $10 }
    /Non-2xx or 3xx responses:/ { errors += $5 }
    END {
      errors += 0
      if (total == 0) { p50 = "-"; p99 = "-"; errors = "all" }
      printf "%-10s %-28s %8d %7.0f %8s %8s %6s\n", label, what, total, rps, p50, p99, errors
    }' "$out"
}

with_idle() {  # with_idle LABEL CLIENTS: run LABEL CLIENTS while idle connections are held
  local host=${address%:*} p=${address##*:}
  "$python" "$work/idle.py" "$host" "$p" "$idle_count" $((seconds + 30)) >"$work/idle.out" &
  idle_pid=$!
  wait_for "$work/idle.out" ready
  run "$1" "$2" "$2 + $idle_count idle"
  stop "$idle_pid"
  idle_pid=
}

echo "Update service on loopback, $(nproc) cores; wrk -t2, ${seconds} s a run, POST uin=10001;"
echo "latency p50/p99 of the answered requests; errors: socket errors, 2 s time-outs, non-2xx"
printf "%-10s %-28s %8s %7s %8s %8s %6s\n" server clients requests req/s p50 p99 errors
for server in embedded gunicorn; do
  if [[ $server == embedded ]]; then start_embedded; label=embedded; else start_gunicorn; label="gunicorn-2"; fi
  run "$label" 20 20
  run "$label" 200 200
  run "$label" 20 "20, a connection a request" -H "Connection: close"
  with_idle "$label" 20
  with_idle "$label" 200
  stop "$server_pid"
  server_pid=
done
