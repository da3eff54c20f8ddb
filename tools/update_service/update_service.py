#!/usr/bin/env python3
"""Reference update service and date page for Korvane's Update library.

Answers two requests, in GBK like the pages the library reads:
  POST /cgi-bin/custom/output_custom_window.cgi  body "uin=<account>"
       the account's update entries, as a page the update check parses;
  GET  /            the date page: <span class="STYLE1">Y年M月D日 星期X</span>;
and, for development builds whose publisher page points here,
  GET  /publisher   a small publisher page.
Any other path is 404, another method on these paths 405 (HEAD is GET
without the body).

The service is a WSGI application (create_app, or `application` configured
from the environment) served either by the embedded server below (the
default, standard library only) or by any WSGI server such as gunicorn:
  python3 -m gunicorn --chdir tools/update_service -w 2 -b 127.0.0.1:8080 \\
      'update_service:create_app("/srv/korvane/entries.json")'

Embedded server:
  update_service.py --port PORT [--host 127.0.0.1] [--entries FILE]
                    [--delay SECONDS] [--date TEXT] [--quiet]
                    [--read-timeout SECONDS] [--max-connections N]
                    [--backlog N] [--threads N]
Prints "listening on HOST:PORT" to standard output once ready (--port 0
picks a free port), then one line per request to standard error.
"""

import argparse
import asyncio
import concurrent.futures
import datetime
import email.utils
import io
import json
import os
import queue
import socket
import sys
import threading
import time
import traceback
import urllib.parse

UPDATE_PATH = "/cgi-bin/custom/output_custom_window.cgi"
DATE_PATH = "/"
PUBLISHER_PATH = "/publisher"
ENCODING = "gbk"
CONTENT_TYPE = "text/html; charset=gbk"
DEFAULT_ENTRIES = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                               "entries.example.json")
WEEKDAYS = "一二三四五六日"

# Caps of one request. The update request's body is "uin=" and an account
# number; the largest head a browser sends stays well under 8 KiB.
MAX_HEAD = 8192         # request line and headers, bytes
MAX_HEADERS = 100       # header lines
MAX_BODY = 4096         # body, bytes
SERVER_NAME = "KorvaneUpdateService/2.0"

class EntriesError(ValueError):
    pass


def parse_entries(data):
    """Checks the entries document: {account: [{"title": .., "imgsrc": ..}, ..]}."""
    if not isinstance(data, dict):
        raise EntriesError("the top level must be an object of accounts")
    accounts = {}
    for account, entries in data.items():
        if not isinstance(entries, list):
            raise EntriesError(f"account {account}: entries must be a list")
        checked = []
        for index, entry in enumerate(entries):
            where = f"account {account}, entry {index}"
            if not isinstance(entry, dict) or not isinstance(entry.get("title"), str):
                raise EntriesError(f"{where}: needs a text \"title\"")
            title = entry["title"]
            link = entry.get("imgsrc", "")
            if not isinstance(link, str):
                raise EntriesError(f"{where}: \"imgsrc\" must be a text")
            # The client reads the title up to the first apostrophe and splits
            # its reply at "|"; a backslash in the link would be decoded twice.
            for name, value, banned in (("title", title, "'|\\\r\n"),
                                        ("imgsrc", link, "'|\\\r\n")):
                bad = [c for c in banned if c in value]
                if bad:
                    raise EntriesError(f"{where}: {name} must not contain {bad[0]!r}")
                try:
                    value.encode(ENCODING)
                except UnicodeEncodeError:
                    raise EntriesError(f"{where}: {name} is not representable in GBK")
            checked.append({"title": title, "imgsrc": link})
        accounts[str(account)] = checked
    return accounts


def load_entries(path):
    with open(path, encoding="utf-8") as f:
        try:
            data = json.load(f)
        except json.JSONDecodeError as e:
            raise EntriesError(f"{path}: {e}") from None
    return parse_entries(data)


def escape_link(link):
    """The link as a JavaScript string body, "/" and ":" written as \\x escapes."""
    return "".join(f"\\x{ord(c):02x}" if c in "/:" else c for c in link)


