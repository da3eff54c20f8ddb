#!/usr/bin/env python3
"""Runs xmlhttp_wine_test.exe under Wine against a small HTTP server on
loopback, on a free port, and a second free port where nothing listens.

Besides fixed pages the server holds replies for the test: /hold?id=X
answers "released X" once /release?id=X has been asked for, or "unreleased
X" after its own limit of ms milliseconds, so that the test can tell a wait
that ended before the reply from one that got it; /state?id=X answers
"none", "held" or "answered".

Usage: xmlhttp_wine_test.py path/to/xmlhttp_wine_test.exe
Run it inside scripts/wine-env.sh (ctest does so).
"""
import http.server
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

GBK_PAGE = "A啊B 中文\n".encode("gbk")
seen_marks = set()
seen_lock = threading.Lock()
# id -> the event that releases its held reply; id -> "held" or "answered".
releases = {}
hold_states = {}


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        self.route()

    def do_POST(self):
        self.route()

    def reply(self, status, data, content_type="application/octet-stream"):
        try:
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up (time-out test)

    def route(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        length = int(self.headers.get("Content-Length", 0) or 0)
        body = self.rfile.read(length) if length else b""

        if url.path == "/echo":
            # The request as it arrived: method and target, headers with their
            # names as sent, a blank line, the body.
            lines = [f"{self.command} {self.path}"]
            lines += [f"{name}: {value}" for name, value in self.headers.items()]
            text = "\n".join(lines) + "\n\n" + body.decode("latin-1")
            self.reply(200, text.encode("latin-1"), "text/plain")
        elif url.path == "/bytes":
            self.reply(200, bytes(range(256)))
        elif url.path == "/gbk":
            self.reply(200, GBK_PAGE, "text/plain; charset=gbk")
        elif url.path == "/lonelead":
            self.reply(200, b"A\xb0")
        elif url.path.startswith("/status/"):
            status = int(url.path.rsplit("/", 1)[1])
            text = "页面不存在 404" if status == 404 else f"server error {status}"
            self.reply(status, text.encode("gbk"), "text/plain")
        elif url.path == "/mark":
            with seen_lock:
                seen_marks.add(query["id"][0])
            self.reply(200, b"marked", "text/plain")
        elif url.path == "/seen":
            wanted = query["ids"][0].split(",")
            with seen_lock:
                found = [mark for mark in wanted if mark in seen_marks]
            self.reply(200, ",".join(found).encode(), "text/plain")
        elif url.path == "/slow":
            ms = int(query["ms"][0])
            time.sleep(ms / 1000)
            self.reply(200, f"slept {ms}".encode(), "text/plain")
        elif url.path == "/hold":
            hold_id, limit_ms = query["id"][0], int(query["ms"][0])
            with seen_lock:
                release = releases.setdefault(hold_id, threading.Event())
                hold_states[hold_id] = "held"
            released = release.wait(limit_ms / 1000)
            with seen_lock:
                hold_states[hold_id] = "answered"
            text = ("released " if released else "unreleased ") + hold_id
            self.reply(200, text.encode(), "text/plain")
        elif url.path == "/release":
            with seen_lock:
                releases.setdefault(query["id"][0], threading.Event()).set()
            self.reply(200, b"ok", "text/plain")
        elif url.path == "/state":
            with seen_lock:
                state = hold_states.get(query["id"][0], "none")
            self.reply(200, state.encode(), "text/plain")
        else:
            self.reply(404, b"no such test page", "text/plain")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    live = f"http://127.0.0.1:{server.server_address[1]}"
    dead = f"http://127.0.0.1:{free_port()}"
    # Output through a file: a wineserver started by the call would hold a
    # pipe open after the program ends.
    with tempfile.TemporaryFile() as out:
        try:
            result = subprocess.run(["wine", sys.argv[1], live, dead], timeout=300, stdout=out)
        finally:
            server.shutdown()
        out.seek(0)
        output = out.read().decode("utf-8", "replace")
    print(output, end="", flush=True)
    # A program that was ended from outside may still exit with 0: the
    # test passes only when it ran to its summary.
    if result.returncode == 0 and not output.replace("\r", "").endswith("\n0 failed\n"):
        print("the test program ended before its summary")
        return 1
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
