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
from the environment). This script serves it with waitress (Debian
python3-waitress) for tests, scripts/run.sh and small publishers; in
production gunicorn serves it behind nginx (korvane-update.nginx.conf,
korvane-update.service):
  python3 -m gunicorn --chdir tools/update_service -w 2 -b 127.0.0.1:8080 \\
      'update_service:create_app("/srv/korvane/entries.json")'

Embedded server:
  update_service.py --port PORT [--host 127.0.0.1] [--entries FILE]
                    [--delay SECONDS] [--date TEXT] [--quiet]
                    [--read-timeout SECONDS] [--max-connections N]
                    [--backlog N] [--threads N]
Prints "listening on HOST:PORT" to standard output once ready (--port 0
picks a free port), then one line per request to standard error. SIGTERM
(or Ctrl-C) finishes the requests in flight, then exits.
"""

import argparse
import datetime
import json
import logging
import os
import queue
import re
import signal
import sys
import threading
import time
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
MAX_BODY = 4096         # body, bytes
REQUEST_LINE = re.compile(rb"[!#$%&'*+.^_`|~0-9A-Za-z-]+ [\x21-\xff]+ HTTP/[0-9]\.[0-9]")
SERVER_NAME = "KorvaneUpdateService/3.0"

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


def decode_entries(path, data):
    """The accounts of an entries file's bytes (UTF-8, with or without a BOM)."""
    try:
        document = json.loads(data.decode("utf-8-sig"))
    except UnicodeDecodeError as e:
        raise EntriesError(f"{path}: not UTF-8 ({e.reason} at byte {e.start})") from None
    except json.JSONDecodeError as e:
        raise EntriesError(f"{path}: {e}") from None
    return parse_entries(document)


def file_key(stat):
    return stat.st_size, stat.st_ino, stat.st_mtime_ns


def read_entries(path):
    """(accounts, key) of the entries file. The key (size, inode, modification
    time) is that of the bytes read, or None when the file changed while it
    was read or so recently that a further change could keep the same time
    stamp: the next request then reads it again."""
    with open(path, "rb") as f:
        before = os.fstat(f.fileno())
        data = f.read()
        after = os.fstat(f.fileno())
    key = file_key(after)
    if file_key(before) != key or time.time_ns() - after.st_mtime_ns < 1_000_000_000:
        key = None
    return decode_entries(path, data), key


def load_entries(path):
    return read_entries(path)[0]


def escape_link(link):
    """The link as a JavaScript string body, "/" and ":" written as \\x escapes."""
    return "".join(f"\\x{ord(c):02x}" if c in "/:" else c for c in link)


def update_page(account, entries):
    items = ",\n".join(
        "{\"title\":'%s',\"imgsrc\":'%s',\"w\":240,\"h\":60}" % (e["title"], escape_link(e["imgsrc"]))
        for e in entries)
    uin = account if account.isascii() and account.isdigit() else ""
    return ("<html>\n<head><meta http-equiv=\"Content-Type\" content=\"%s\"></head>\n"
            "<body>\n<script type=\"text/javascript\">\n"
            "var custom_window = {\"uin\":'%s',\"items\":[\n%s\n]};\n"
            "</script>\n</body>\n</html>\n" % (CONTENT_TYPE, uin, items))


def today_text():
    d = datetime.date.today()
    return f"{d.year}年{d.month}月{d.day}日 星期{WEEKDAYS[d.weekday()]}"


def next_midnight():
    """The next local midnight, in seconds since the epoch: when the date page can change."""
    tomorrow = datetime.date.today() + datetime.timedelta(days=1)
    return int(datetime.datetime.combine(tomorrow, datetime.time()).timestamp())


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
        self.accounts, self.key = read_entries(path)

    def get(self, account):
        with self.lock:
            try:
                key = file_key(os.stat(self.path))
                if key != self.key:
                    try:
                        self.accounts, self.key = read_entries(self.path)
                    except EntriesError:
                        self.key = key   # one line for a broken version, not one a request
                        raise
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
            if path == DATE_PATH:
                text = date_page(self.date_text or today_text())
                # A caching proxy (nginx) may keep the date page until it can
                # change; clients are still told not to cache.
                extra = [("X-Accel-Expires", f"@{next_midnight()}")]
            else:
                text = PUBLISHER_PAGE
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
        data = stream.read(MAX_BODY + 1)   # no length given: read up to the cap
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