def update_page(account, entries):
    items = ",\n".join(
        "{\"title\":'%s',\"imgsrc\":'%s',\"w\":240,\"h\":60}" % (e["title"], escape_link(e["imgsrc"]))
        for e in entries)
    uin = account if account.isdigit() else ""
    return ("<html>\n<head><meta http-equiv=\"Content-Type\" content=\"%s\"></head>\n"
            "<body>\n<script type=\"text/javascript\">\n"
            "var custom_window = {\"uin\":'%s',\"items\":[\n%s\n]};\n"
            "</script>\n</body>\n</html>\n" % (CONTENT_TYPE, uin, items))


def today_text():
    d = datetime.date.today()
    return f"{d.year}年{d.month}月{d.day}日 星期{WEEKDAYS[d.weekday()]}"


def date_page(text):
    return ("<html>\n<head><meta http-equiv=\"Content-Type\" content=\"%s\">\n"
            "<style>.STYLE1 {color: #c00000; font-size: 12px}</style></head>\n"
            "<body><span class=\"STYLE1\">%s</span></body>\n</html>\n"
            % (CONTENT_TYPE, text))


PUBLISHER_PAGE = ("<html>\n<head><meta http-equiv=\"Content-Type\" content=\"%s\">"
                  "<title>Korvane</title></head>\n"
                  "<body><h1>Korvane</h1><p>欢迎使用 Korvane 滚动字幕。</p></body>\n</html>\n"
                  % CONTENT_TYPE)


def warn(message):
    print(f"update_service: {message}", file=sys.stderr, flush=True)


class EntriesSource:
    """The entries file, read again whenever it changes; a broken edit keeps the last good one."""

    def __init__(self, path, warn=warn):
        self.path = path
        self.warn = warn
        self.lock = threading.Lock()
        self.mtime = os.stat(path).st_mtime_ns
        self.accounts = load_entries(path)

    def get(self, account):
        with self.lock:
            try:
                mtime = os.stat(self.path).st_mtime_ns
                if mtime != self.mtime:
                    self.mtime = mtime
                    self.accounts = load_entries(self.path)
            except (OSError, EntriesError) as e:
                self.warn(f"keeping the previous entries: {e}")
            return self.accounts.get(account, [])


# --- The application (WSGI) -------------------------------------------------

ROUTES = {DATE_PATH: ("GET", "HEAD"), PUBLISHER_PATH: ("GET", "HEAD"), UPDATE_PATH: ("POST",)}
STATUS_TEXT = {200: "OK", 400: "Bad Request", 404: "Not Found", 405: "Method Not Allowed",
               408: "Request Timeout", 413: "Content Too Large",
               431: "Request Header Fields Too Large", 500: "Internal Server Error",
               501: "Not Implemented", 505: "HTTP Version Not Supported"}


def error_page(status):
    return f"<html><body>{status} {STATUS_TEXT[status]}</body></html>\n"


class UpdateApp:
    """The service as a WSGI application. Stateless but for the entries file,
    which every process serving it reads (and reads again when it changes)."""

    def __init__(self, entries, delay=0.0, date_text=None):
        self.entries = entries
        self.delay = max(delay, 0.0)
        self.date_text = date_text

    def __call__(self, environ, start_response):
        method = environ["REQUEST_METHOD"]
        path = environ.get("PATH_INFO") or "/"
        allowed = ROUTES.get(path)
        extra = []
        if allowed is None:
            status, text = 404, error_page(404)
        elif method not in allowed:
            status, text = 405, error_page(405)
            extra = [("Allow", ", ".join(allowed))]
        elif method == "POST":
            body = self.read_body(environ)
            if body is None:
                status, text = 413, error_page(413)
            else:
                self.wait()
                account = urllib.parse.parse_qs(body.decode("latin-1")).get("uin", [""])[0]
                status, text = 200, update_page(account, self.entries.get(account))
        else:
            self.wait()
            status = 200
            text = (date_page(self.date_text or today_text()) if path == DATE_PATH
                    else PUBLISHER_PAGE)
        data = text.encode(ENCODING)
        start_response(f"{status} {STATUS_TEXT[status]}",
                       [("Content-Type", CONTENT_TYPE), ("Content-Length", str(len(data))),
                        ("Cache-Control", "no-cache"), *extra])
        return [b""] if method == "HEAD" else [data]

    def wait(self):
        if self.delay:
            time.sleep(self.delay)

    @staticmethod
    def read_body(environ):
        """The request body, or None when it exceeds MAX_BODY."""
        stream = environ.get("wsgi.input")
        try:
            length = int(environ.get("CONTENT_LENGTH") or -1)
        except ValueError:
            length = -1
        if length > MAX_BODY:
            return None
        if stream is None or length == 0:
            return b""
        if length > 0:
            return stream.read(length)
        data = stream.read(MAX_BODY + 1)   # no length given (chunked): read up to the cap
        return None if len(data) > MAX_BODY else data


