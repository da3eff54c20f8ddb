#!/usr/bin/env python3
"""The reference update service under the embedded server (waitress): pages,
log, entries file; hostile requests against it and against nginx in front of
gunicorn; the shipped nginx site's cache. Needs python3-waitress,
python3-gunicorn, nginx and ss (iproute2)."""

import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import service_stack as stack  # noqa: E402  (puts testing/ on the path)
import wine_testkit as kit  # noqa: E402

SERVICE = os.path.join(HERE, "update_service.py")
UPDATE_PATH = "/cgi-bin/custom/output_custom_window.cgi"
DATE = "2013年5月8日 星期三"
ENTRIES = {
    "10001": [{"title": "Korvane 1.0.1", "imgsrc": "http://example.com/k/Korvane.zip"},
              {"title": "Korvane 2.0.0", "imgsrc": "http://example.com/old"}],
    "20002": [{"title": "科瓦 1.2.0", "imgsrc": ""}],
}

# The pages, written out by hand.
def page(uin, items=""):
    return ("<html>\n<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
            "</head>\n<body>\n<script type=\"text/javascript\">\n"
            "var custom_window = {\"uin\":'%s',\"items\":[\n%s\n]};\n</script>\n</body>\n"
            "</html>\n" % (uin, items)).encode("gbk")


PAGE_10001 = page("10001", "{\"title\":'Korvane 1.0.1',\"imgsrc\":'http\\x3a\\x2f\\x2fexample.com"
                  "\\x2fk\\x2fKorvane.zip',\"w\":240,\"h\":60},\n{\"title\":'Korvane 2.0.0',"
                  "\"imgsrc\":'http\\x3a\\x2f\\x2fexample.com\\x2fold',\"w\":240,\"h\":60}")
PAGE_20002 = page("20002", "{\"title\":'科瓦 1.2.0',\"imgsrc\":'',\"w\":240,\"h\":60}")
PAGE_30003 = page("30003", "{\"title\":'Korvane 3.0.0',\"imgsrc\":'',\"w\":240,\"h\":60}")


DATE_PAGE = ("<html>\n<head><meta http-equiv=\"Content-Type\" content=\"text/html; "
             "charset=gbk\">\n<style>.STYLE1 {color: #c00000; font-size: 12px}</style></head>\n"
             "<body><span class=\"STYLE1\">2013年5月8日 星期三</span></body>\n</html>\n"
             ).encode("gbk")


def write_entries(path, entries, prefix=b""):
    with open(path, "wb") as f:
        f.write(prefix + json.dumps(entries, ensure_ascii=False).encode("utf-8"))


def entries_folder():  # a temporary folder holding entries.json with ENTRIES
    folder = tempfile.TemporaryDirectory()
    write_entries(os.path.join(folder.name, "entries.json"), ENTRIES)
    return folder, os.path.join(folder.name, "entries.json")


def read_until_closed(s):  # (bytes read, whether the peer closed) at its close or time-out
    chunks = []
    try:
        while data := s.recv(65536):
            chunks.append(data)
    except ConnectionResetError:
        pass
    except socket.timeout:
        return b"".join(chunks), False
    return b"".join(chunks), True


def update_request(body=b"uin=10001", extra=b""):
    return (b"POST " + UPDATE_PATH.encode() + b" HTTP/1.1\r\nHost: x\r\n"
            b"Content-Length: %d\r\n" % len(body) + extra + b"\r\n" + body)


def split_answer(answer):  # (status, headers text, body) of the first answer in `answer`
    head, _, body = answer.partition(b"\r\n\r\n")
    match = re.match(rb"HTTP/1\.[01] (\d{3})", head)
    return (int(match.group(1)) if match else None), head.decode("latin-1"), body


def statuses(answer):  # the status of every answer in a stream of answers
    return [int(s) for s in re.findall(rb"(?:^|\r\n)HTTP/1\.[01] (\d{3}) ", answer)]


class Address:
    def __init__(self, port):
        self.port = port

    def connect(self, timeout=5):
        return socket.create_connection(("127.0.0.1", self.port), timeout=timeout)

    def exchange(self, data, timeout=5):  # raw bytes sent, then read until the server closes
        with self.connect(timeout) as s:
            s.sendall(data)
            return read_until_closed(s)[0]

    def request(self, method, path, body=None, timeout=5):  # (status, headers, body); own socket
        head = f"{method} {path} HTTP/1.1\r\nHost: update.example.com\r\nConnection: close\r\n"
        if body is not None:
            head += f"Content-Length: {len(body)}\r\n"
        return split_answer(self.exchange(head.encode() + b"\r\n" + (body or b""), timeout))

    def post(self, account, timeout=5):
        return self.request("POST", UPDATE_PATH, f"uin={account}".encode(), timeout)