# --- The embedded server (waitress) -----------------------------------------

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


def escape(text, limit=200):
    """Text from a client as one printable line: control characters, quotes,
    backslashes and everything outside printable ASCII as escapes."""
    if isinstance(text, bytes):
        text = text.decode("latin-1")
    text = text[:limit]
    return "".join(c if " " <= c <= "~" and c not in "\"\\" else
                   f"\\x{ord(c):02x}" if ord(c) < 0x100 else f"\\u{ord(c):04x}"
                   for c in text)


class LogHandler(logging.Handler):
    """Waitress's own messages (limits reached, errors) as single escaped
    lines in the request log; never a traceback."""

    def __init__(self, log):
        super().__init__(logging.INFO)
        self.log = log

    def emit(self, record):
        try:
            message = record.getMessage()
        except Exception:
            message = str(record.msg)
        if record.exc_info and record.exc_info[1] is not None:
            message += f" ({type(record.exc_info[1]).__name__})"
        self.log.write(f"update_service: {escape(message, 500)}\n")


def waitress_server(app, host, port, *, read_timeout, max_connections, backlog, threads,
                    log, log_requests):
    """A waitress server for `app`, bound and listening, set up for clients
    on the internet: poll() instead of select(), the caps of this service,
    time-outs and limits from the options, and one log line per request."""
    from waitress.adjustments import Adjustments
    from waitress.channel import HTTPChannel
    from waitress.parser import HTTPRequestParser, ParsingError, TransferEncodingNotImplemented
    from waitress.utilities import BadRequest, find_double_newline
    from waitress.server import TcpWSGIServer
    from waitress.task import ErrorTask, WSGITask

    class Parser(HTTPRequestParser):
        head = b""   # the start of the head as received, for the log

        def received(self, data):
            if self.body_rcv is None and not self.completed:
                head = self.header_plus + data
                self.head = head[:256]
                # A head that ends in bare line feeds never has the blank
                # line waitress waits for: refuse it instead of waiting.
                end = find_double_newline(head)
                bare = head.find(b"\n\n")
                if bare >= 0 and (end < 0 or bare < end):
                    HTTPRequestParser.parse_header(self, b"GET / HTTP/1.0\r\n")
                    self.error = BadRequest("bare line feed in the head")
                    self.completed = True
                    return len(data)
            return super().received(data)

        def parse_header(self, header_plus):
            # Waitress lets a few malformed requests escape as other errors
            # (a Content-Length of thousands of digits, a target urlsplit
            # refuses) or passes them on (a request line that is not
            # METHOD TARGET HTTP/x.y): answer them 400 like any other.
            try:
                super().parse_header(header_plus)
            except (ParsingError, TransferEncodingNotImplemented):
                raise
            except Exception as e:
                raise ParsingError(f"malformed request ({type(e).__name__})") from None
            if not REQUEST_LINE.fullmatch(self.first_line):
                raise ParsingError("malformed request line")

    class LoggedTask:
        def service(self):
            started = time.monotonic()
            try:
                super().service()
            finally:
                if log_requests:
                    self.log_line(time.monotonic() - started)

        def log_line(self, seconds):
            request = self.request
            # The request line as received: for an error, the parser may not
            # have got as far as reading it.
            line = request.head.split(b"\n", 1)[0].rstrip(b"\r") or b"-"
            now = time.time()
            stamp = time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(now))
            log.write(f"{stamp}.{int(now * 1000) % 1000:03d} {self.channel.addr[0]} "
                      f"\"{escape(line)}\" {self.status[:3]} {seconds * 1000:.1f}ms\n")

    class Task(LoggedTask, WSGITask):
        def build_response_header(self):
            # One request a connection. Update.dll sends one request on each
            # connection it opens, and waitress, given a couple of hundred
            # keep-alive clients, answers them far slower than it accepts
            # new connections (its poll loop falls behind): closing after
            # each answer keeps every client served.
            if not any(name.lower() == "connection" for name, _ in self.response_headers):
                self.response_headers.append(("Connection", "close"))
            self.close_on_finish = True
            return super().build_response_header()

    class Error(LoggedTask, ErrorTask):
        pass

    class Channel(HTTPChannel):
        parser_class = Parser
        task_class = Task
        error_task_class = Error

    class Server(TcpWSGIServer):
        channel_class = Channel

    adj = Adjustments(
        host=host, port=port, threads=threads, backlog=backlog, ident=SERVER_NAME,
        # The map holds the listening socket and the trigger besides the clients.
        connection_limit=max_connections + 2,
        channel_timeout=read_timeout, cleanup_interval=max(0.1, min(1.0, read_timeout / 4)),
        max_request_header_size=MAX_HEAD + 1, max_request_body_size=MAX_BODY + 1,
        asyncore_use_poll=True, log_socket_errors=False, expose_tracebacks=False)
    return Server(app, adj=adj, sockinfo=adj.listen[0])