def create_app(entries=DEFAULT_ENTRIES, delay=0.0, date=None):
    """The WSGI application answering from the entries file `entries`; `date`
    replaces today's date on the date page. Raises on an invalid file."""
    if date is not None:
        date.encode(ENCODING)
    return UpdateApp(EntriesSource(entries), float(delay), date)


def __getattr__(name):
    # `update_service:application` for WSGI servers, configured by the
    # environment: KORVANE_UPDATE_ENTRIES (the entries file) and
    # KORVANE_UPDATE_DATE (a fixed date text). Built on first use.
    if name == "application":
        app = create_app(os.environ.get("KORVANE_UPDATE_ENTRIES") or DEFAULT_ENTRIES,
                         date=os.environ.get("KORVANE_UPDATE_DATE"))
        globals()["application"] = app
        return app
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


# --- The embedded server ----------------------------------------------------

class RequestLog:
    """One line per request to a stream, written by a thread of its own, so
    that a stream nobody reads never stalls the service: past `capacity`
    waiting lines, further lines are counted and dropped."""

    def __init__(self, stream, capacity=10000):
        self.stream = stream
        self.lines = queue.Queue(capacity)
        self.dropped = 0
        threading.Thread(target=self.run, name="request-log", daemon=True).start()

    def write(self, line):
        try:
            if self.dropped:
                self.lines.put_nowait(f"update_service: {self.dropped} log lines dropped\n")
                self.dropped = 0
            self.lines.put_nowait(line)
        except queue.Full:
            self.dropped += 1

    def run(self):
        while True:
            lines = [self.lines.get()]
            try:
                while len(lines) < 512:
                    lines.append(self.lines.get_nowait())
            except queue.Empty:
                pass
            try:
                self.stream.write("".join(lines))
                self.stream.flush()
            except (OSError, ValueError):
                pass


class Request:
    __slots__ = ("method", "target", "version", "headers", "body", "keep_alive", "started")


class HttpError(Exception):
    def __init__(self, status):
        super().__init__(status)
        self.status = status


def parse_head(head):
    """A Request from the bytes before the blank line; raises HttpError."""
    lines = head.decode("latin-1").split("\n")
    parts = lines[0].rstrip("\r").split(" ")
    if len(parts) != 3 or not parts[0].isalpha() or not parts[1]:
        raise HttpError(400)
    request = Request()
    request.method, request.target, request.version = parts
    if not request.version.startswith("HTTP/1."):
        raise HttpError(505 if request.version.startswith("HTTP/") else 400)
    if len(lines) - 1 > MAX_HEADERS:
        raise HttpError(431)
    headers = {}
    for line in lines[1:]:
        line = line.rstrip("\r")
        name, colon, value = line.partition(":")
        if not colon or not name or name != name.strip():
            raise HttpError(400)
        name = name.lower()
        value = value.strip(" \t")
        headers[name] = headers[name] + ", " + value if name in headers else value
    request.headers = headers
    connection = headers.get("connection", "").lower()
    if request.version == "HTTP/1.0":
        request.keep_alive = "keep-alive" in connection
    else:
        request.keep_alive = "close" not in connection
    return request


def find_head_end(buffer, start=0):
    """(end of the head, start of the body) in buffer, searched from start, or None."""
    crlf = buffer.find(b"\r\n\r\n", start)
    lf = buffer.find(b"\n\n", start)
    if lf >= 0 and (crlf < 0 or lf < crlf):
        return lf, lf + 2
    if crlf >= 0:
        return crlf, crlf + 4
    return None


class Clock:
    """The Date header, formatted once a second."""

    def __init__(self):
        self.second = None
        self.text = ""

    def date(self):
        now = int(time.time())
        if now != self.second:
            self.second = now
            self.text = email.utils.formatdate(now, usegmt=True)
        return self.text