class Service(Address):
    """The embedded server on a free port, its standard error in a file."""

    def __init__(self, *args, stderr=None):
        self.own_err_file = stderr is None
        self.err_file = stderr or tempfile.TemporaryFile("w+", encoding="utf-8")
        self.process = subprocess.Popen([sys.executable, SERVICE, "--port", "0", *args],
                                        stdout=subprocess.PIPE, stderr=self.err_file, text=True)
        line = self.process.stdout.readline().strip()
        if not line.startswith("listening on "):
            self.stop()
            raise RuntimeError(f"service did not start: {line!r}\n{self.stderr()}")
        super().__init__(int(line.rpartition(":")[2]))

    def stderr(self):
        self.err_file.flush()
        self.err_file.seek(0)
        return self.err_file.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process.stdout.close()
        if self.process.stderr:
            self.process.stderr.close()
        if self.own_err_file:
            self.err_file.close()


class EmbeddedService:
    """One embedded server for a test class, started with OPTIONS."""

    @classmethod
    def setUpClass(cls):
        cls.folder, cls.entries = entries_folder()
        cls.service = cls.address = Service("--entries", cls.entries, *cls.OPTIONS)

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        cls.folder.cleanup()

    def stderr(self):
        return self.service.stderr()


class EmbeddedServerTest(EmbeddedService, unittest.TestCase):
    OPTIONS = ("--date", DATE)

    def test_pages(self):
        status, headers, body = self.service.post("10001")
        self.assertEqual((status, body), (200, PAGE_10001))
        self.assertIn("Content-Type: text/html; charset=gbk", headers)
        self.assertEqual(self.service.post("20002")[2], PAGE_20002)
        self.assertEqual(self.service.post("99999")[2], page("99999"))
        self.assertEqual(self.service.request("GET", "/")[::2], (200, DATE_PAGE))
        status, _, body = self.service.request("GET", "/publisher")
        self.assertEqual(status, 200)
        self.assertIn(b"Korvane", body)
        self.assertEqual(self.service.request("HEAD", "/")[::2], (200, b""))

    def test_404_and_405(self):
        for method, path, body, status in [("GET", "/other", None, 404),
                                           ("POST", UPDATE_PATH + "/x", b"uin=1", 404),
                                           ("POST", "/", b"uin=1", 405),
                                           ("DELETE", "/", None, 405)]:
            self.assertEqual(self.service.request(method, path, body)[0], status, (method, path))
        status, headers, _ = self.service.request("GET", UPDATE_PATH)
        self.assertEqual(status, 405)
        self.assertIn("Allow: POST", headers)

    def test_one_escaped_log_line_per_request(self):
        self.service.exchange(b"GET /log-me?\x1b[31m\xe4\xbd\xa0\" HTTP/1.1\r\nHost: x\r\n"
                              b"Connection: close\r\n\r\n")
        lines = kit.wait_until(lambda: [line for line in self.service.stderr().splitlines()
                                        if "/log-me" in line], 5) or []
        self.assertEqual(len(lines), 1, lines)
        self.assertRegex(lines[0], r'^\d{4}-\d\d-\d\dT[\d:.]+ 127\.0\.0\.1 '
                                   r'"GET /log-me\?\\x1b\[31m\\xe4\\xbd\\xa0\\x22 HTTP/1\.1" '
                                   r'400 [\d.]+ms$')

    def test_caps_are_answered_at_once(self):
        # A body announced beyond 4 KiB is refused before it is sent; a head
        # beyond 8 KiB before it ends.
        answer = self.service.exchange(
            b"POST " + UPDATE_PATH.encode() + b" HTTP/1.1\r\nContent-Length: 4097\r\n\r\n")
        self.assertEqual(statuses(answer), [413])
        answer = self.service.exchange(b"GET / HTTP/1.1\r\nX-Big: " + b"a" * 9000)
        self.assertEqual(statuses(answer), [431])
        # Within the caps: a 4 KiB body and an 8 KiB head are served.
        body = b"uin=10001&x=" + b"y" * (4096 - 12)
        self.assertEqual(statuses(self.service.exchange(update_request(
            body, b"Connection: close\r\n"))), [200])
        head = b"GET / HTTP/1.1\r\nConnection: close\r\nX-Big: "
        head += b"a" * (8192 - len(head) - 4) + b"\r\n\r\n"
        self.assertEqual(len(head), 8192)
        self.assertEqual(statuses(self.service.exchange(head)), [200])

    def test_entries_file_changes(self):
        try:
            # A change right after a read is seen by the next request, even
            # one that keeps the size, the inode and the time stamp of the
            # version read (an edit within the file system's time stamp
            # granularity).
            write_entries(self.entries, ENTRIES)
            self.assertEqual(self.service.post("10001")[2], PAGE_10001)
            before = os.stat(self.entries)
            changed = dict(ENTRIES, **{"10001": [dict(ENTRIES["10001"][0], title="Korvane 1.0.2"),
                                                 ENTRIES["10001"][1]]})
            write_entries(self.entries, changed)
            os.utime(self.entries, ns=(before.st_atime_ns, before.st_mtime_ns))
            after = os.stat(self.entries)
            self.assertEqual((after.st_size, after.st_ino, after.st_mtime_ns),
                             (before.st_size, before.st_ino, before.st_mtime_ns))
            self.assertEqual(self.service.post("10001")[2],
                             PAGE_10001.replace(b"Korvane 1.0.1", b"Korvane 1.0.2"))
            # A byte-order mark is accepted.
            write_entries(self.entries, {"30003": [{"title": "Korvane 3.0.0"}]}, b"\xef\xbb\xbf")
            self.assertEqual(self.service.post("30003")[2], PAGE_30003)
            # A file that is not UTF-8, or not valid, keeps the previous
            # entries, with one log line each.
            def kept():
                return self.service.stderr().count("keeping the previous entries")
            for bad in ("{\"30003\": [{\"title\": \"K\xe9\"}]}".encode("latin-1"),
                        b"{\"30003\": [{\"title\": \"Korvane 1'0\"}]}"):
                before = kept()
                with open(self.entries, "wb") as f:
                    f.write(bad)
                for _ in range(3):
                    self.assertEqual(self.service.post("30003")[::2], (200, PAGE_30003))
                self.assertEqual(kit.wait_until(lambda: kept() > before and kept(), 5), before + 1)
        finally:
            write_entries(self.entries, ENTRIES)
            os.utime(self.entries, ns=(0, time.time_ns() + 5_000_000_000))

    def test_a_log_nobody_reads_never_stalls(self):
        # 200 clients at once, 5 requests each on new connections, while
        # nobody reads the service's standard error (a pipe).
        service = Service("--entries", self.entries, stderr=subprocess.PIPE)
        clients, rounds = 200, 5
        results = []
        barrier = threading.Barrier(clients)

        def client():
            barrier.wait()
            for _ in range(rounds):
                try:
                    status, _, body = service.post("10001", timeout=20)
                    results.append(status == 200 and body == PAGE_10001)
                except OSError as e:
                    results.append(repr(e))

        threads = [threading.Thread(target=client) for _ in range(clients)]
        try:
            for t in threads:
                t.start()
            for t in threads:
                t.join(60)
            self.assertEqual([r for r in results if r is not True], [])
            self.assertEqual(len(results), clients * rounds)
        finally:
            service.stop()

    def test_sigterm_finishes_the_request_in_flight(self):
        service = Service("--entries", self.entries, "--delay", "1")
        try:
            with service.connect() as s:
                s.sendall(update_request(extra=b"Connection: close\r\n"))
                # In flight once the service has read it from the socket.
                self.assertTrue(kit.wait_until(lambda: self.request_read(service.port), 5))
                service.process.send_signal(signal.SIGTERM)
                s.settimeout(10)
                answer = read_until_closed(s)[0]
            self.assertEqual(split_answer(answer)[::2], (200, PAGE_10001))
            self.assertEqual(service.process.wait(10), 0)
        finally:
            service.stop()

    @staticmethod
    def request_read(port):
        result = subprocess.run(["ss", "-tnH", "state", "established", "sport", "=", f":{port}"],
                                capture_output=True, text=True)
        rows = [line.split() for line in result.stdout.splitlines() if line.strip()]
        return len(rows) == 1 and rows[0][0] == "0"