def run_until_stopped(server, grace):
    """Serves until SIGTERM or SIGINT; then stops accepting, closes idle
    connections, lets the requests in flight finish (`grace` seconds at most)
    and returns."""
    from waitress import wasyncore
    from waitress.channel import HTTPChannel

    stopping = threading.Event()

    def stop(signum, frame):
        stopping.set()
        server.pull_trigger()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    while not stopping.is_set():
        wasyncore.loop(timeout=1.0, map=server._map, use_poll=True, count=1)

    server.accepting = False
    server.del_channel()
    server.socket.close()
    deadline = time.monotonic() + grace
    while time.monotonic() < deadline:
        channels = [c for c in list(server._map.values()) if isinstance(c, HTTPChannel)]
        if not channels:
            break
        for channel in channels:
            # An idle connection is closed now; one with a request in
            # flight once its answer has been sent.
            if not (channel.requests or channel.total_outbufs_len or channel.will_close):
                channel.will_close = True
        wasyncore.loop(timeout=0.05, map=server._map, use_poll=True, count=1)
    server.task_dispatcher.shutdown(timeout=1)


def system_python_with_waitress():
    """Debian's python3, when this interpreter (another installation, such
    as pyenv's) lacks python3-waitress and that one has it."""
    for python in ("/usr/bin/python3",):
        if os.path.realpath(python) != os.path.realpath(sys.executable) and os.access(
                python, os.X_OK) and os.path.isdir("/usr/lib/python3/dist-packages/waitress"):
            return python
    return None


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
        import waitress  # noqa: F401
    except ImportError:
        python = system_python_with_waitress()
        if python and argv is None:
            os.execv(python, [python, os.path.abspath(__file__), *sys.argv[1:]])
        print("update_service: waitress is missing (Debian: python3-waitress)", file=sys.stderr)
        return 2
    try:
        app = create_app(args.entries, max(args.delay, 0.0), args.date)
    except (OSError, EntriesError, UnicodeEncodeError) as e:
        print(f"update_service: {e}", file=sys.stderr)
        return 2
    log = RequestLog(sys.stderr)
    app.entries.warn = lambda message: log.write(f"update_service: {escape(message, 500)}\n")
    waitress_log = logging.getLogger("waitress")
    waitress_log.addHandler(LogHandler(log))
    waitress_log.setLevel(logging.WARNING)
    waitress_log.propagate = False
    max_connections = max(1, min(args.max_connections,
                                 raise_descriptor_limit(args.max_connections + 64) - 64))
    try:
        server = waitress_server(
            app, args.host, args.port, read_timeout=max(args.read_timeout, 0.1),
            max_connections=max_connections, backlog=max(args.backlog, 1),
            threads=max(args.threads, 1), log=log, log_requests=not args.quiet)
    except (OSError, ValueError) as e:
        print(f"update_service: cannot listen on {args.host}:{args.port}: {e}", file=sys.stderr)
        return 2
    host, port = server.getsockname()[:2]
    print(f"listening on {host}:{port}", flush=True)
    run_until_stopped(server, grace=max(args.read_timeout, 0.1) + max(args.delay, 0.0))
    return 0


if __name__ == "__main__":
    sys.exit(main())
