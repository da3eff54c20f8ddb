#!/usr/bin/env python3
"""Reference update service and date page for Korvane's Update library.

Serves, in GBK like the pages the library reads:
  POST /cgi-bin/custom/output_custom_window.cgi  body "uin=<account>"
       the account's update entries, as a page the update check parses;
  GET  /            the date page: <span class="STYLE1">Y年M月D日 星期X</span>;
  GET  any other    a small publisher page.

Usage:
  update_service.py --port PORT [--host 127.0.0.1] [--entries FILE]
                    [--delay SECONDS] [--date TEXT]
Prints "listening on HOST:PORT" once ready (--port 0 picks a free port).
Standard library only.
"""

import argparse
import datetime
import http.server
import json
import os
import sys
import threading
import time
import urllib.parse

UPDATE_PATH = "/cgi-bin/custom/output_custom_window.cgi"
ENCODING = "gbk"
CONTENT_TYPE = "text/html; charset=gbk"
DEFAULT_ENTRIES = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                               "entries.example.json")
WEEKDAYS = "一二三四五六日"


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


class EntriesSource:
    """The entries file, read again whenever it changes; a broken edit keeps the last good one."""

    def __init__(self, path):
        self.path = path
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
                print(f"update_service: keeping the previous entries: {e}", file=sys.stderr)
            return self.accounts.get(account, [])


def make_handler(entries, delay, date_text):
    class Handler(http.server.BaseHTTPRequestHandler):
        server_version = "KorvaneUpdateService/1.0"

        def send_page(self, status, text):
            body = text.encode(ENCODING)
            self.send_response(status)
            self.send_header("Content-Type", CONTENT_TYPE)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-cache")
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)

        def do_GET(self):
            time.sleep(delay)
            path = urllib.parse.urlsplit(self.path).path
            if path == "/":
                self.send_page(200, date_page(date_text or today_text()))
            else:
                self.send_page(200, PUBLISHER_PAGE)

        do_HEAD = do_GET

        def do_POST(self):
            time.sleep(delay)
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length).decode("latin-1") if length > 0 else ""
            if urllib.parse.urlsplit(self.path).path != UPDATE_PATH:
                self.send_page(404, "<html><body>404 Not Found</body></html>\n")
                return
            account = urllib.parse.parse_qs(body).get("uin", [""])[0]
            self.send_page(200, update_page(account, entries.get(account)))

    return Handler


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
    args = parser.parse_args(argv)

    try:
        entries = EntriesSource(args.entries)
        if args.date is not None:
            args.date.encode(ENCODING)
    except (OSError, EntriesError, UnicodeEncodeError) as e:
        print(f"update_service: {e}", file=sys.stderr)
        return 2

    server = http.server.ThreadingHTTPServer(
        (args.host, args.port), make_handler(entries, max(args.delay, 0.0), args.date))
    server.daemon_threads = True
    host, port = server.server_address[:2]
    print(f"listening on {host}:{port}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