class OptionsTest(unittest.TestCase):
    def test_example_entries_and_invalid_files(self):
        service = Service()   # the example file is the default
        try:
            self.assertIn(b"\"title\":'Korvane 1.0.1'", service.post("10001")[2])
        finally:
            service.stop()
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "bad.json")
            for bad in ({"1": [{"title": "Korvane 1.0'1"}]}, {"1": {"title": "K"}}):
                write_entries(path, bad)
                result = subprocess.run([sys.executable, SERVICE, "--port", "0", "--entries",
                                         path], capture_output=True, text=True, timeout=20)
                self.assertEqual((result.returncode, result.stdout), (2, ""), bad)


# --- Hostile requests --------------------------------------------------------

GOOD = b"GET / HTTP/1.1\r\nHost: x\r\n\r\n"
CHUNKED = (b"POST " + UPDATE_PATH.encode() + b" HTTP/1.1\r\nHost: x\r\n"
           b"Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n")


def post_head(*headers):
    return (b"POST " + UPDATE_PATH.encode() + b" HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
            + b"".join(h + b"\r\n" for h in headers) + b"\r\n")


# name, bytes sent, the statuses allowed for the answers in order (one set
# each; None: the server may close instead), and whether the client then
# closes its sending side. Every row ends with the server closing.
ROWS = [
    ("garbage request line", b"HELLO\r\n\r\n", [{400}]),
    ("request line of four words", b"GET / HTTP/1.1 x\r\nHost: x\r\n\r\n", [{400}]),
    ("malformed target", b"GET http://[x/ HTTP/1.1\r\nHost: x\r\n\r\n", [{400}]),
    ("malformed target behind a good request",
     GOOD + b"GET http://[x/ HTTP/1.1\r\nHost: x\r\n\r\n", [{200}, {400, None}]),
    ("garbage behind a good request", GOOD + b"\x00\x01\x02 /\r\n\r\n", [{200}, {400, None}]),
    ("Content-Length of 5,000 digits", post_head(b"Content-Length: " + b"9" * 5000),
     [{400, 413}]),
    ("Content-Length of 100 MB", post_head(b"Content-Length: 104857600"), [{413}]),
    ("negative Content-Length", post_head(b"Content-Length: -9") + b"uin=10001", [{400}]),
    ("non-ASCII Content-Length", post_head("Content-Length: ٩".encode()) + b"uin=10001", [{400}]),
    ("repeated Content-Length", post_head(b"Content-Length: 9", b"Content-Length: 9")
     + b"uin=10001", [{400}]),
    ("two different Content-Lengths", post_head(b"Content-Length: 9", b"Content-Length: 3")
     + b"uin=10001", [{400}]),
    ("bare line feeds", b"GET / HTTP/1.1\nHost: x\nConnection: close\n\n", [{200, 400}]),
    ("stray carriage return", b"GET / HTTP/1.1\r\nHost: x\rX-A: b\r\nConnection: close\r\n\r\n",
     [{200, 400}]),
    ("chunked body", CHUNKED + b"9\r\nuin=10001\r\n0\r\n\r\n", [{200}]),
    ("chunked body past the cap", CHUNKED + (b"800\r\n" + b"u" * 0x800 + b"\r\n") * 3
     + b"0\r\n\r\n", [{413}]),
    ("malformed chunk size", CHUNKED + b"zz\r\nuin=10001\r\n0\r\n\r\n", [{400}]),
    ("non-ASCII target", "GET /你好 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"
     .encode(), [{404, 400}]),
    ("control characters in the target",
     b"GET /\x1b[2J\x01 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", [{400, 404}]),
    ("non-ASCII header", "GET / HTTP/1.1\r\nHost: x\r\nX-Name: 你好\r\nConnection: close\r\n\r\n"
     .encode(), [{200}]),
    ("control character in a header",
     b"GET / HTTP/1.1\r\nHost: x\r\nX-A: a\x01b\r\nConnection: close\r\n\r\n", [{200, 400}]),
    ("non-ASCII digit in uin", post_head(b"Content-Length: 10") + b"uin=%D9%A1", [{200}]),
    ("raw non-ASCII uin", post_head(b"Content-Length: 6") + b"uin=\xd9\xa1", [{200}]),
    ("control characters in uin", post_head(b"Content-Length: 10") + b"uin=%00%1b", [{200}]),
    ("body longer than announced", post_head(b"Content-Length: 3").replace(
        b"Connection: close\r\n", b"") + b"uin=10001", [{200}, {400, None}]),
    ("body shorter than announced, then the client closes",
     post_head(b"Content-Length: 20") + b"uin=1", [{400, None}], True),
    ("the client closes halfway through the head", b"GET / HTTP/1.1\r\nHost: x\r\nX-A",
     [{400, None}], True),
]


