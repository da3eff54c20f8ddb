#!/usr/bin/env python3
"""Usage: xmlhttp_wine_test.py path/to/xmlhttp_wine_test.exe (inside scripts/wine-env.sh)

Runs the program under Wine against a small HTTP server on a free loopback
port, and a second free port where nothing listens. /hold?id=X answers
"released X" once /release?id=X is asked for, or "unreleased X" after ms
milliseconds; /drop?id=X closes it unanswered; /state?id=X tells which
("none", "held", "answered", "dropped").
"""
import subprocess
import sys
import tempfile
import threading

import wine_testkit as kit

GBK_PAGE = "A啊B 中文\n".encode("gbk")
lock = threading.Lock()
seen_marks = set()
releases, hold_states, drops = {}, {}, set()  # id -> Event; id -> state; ids to drop


def hold(request, hold_id, limit_ms):
    with lock:
        release = releases.setdefault(hold_id, threading.Event())
        hold_states[hold_id] = "held"
    released = release.wait(limit_ms / 1000)
    with lock:
        dropped = hold_id in drops
        hold_states[hold_id] = "dropped" if dropped else "answered"
    text = ("released " if released else "unreleased ") + hold_id
    return kit.reset(request) if dropped else (200, text.encode(), "text/plain")


def end_hold(hold_id, drop):
    with lock:
        if drop:
            drops.add(hold_id)
        releases.setdefault(hold_id, threading.Event()).set()
    return 200, b"ok", "text/plain"


def route(request, path, query, body):
    arg = (query.get("id") or query.get("ids") or query.get("ms") or [""])[0]
    if path == "/echo":
        # The request as it arrived: method and target, headers as sent, a blank line, the body.
        lines = [f"{request.command} {request.path}"]
        lines += [f"{name}: {value}" for name, value in request.headers.items()]
        return 200, ("\n".join(lines) + "\n\n" + body.decode("latin-1")).encode("latin-1"), \
            "text/plain"
    if path.startswith("/status/"):
        status = int(path.rsplit("/", 1)[1])
        text = "页面不存在 404" if status == 404 else f"server error {status}"
        return status, text.encode("gbk"), "text/plain"
    if path == "/mark":
        with lock:
            seen_marks.add(arg)
        return 200, b"marked", "text/plain"
    if path == "/seen":
        with lock:
            found = [mark for mark in arg.split(",") if mark in seen_marks]
        return 200, ",".join(found).encode(), "text/plain"
    if path == "/hold":
        return hold(request, arg, int(query["ms"][0]))
    if path in ("/release", "/drop"):
        return end_hold(arg, path == "/drop")
    if path == "/state":
        with lock:
            return 200, hold_states.get(arg, "none").encode(), "text/plain"
    pages = {"/bytes": (bytes(range(256)), "application/octet-stream"),
             "/gbk": (GBK_PAGE, "text/plain; charset=gbk"),
             "/lonelead": (b"A\xb0", "application/octet-stream")}
    return (200, *pages[path]) if path in pages else (404, b"no such test page", "text/plain")


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    dead = f"http://127.0.0.1:{kit.free_port()}"
    # Output through a file: a wineserver started by the call would hold a pipe open.
    with tempfile.TemporaryFile() as out, kit.PageServer(route) as server:
        result = subprocess.run(["wine", sys.argv[1], server.url, dead], timeout=300, stdout=out)
        out.seek(0)
        output = out.read().decode("utf-8", "replace")
    print(output, end="", flush=True)
    # A program ended from outside may still exit with 0: it must have run to its summary.
    if result.returncode == 0 and not output.replace("\r", "").endswith("\n0 failed\n"):
        print("the test program ended before its summary")
        return 1
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