READING, BUSY, LINGERING = range(3)


class Connection(asyncio.Protocol):
    """One client connection. Reading and parsing happen here, on the event
    loop, so that idle and slow clients hold no thread; a complete request
    goes to the server's thread pool, one at a time per connection."""

    def __init__(self, server):
        self.server = server
        self.transport = None
        self.client = "-"
        self.buffer = bytearray()
        self.scanned = 0      # bytes of the buffer known to hold no end of a head
        self.state = READING
        self.deadline = 0.0
        self.continued = False
        self.peer_closed = False
        self.write_paused = False
        self.closed = False

    def connection_made(self, transport):
        self.transport = transport
        peer = transport.get_extra_info("peername")
        if peer:
            self.client = peer[0]
        self.deadline = time.monotonic() + self.server.read_timeout
        self.server.connections.add(self)

    def connection_lost(self, exc):
        self.closed = True
        self.server.connection_closed(self)

    def data_received(self, data):
        if self.state == LINGERING:
            return
        self.buffer += data
        if self.state == READING:
            self.process()

    def eof_received(self):
        self.peer_closed = True
        if self.state == BUSY:
            return True      # answer, then close
        return False

    def pause_writing(self):
        self.write_paused = True
        self.transport.pause_reading()

    def resume_writing(self):
        self.write_paused = False
        if self.state == READING:
            self.transport.resume_reading()

    def expired(self, now):
        return (self.state != BUSY or self.write_paused) and now > self.deadline

    def process(self):
        """Starts the request in the buffer once it is complete."""
        buffer = self.buffer
        if buffer[:1] in (b"\r", b"\n"):   # empty lines before a request are ignored
            del buffer[:len(buffer) - len(buffer.lstrip(b"\r\n"))]
            self.scanned = 0
        end = find_head_end(buffer, self.scanned)
        if end is None:
            if len(buffer) > MAX_HEAD:
                self.refuse(431, None)
            self.scanned = max(0, len(buffer) - 3)
            return
        head_end, body_start = end
        if head_end > MAX_HEAD:
            self.refuse(431, None)
            return
        started = time.monotonic()
        try:
            request = parse_head(bytes(buffer[:head_end]))
        except HttpError as e:
            self.refuse(e.status, None)
            return
        headers = request.headers
        if "transfer-encoding" in headers:
            self.refuse(501, request)
            return
        length = headers.get("content-length", "0")
        if not length.isdigit():
            self.refuse(400, request)
            return
        length = int(length)
        if length > MAX_BODY:
            self.refuse(413, request)
            return
        if len(buffer) < body_start + length:
            if (not self.continued and headers.get("expect", "").lower() == "100-continue"
                    and request.version == "HTTP/1.1"):
                self.continued = True
                self.transport.write(b"HTTP/1.1 100 Continue\r\n\r\n")
            return
        request.body = bytes(buffer[body_start:body_start + length])
        request.started = started
        del buffer[:body_start + length]
        self.scanned = 0
        self.continued = False
        self.state = BUSY
        self.transport.pause_reading()
        self.server.dispatch(self, request)

    def respond(self, request, status, headers, body):
        """Writes the application's answer (on the event loop)."""
        if self.closed:
            return
        keep_alive = request.keep_alive and not self.peer_closed and self.server.running
        self.write(request, status, headers, body, keep_alive)
        if not keep_alive:
            self.transport.close()
            return
        self.state = READING
        self.deadline = time.monotonic() + self.server.read_timeout
        if not self.write_paused:
            self.transport.resume_reading()
        if self.buffer:
            self.process()

    def write(self, request, status, headers, body, keep_alive):
        names = set()
        lines = [f"HTTP/1.1 {status}\r\nServer: {SERVER_NAME}\r\n"
                 f"Date: {self.server.clock.date()}\r\n"]
        for name, value in headers:
            names.add(name.lower())
            lines.append(f"{name}: {value}\r\n")
        if "content-length" not in names:
            lines.append(f"Content-Length: {len(body)}\r\n")
        if not keep_alive:
            lines.append("Connection: close\r\n")
        elif request.version == "HTTP/1.0":
            lines.append("Connection: keep-alive\r\n")
        lines.append("\r\n")
        head = "".join(lines).encode("latin-1")
        self.transport.write(head + body if request.method != "HEAD" else head)
        self.server.log(self.client, request, status, time.monotonic() - request.started)

    def refuse(self, status, request):
        """Answers an error at once and closes, reading on for a moment so
        that the client sees the answer rather than a reset."""
        if request is None:
            request = Request()
            line = bytes(self.buffer[:200]).split(b"\n", 1)[0].decode("latin-1").split(" ")
            request.method, request.target = (line + ["-", "-"])[:2]
            request.version, request.keep_alive = "HTTP/1.1", False
        request.started = time.monotonic()
        body = error_page(status).encode(ENCODING)
        self.write(request, f"{status} {STATUS_TEXT[status]}",
                   [("Content-Type", CONTENT_TYPE)], body, False)
        self.state = LINGERING
        self.buffer.clear()
        self.deadline = time.monotonic() + 2.0
        if self.transport.can_write_eof():
            self.transport.write_eof()
        else:
            self.transport.close()