class HostileRequests:
    """The table, against a server at `address`: after each row the server
    answers a fresh request, never answers 5xx and holds no connection that
    the client has closed."""

    address = None

    def stderr(self):
        return ""

    def test_hostile_requests(self):
        for name, data, allowed, *half_close in ROWS:
            with self.subTest(name):
                with self.address.connect() as s:
                    s.sendall(data)
                    if half_close:
                        s.shutdown(socket.SHUT_WR)
                    s.settimeout(5)
                    answer, closed = read_until_closed(s)
                seen = statuses(answer)
                self.assertTrue(closed, f"the server kept the connection: {answer[:300]!r}")
                self.assertFalse([st for st in seen if st >= 500], (seen, answer[:300]))
                expected = [next(iter(a)) if len(a) == 1 else a for a in allowed]
                self.assertTrue(
                    len(seen) <= len(allowed) and
                    all(st in allowed[i] for i, st in enumerate(seen)) and
                    all(None in allowed[i] for i in range(len(seen), len(allowed))),
                    f"answers {seen}, expected {expected}: {answer[:300]!r}")
                if name == "chunked body":
                    self.assertIn(b"Korvane 1.0.1", answer)
                # A fresh request is answered, long before a stuck worker
                # would be freed by the server's own time-out...
                status, _, body = self.address.post("10001", timeout=20)
                self.assertEqual(status, 200)
                # ...and the server holds no connection the client closed.
                self.assertTrue(
                    kit.wait_until(lambda: stack.server_connections(self.address.port) == 0, 5),
                    f"{stack.server_connections(self.address.port)} connections still held")
        self.assertNotIn("Traceback", self.stderr())
        self.assertNotIn("uncaptured python exception", self.stderr())


