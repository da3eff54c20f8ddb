#!/usr/bin/env bash
# Usage: tools/update_service/bench_service.sh [SECONDS]  (each run, 5 s by default)
# Load benchmark of the update service on free loopback ports: wrk sends update
# requests (POST "uin=10001", a 555-byte answer) to the embedded server
# (waitress), gunicorn with 2 sync workers alone, nginx (the shipped site) in
# front of those with its cache off and on, and nginx serving the same answer as
# a file (the ceiling); each with 20 and 200 clients, keep-alive and a new
# connection per request; then nginx-cache while 10,000 idle connections are
# held open. Prints requests/s, p50, p99 and errors of each run. Run it on an
# idle machine, in a private network namespace if others use loopback ports:
#   unshare -n bash -c 'ip link set lo up && bench_service.sh'
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
seconds=${1:-5}
[[ "$seconds" =~ ^[0-9]+$ ]] && ((seconds >= 1 && seconds <= 60)) ||
  { echo "bench_service.sh: SECONDS must be 1 to 60" >&2; exit 2; }
idle_count=10000
update_path=/cgi-bin/custom/output_custom_window.cgi

for tool in wrk nginx; do
  command -v "$tool" >/dev/null || { echo "bench_service.sh: $tool is missing (scripts/setup.sh)" >&2; exit 2; }
done
# Debian's python3 has waitress and gunicorn (another python3 on the PATH may not).
python=/usr/bin/python3
"$python" -c 'import waitress, gunicorn' 2>/dev/null ||
  { echo "bench_service.sh: python3-waitress or python3-gunicorn is missing (scripts/setup.sh)" >&2; exit 2; }
# The idle connections, nginx's and wrk's, need descriptors.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
if (($(ulimit -n) < idle_count + 2000)); then
  idle_count=$(($(ulimit -n) - 2000))
  ((idle_count >= 100)) || { echo "bench_service.sh: the open-file limit ($(ulimit -n)) is too low" >&2; exit 2; }
  echo "bench_service.sh: the open-file limit ($(ulimit -n)) allows $idle_count idle connections" >&2
fi

work=$(mktemp -d)
pids=()
stop_all() {  # ends the processes this script started, newest first
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  pids=()
}
trap 'stop_all; rm -rf "$work"' EXIT

free_port() {
  "$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# wait_port PORT: waits (20 s at most) until something accepts on PORT.
wait_port() {
  local i
  for i in $(seq 200); do
    "$python" -c 'import socket, sys; sys.exit(socket.socket().connect_ex(("127.0.0.1", int(sys.argv[1]))))' "$1" &&
      return 0
    sleep 0.1
  done
  echo "bench_service.sh: nothing listens on port $1" >&2
  return 1
}

cat >"$work/post.lua" <<'EOF'
wrk.method = "POST"
wrk.body = "uin=10001"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
EOF

# Holds COUNT idle connections to 127.0.0.1:PORT for at most LIMIT seconds,
# opening again any that the server closes; prints "ready" once all are open.
cat >"$work/idle.py" <<'EOF'
import selectors, socket, sys, time
port, count, limit = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
end = time.monotonic() + limit
selector = selectors.DefaultSelector()
def open_one():
    while time.monotonic() < end:
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=2)
        except OSError:
            time.sleep(0.01)
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

# run LABEL CLIENTS WHAT URL [wrk options]: one wrk run, one line of figures.
run() {
  local label=$1 clients=$2 what=$3 url=$4; shift 4
  local out=$work/wrk.out
  wrk -t2 -c"$clients" -d"${seconds}s" --timeout 2s --latency "$@" "$url" >"$out" 2>&1 || true
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
      printf "%-14s %-26s %8d %7.0f %8s %8s %6s\n", label, what, total, rps, p50, p99, errors
    }' "$out"
}

# four LABEL URL [wrk options]: 20 and 200 clients, keep-alive and a connection a request.
four() {
  local label=$1 url=$2; shift 2
  wrk -t2 -c20 -d1s "$@" "$url" >/dev/null 2>&1 || true   # warm up
  for clients in 20 200; do run "$label" $clients "$clients keep-alive" "$url" "$@"; done
  for clients in 20 200; do
    run "$label" $clients "$clients new connections" "$url" "$@" -H "Connection: close"
  done
}

start_gunicorn() {  # start_gunicorn PORT
  "$python" -m gunicorn --chdir "$here" -w 2 -b "127.0.0.1:$1" --backlog 2048 \
    'update_service:create_app()' >/dev/null 2>"$work/gunicorn.err" &
  pids+=($!)
  wait_port "$1"
  for _ in $(seq 100); do   # both workers up
    (($(grep -c "Booting worker" "$work/gunicorn.err") >= 2)) && break
    sleep 0.1
  done
}

start_nginx() {  # start_nginx NAME PORT UPSTREAM [service_stack options]
  local name=$1 port=$2 upstream=$3; shift 3
  local prefix
  prefix=$("$python" "$here/service_stack.py" nginx-conf "$work/$name" "$port" "$upstream" \
    --workers "$(nproc)" --connections $((idle_count + 2000)) "$@")
  [[ ! -d "$prefix/static" ]] ||
    curl -s -d uin=10001 "http://$upstream$update_path" >"$prefix/static/answer.html"
  nginx -p "$prefix" -c "$prefix/nginx.conf" 2>/dev/null &
  pids+=($!)
  wait_port "$port"
}

echo "Update service on loopback: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo);"
echo "wrk -t2, ${seconds} s a run, POST uin=10001 (the static ceiling: GET of the same bytes);"
echo "latency p50/p99 of the answered requests; errors: socket errors, 2 s time-outs, non-2xx"
printf "%-14s %-26s %8s %7s %8s %8s %6s\n" server clients requests req/s p50 p99 errors

port=$(free_port)
"$python" "$here/update_service.py" --port "$port" --quiet >/dev/null 2>&1 &
pids+=($!)
wait_port "$port"
four embedded "http://127.0.0.1:$port$update_path" -s "$work/post.lua"
stop_all

upstream=$(free_port)
start_gunicorn "$upstream"
four gunicorn "http://127.0.0.1:$upstream$update_path" -s "$work/post.lua"

port=$(free_port)
start_nginx nocache "$port" "127.0.0.1:$upstream" --no-cache
four nginx-nocache "http://127.0.0.1:$port$update_path" -s "$work/post.lua"

port=$(free_port) static=$(free_port)
start_nginx cache "$port" "127.0.0.1:$upstream" --static-port "$static"
four nginx-cache "http://127.0.0.1:$port$update_path" -s "$work/post.lua"
four nginx-static "http://127.0.0.1:$static/answer.html"

"$python" "$work/idle.py" "$port" "$idle_count" $((seconds * 2 + 120)) >"$work/idle.out" &
pids+=($!)
for _ in $(seq 600); do
  grep -q ready "$work/idle.out" && break
  sleep 0.1
done
held=$(ss -tnH state established "sport = :$port" | wc -l)
for clients in 20 200; do
  run nginx-cache $clients "$clients + $held idle" "http://127.0.0.1:$port$update_path" -s "$work/post.lua"
done
stop_all