class Server:
    """The embedded server: an event loop that accepts at most
    `max_connections` connections (the rest wait in the listen backlog),
    reads requests without a thread per client, drops a client that has not
    sent a whole request within `read_timeout` seconds, and runs the
    application in a pool of `threads` threads."""

    def __init__(self, app, sock, *, read_timeout=10.0, max_connections=1000,
                 threads=32, log=None):
        self.app = app
        self.sock = sock
        self.read_timeout = read_timeout
        self.max_connections = max_connections
        self.pool = concurrent.futures.ThreadPoolExecutor(threads, "update-service")
        self.request_log = log
        self.clock = Clock()
        self.connections = set()
        self.open = 0
        self.accepting = False
        self.running = True
        self.loop = None
        host, port = sock.getsockname()[:2]
        self.base_environ = {
            "SERVER_NAME": host, "SERVER_PORT": str(port), "SCRIPT_NAME": "",
            "wsgi.version": (1, 0), "wsgi.url_scheme": "http", "wsgi.errors": sys.stderr,
            "wsgi.multithread": True, "wsgi.multiprocess": False, "wsgi.run_once": False,
        }

    async def serve(self):
        self.loop = asyncio.get_running_loop()
        self.sock.setblocking(False)
        self.start_accepting()
        self.sweep()
        await asyncio.Event().wait()

    def start_accepting(self):
        if not self.accepting:
            self.accepting = True
            self.loop.add_reader(self.sock, self.accept)

    def stop_accepting(self):
        if self.accepting:
            self.accepting = False
            self.loop.remove_reader(self.sock)

    def accept(self):
        while self.open < self.max_connections:
            try:
                conn, _ = self.sock.accept()
            except (BlockingIOError, InterruptedError):
                return
            except ConnectionAbortedError:
                continue
            except OSError:   # out of descriptors: try again shortly
                self.stop_accepting()
                self.loop.call_later(0.1, self.start_accepting)
                return
            conn.setblocking(False)
            self.open += 1
            self.loop.create_task(self.start_connection(conn))
        self.stop_accepting()

    async def start_connection(self, conn):
        try:
            await self.loop.connect_accepted_socket(lambda: Connection(self), conn)
        except OSError:
            conn.close()
            self.connection_closed(None)

    def connection_closed(self, connection):
        self.connections.discard(connection)
        self.open -= 1
        if self.open < self.max_connections and self.running:
            self.start_accepting()

    def sweep(self):
        now = time.monotonic()
        for connection in [c for c in self.connections if c.expired(now)]:
            connection.transport.abort()
        self.loop.call_later(min(1.0, self.read_timeout / 4), self.sweep)

    def dispatch(self, connection, request):
        environ = dict(self.base_environ)
        target = request.target
        if "://" in target:
            target = urllib.parse.urlsplit(target)._replace(scheme="", netloc="").geturl()
        path, _, query = target.partition("?")
        environ["REQUEST_METHOD"] = request.method
        environ["PATH_INFO"] = urllib.parse.unquote(path, "latin-1")
        environ["QUERY_STRING"] = query
        environ["SERVER_PROTOCOL"] = request.version
        environ["REMOTE_ADDR"] = connection.client
        environ["wsgi.input"] = io.BytesIO(request.body)
        for name, value in request.headers.items():
            key = name.upper().replace("-", "_")
            if key not in ("CONTENT_TYPE", "CONTENT_LENGTH"):
                key = "HTTP_" + key
            environ[key] = value
        future = self.loop.run_in_executor(self.pool, self.call_app, environ)
        future.add_done_callback(
            lambda done: connection.respond(request, *done.result()))

    def call_app(self, environ):
        """(status, headers, body) from the application, in a pool thread."""
        answer = []
        chunks = []

        def start_response(status, headers, exc_info=None):
            answer[:] = [status, headers]
            return chunks.append

        try:
            result = self.app(environ, start_response)
            try:
                chunks.extend(result)
            finally:
                if hasattr(result, "close"):
                    result.close()
            return answer[0], answer[1], b"".join(chunks)
        except Exception:
            if self.request_log:
                self.request_log.write("update_service: " + traceback.format_exc())
            body = error_page(500).encode(ENCODING)
            return "500 Internal Server Error", [("Content-Type", CONTENT_TYPE)], body

    def log(self, client, request, status, seconds):
        if self.request_log:
            now = time.time()
            stamp = time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(now))
            self.request_log.write(
                f"{stamp}.{int(now * 1000) % 1000:03d} {client} \"{request.method} "
                f"{request.target[:200]} {request.version}\" {status[:3]} "
                f"{seconds * 1000:.1f}ms\n")