class EmbeddedHostileTest(EmbeddedService, HostileRequests, unittest.TestCase):
    OPTIONS = ("--read-timeout", "3")


class NginxHostileTest(HostileRequests, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder, entries = entries_folder()
        upstream = kit.free_port()
        cls.gunicorn = stack.Gunicorn(cls.folder.name, entries, upstream).start()
        cls.nginx = stack.Nginx(cls.folder.name, kit.free_port(), f"127.0.0.1:{upstream}").start()
        cls.address = Address(cls.nginx.port)

    @classmethod
    def tearDownClass(cls):
        cls.nginx.stop()
        cls.gunicorn.stop()
        cls.folder.cleanup()

    def stderr(self):
        return self.gunicorn.stderr()


# --- nginx in front of gunicorn ----------------------------------------------

class NginxTest(unittest.TestCase):
    CACHE_SECONDS = 1

    def test_nginx_answers_caches_and_covers_for_gunicorn(self):
        tmp, entries = entries_folder()
        with tmp as folder:
            upstream = kit.free_port()
            gunicorn = stack.Gunicorn(folder, entries, upstream, date=DATE).start()
            nginx = stack.Nginx(folder, kit.free_port(), f"127.0.0.1:{upstream}",
                                cache_seconds=self.CACHE_SECONDS).start()
            address = Address(nginx.port)
            try:
                # Both requests, through nginx; the second check comes from the cache.
                for cache in ("MISS", "HIT"):
                    status, headers, body = address.post("10001")
                    self.assertEqual((status, body, stack.cache_status(headers)),
                                     (200, PAGE_10001, cache))
                self.assertEqual(address.post("20002")[::2], (200, PAGE_20002))
                status, headers, body = address.request("GET", "/")
                self.assertEqual((status, body), (200, DATE_PAGE))
                self.assertNotIn("X-Accel-Expires", headers)
                self.assertEqual(stack.cache_status(address.request("GET", "/")[1]), "HIT")
                self.assertEqual(address.request("GET", "/other")[0], 404)
                self.assertEqual(address.request("POST", "/", b"uin=1")[0], 405)

                # A changed entries file is answered once the cache time has passed.
                changed = dict(ENTRIES, **{"10001": [{"title": "Korvane 1.0.5", "imgsrc": ""}]})
                write_entries(entries, changed)
                os.utime(entries, ns=(0, time.time_ns() + 5_000_000_000))
                self.assertTrue(kit.wait_until(
                    lambda: b"Korvane 1.0.5" in address.post("10001")[2],
                    self.CACHE_SECONDS + 10, 0.1), "the change was never answered")

                # With gunicorn stopped, checks are answered from the cache,
                # after their cache time too.
                gunicorn.stop()
                self.assertFalse(kit.port_open(upstream))
                status, headers, body = address.post("10001")
                self.assertEqual(status, 200)
                self.assertIn(b"Korvane 1.0.5", body)
                self.assertTrue(kit.wait_until(
                    lambda: stack.cache_status(address.post("20002")[1]) == "STALE",
                    self.CACHE_SECONDS + 10, 0.1))
                self.assertEqual(address.post("20002")[::2], (200, PAGE_20002))
                self.assertEqual(address.request("GET", "/")[::2], (200, DATE_PAGE))
            finally:
                nginx.stop()
                gunicorn.stop()
            self.assertNotIn("Traceback", gunicorn.stderr())


if __name__ == "__main__":
    unittest.main()