def listening_socket(host, port, backlog):
    family = socket.getaddrinfo(host, port, type=socket.SOCK_STREAM)[0][0]
    return socket.create_server((host, port), family=family, backlog=backlog)


def raise_descriptor_limit(wanted):
    """Raises the soft limit of open files towards `wanted`; returns the limit."""
    try:
        import resource
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        if soft != resource.RLIM_INFINITY and soft < wanted:
            new = wanted if hard == resource.RLIM_INFINITY else min(wanted, hard)
            resource.setrlimit(resource.RLIMIT_NOFILE, (new, hard))
            soft = new
        return soft
    except (ImportError, ValueError, OSError):
        return wanted


def main(argv=None):
    parser = argparse.ArgumentParser(description="Korvane reference update service")
    parser.add_argument("--port", type=int, required=True, help="port (0: any free port)")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--entries", default=DEFAULT_ENTRIES,
                        help="entries file (JSON); default: entries.example.json beside this script")
    parser.add_argument("--delay", type=float, default=0.0,
                        help="seconds to wait before every answer")
    parser.add_argument("--date", help="date text of the date page, written as given, "
                        "instead of today's date")
    parser.add_argument("--quiet", action="store_true", help="no line per request")
    parser.add_argument("--read-timeout", type=float, default=10.0,
                        help="seconds a client has to send a whole request (default 10)")
    parser.add_argument("--max-connections", type=int, default=1000,
                        help="connections in service at once; more wait in the backlog")
    parser.add_argument("--backlog", type=int, default=512, help="listen backlog")
    parser.add_argument("--threads", type=int, default=32,
                        help="threads running the application")
    args = parser.parse_args(argv)

    try:
        app = create_app(args.entries, max(args.delay, 0.0), args.date)
    except (OSError, EntriesError, UnicodeEncodeError) as e:
        print(f"update_service: {e}", file=sys.stderr)
        return 2
    try:
        sock = listening_socket(args.host, args.port, max(args.backlog, 1))
    except OSError as e:
        print(f"update_service: cannot listen on {args.host}:{args.port}: {e}", file=sys.stderr)
        return 2
    max_connections = max(1, min(args.max_connections,
                                 raise_descriptor_limit(args.max_connections + 64) - 64))
    log = None if args.quiet else RequestLog(sys.stderr)
    if log:
        app.entries.warn = lambda message: log.write(f"update_service: {message}\n")
    server = Server(app, sock, read_timeout=max(args.read_timeout, 0.1),
                    max_connections=max_connections, threads=max(args.threads, 1), log=log)
    host, port = sock.getsockname()[:2]
    print(f"listening on {host}:{port}", flush=True)
    try:
        asyncio.run(server.serve())
    except KeyboardInterrupt:
        pass
    finally:
        sock.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
