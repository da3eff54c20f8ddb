#!/usr/bin/env python3
"""Starts the reference update service on a free port and checks its pages,
its limits (size caps, stalled and idle clients, a burst of clients) and the
same application under gunicorn."""

import datetime
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SERVICE = os.path.join(HERE, "update_service.py")
UPDATE_PATH = "/cgi-bin/custom/output_custom_window.cgi"
# Talk to the service directly, whatever proxy the environment names.
OPENER = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class Client:
    """Requests to a service at HOST:PORT."""

    def __init__(self, address):
        self.base = "http://" + address
        host, _, port = address.rpartition(":")
        self.address = (host, int(port))

    def connect(self):
        return socket.create_connection(self.address, timeout=10)

    def exchange(self, data, timeout=5):
        """Sends raw bytes and reads the answer until the service closes."""
        with self.connect() as s:
            s.settimeout(timeout)
            s.sendall(data)
            return read_all(s)

    def post(self, account):
        request = urllib.request.Request(
            self.base + UPDATE_PATH, data=f"uin={account}".encode(),
            headers={"Content-Type": "application/x-www-form-urlencoded"})
        with OPENER.open(request, timeout=10) as response:
            return response.headers["Content-Type"], response.read()

    def get(self, path):
        with OPENER.open(self.base + path, timeout=10) as response:
            return response.status, response.headers["Content-Type"], response.read()

    def status(self, path, method="GET", data=None):
        request = urllib.request.Request(self.base + path, data=data, method=method)
        try:
            with OPENER.open(request, timeout=10) as response:
                return response.status
        except urllib.error.HTTPError as e:
            return e.code


class Service(Client):
    """The embedded service on a free port, as a process of its own."""

    def __init__(self, *args, stderr=subprocess.DEVNULL):
        self.process = subprocess.Popen(
            [sys.executable, SERVICE, "--port", "0", *args],
            stdout=subprocess.PIPE, stderr=stderr, text=True)
        line = self.process.stdout.readline().strip()
        if not line.startswith("listening on "):
            self.stop()
            raise RuntimeError(f"service did not start: {line!r}")
        super().__init__(line[len("listening on "):])

    def stop(self):
        self.process.kill()
        self.process.wait()
        for stream in (self.process.stdout, self.process.stderr):
            if stream:
                stream.close()


def read_all(s):
    chunks = []
    while True:
        try:
            data = s.recv(65536)
        except ConnectionResetError:
            break
        if not data:
            break
        chunks.append(data)
    return b"".join(chunks)


def update_request(body=b"uin=10001", extra=b""):
    return (b"POST " + UPDATE_PATH.encode() + b" HTTP/1.1\r\nHost: x\r\n"
            b"Content-Length: %d\r\n" % len(body) + extra + b"\r\n" + body)


def parse_reply_fields(page, app_name):
    """Version and decoded link the way the client reads the first entry."""
    start = page.find("\"title\":'" + app_name)
    if start < 0:
        return None
    entry = page[start + 10 + len(app_name):]
    next_title = entry.find("\"title\"")
    if next_title >= 0:
        entry = entry[:next_title + 1]
    version = entry.split("'", 1)[0] if "'" in entry else ""
    link_at = entry.find("\"imgsrc\"")
    link = entry[link_at + 10:].split("'", 1)[0] if link_at >= 0 else ""
    link = link.encode("latin-1", "backslashreplace").decode("unicode_escape") if link else ""
    return version, link


class UpdateServiceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.entries = os.path.join(cls.folder.name, "entries.json")
        with open(cls.entries, "w", encoding="utf-8") as f:
            json.dump({"10001": [
                {"title": "Korvane 1.0.1", "imgsrc": "http://example.com/k/Korvane.zip"},
                {"title": "Korvane 2.0.0", "imgsrc": "http://example.com/old"},
            ], "20002": [{"title": "科瓦 1.2.0", "imgsrc": "http://example.com/科瓦.zip"}]},
                f, ensure_ascii=False)
        cls.log = open(os.path.join(cls.folder.name, "service.log"), "w+", encoding="utf-8")
        cls.service = Service("--entries", cls.entries, stderr=cls.log)

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        cls.log.close()
        cls.folder.cleanup()

    def test_update_page_lists_the_accounts_entries_in_gbk(self):
        content_type, body = self.service.post("10001")
        self.assertEqual(content_type, "text/html; charset=gbk")
        self.assertIn(b"\"title\":'Korvane 1.0.1'", body)
        self.assertIn(b"http\\x3a\\x2f\\x2fexample.com\\x2fk\\x2fKorvane.zip", body)
        page = body.decode("gbk")
        self.assertLess(page.index("Korvane 1.0.1"), page.index("Korvane 2.0.0"))
        self.assertEqual(parse_reply_fields(page, "Korvane"),
                         ("1.0.1", "http://example.com/k/Korvane.zip"))

        _, body = self.service.post("20002")
        self.assertIn("\"title\":'科瓦 1.2.0'".encode("gbk"), body)
        self.assertEqual(parse_reply_fields(body.decode("gbk"), "科瓦")[0], "1.2.0")

    def test_unknown_account_gets_a_page_without_entries(self):
        for account in ("99999", ""):
            _, body = self.service.post(account)
            self.assertNotIn(b"\"title\"", body)
            self.assertIn(b"<html>", body)

    def test_date_page_has_todays_date_in_style1(self):
        before = datetime.date.today()
        status, content_type, body = self.service.get("/")
        after = datetime.date.today()
        self.assertEqual((status, content_type), (200, "text/html; charset=gbk"))
        page = body.decode("gbk")
        self.assertIn("<span class=\"STYLE1\">", page)
        texts = {f"{d.year}年{d.month}月{d.day}日 星期" for d in (before, after)}
        self.assertTrue(any(f"\"STYLE1\">{t}" in page for t in texts), page)

    def test_publisher_page_and_nothing_else(self):
        status, _, body = self.service.get("/publisher")
        self.assertEqual(status, 200)
        self.assertIn(b"Korvane", body)
        self.assertEqual(self.service.status("/other"), 404)
        self.assertEqual(self.service.status(UPDATE_PATH + "/x", "POST", b"uin=1"), 404)
        self.assertEqual(self.service.status("/", "POST", b"uin=1"), 405)
        self.assertEqual(self.service.status(UPDATE_PATH), 405)
        self.assertEqual(self.service.status("/", "DELETE"), 405)

    def test_one_log_line_per_request(self):
        self.service.get("/?log-me")
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            self.log.seek(0)
            lines = [line for line in self.log if "/?log-me" in line]
            if lines:
                break
            time.sleep(0.05)
        self.assertEqual(len(lines), 1)
        self.assertRegex(lines[0], r"^\d{4}-\d\d-\d\dT[\d:.]+ 127\.0\.0\.1 "
                                   r"\"GET /\?log-me HTTP/1\.1\" 200 [\d.]+ms$")

    def test_caps_are_answered_at_once(self):
        # A body announced beyond the cap is refused before it is sent.
        start = time.monotonic()
        answer = self.service.exchange(
            b"POST " + UPDATE_PATH.encode() + b" HTTP/1.1\r\nContent-Length: 104857600\r\n\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 413 "), answer[:40])
        # Headers past the cap: 431 without waiting for their end.
        answer = self.service.exchange(b"GET / HTTP/1.1\r\nX-Big: " + b"a" * 9000)
        self.assertTrue(answer.startswith(b"HTTP/1.1 431 "), answer[:40])
        answer = self.service.exchange(b"GET /" + b"a" * 9000 + b" HTTP/1.1\r\n\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 431 "), answer[:40])
        answer = self.service.exchange(b"GET / HTTP/1.1\r\n" + b"X: y\r\n" * 200 + b"\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 431 "), answer[:40])
        self.assertLess(time.monotonic() - start, 3)
        # Within the caps, two requests on one connection.
        answer = self.service.exchange(update_request() + update_request(
            extra=b"Connection: close\r\n"))
        self.assertEqual(answer.count(b"HTTP/1.1 200 OK"), 2)

    def test_idle_clients_do_not_block_a_request(self):
        idle = [self.service.connect() for _ in range(300)]
        try:
            start = time.monotonic()
            self.assertIn(b"Korvane 1.0.1", self.service.post("10001")[1])
            self.assertLess(time.monotonic() - start, 1)
        finally:
            for s in idle:
                s.close()

    def test_entries_file_changes_are_picked_up(self):
        with open(self.entries, encoding="utf-8") as f:
            original = f.read()
        try:
            with open(self.entries, "w", encoding="utf-8") as f:
                json.dump({"30003": [{"title": "Korvane 3.0.0", "imgsrc": ""}]}, f)
            os.utime(self.entries, ns=(0, time.time_ns() + 1_000_000_000))
            self.assertIn(b"Korvane 3.0.0", self.service.post("30003")[1])
        finally:
            with open(self.entries, "w", encoding="utf-8") as f:
                f.write(original)
            os.utime(self.entries, ns=(0, time.time_ns() + 2_000_000_000))


class OptionsTest(unittest.TestCase):
    def test_date_text_and_delay(self):
        service = Service("--date", "2013年5月8日 星期三", "--delay", "0.3")
        try:
            start = time.monotonic()
            _, _, body = service.get("/")
            self.assertGreaterEqual(time.monotonic() - start, 0.3)
            self.assertIn("<span class=\"STYLE1\">2013年5月8日 星期三</span>".encode("gbk"), body)
        finally:
            service.stop()

    def test_example_entries_offer_a_newer_korvane(self):
        service = Service()  # the example file is the default
        try:
            version, link = parse_reply_fields(service.post("10001")[1].decode("gbk"), "Korvane")
            self.assertEqual(version, "1.0.1")
            self.assertTrue(link.startswith("http://"))
        finally:
            service.stop()

    def test_invalid_entries_are_refused_at_start(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "bad.json")
            for bad in ({"1": [{"title": "Korvane 1.0'1"}]}, {"1": {"title": "K"}}):
                with open(path, "w", encoding="utf-8") as f:
                    json.dump(bad, f)
                result = subprocess.run([sys.executable, SERVICE, "--port", "0", "--entries", path],
                                        capture_output=True, text=True, timeout=10)
                self.assertEqual(result.returncode, 2, bad)
                self.assertEqual(result.stdout, "")


class LimitsTest(unittest.TestCase):
    def test_stalled_clients_are_dropped_and_excess_waits(self):
        # Two connections in service at most; a third waits in the backlog
        # until the two stalled clients are dropped after the read time-out.
        service = Service("--read-timeout", "1", "--max-connections", "2", "--quiet")
        try:
            stalled = [service.connect() for _ in range(2)]
            for s in stalled:
                s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\nX-Half: ")
            time.sleep(0.2)
            start = time.monotonic()
            status, _, _ = service.get("/")
            waited = time.monotonic() - start
            self.assertEqual(status, 200)
            self.assertGreater(waited, 0.3)
            self.assertLess(waited, 4)
            for s in stalled:
                s.settimeout(3)
                self.assertEqual(read_all(s), b"")   # closed by the service
                s.close()
        finally:
            service.stop()

    def test_a_burst_of_clients_without_error(self):
        # 200 clients connect at once, each asks 5 times on a new connection.
        # Nobody reads the service's log: it must not stall it.
        service = Service(stderr=subprocess.PIPE)
        clients, rounds = 200, 5
        results = []
        start = threading.Barrier(clients)

        def client():
            start.wait()
            for _ in range(rounds):
                try:
                    answer = service.exchange(update_request(extra=b"Connection: close\r\n"),
                                              timeout=10)
                    results.append(answer.startswith(b"HTTP/1.1 200 ") and
                                   b"Korvane 1.0.1" in answer)
                except OSError as e:
                    results.append(repr(e))

        threads = [threading.Thread(target=client) for _ in range(clients)]
        try:
            for t in threads:
                t.start()
            for t in threads:
                t.join(30)
            self.assertEqual(len(results), clients * rounds)
            failures = [r for r in results if r is not True]
            self.assertEqual(failures, [])
        finally:
            service.stop()


def gunicorn_python():
    """A Python that has gunicorn (Debian's python3-gunicorn), or None."""
    for python in dict.fromkeys([sys.executable, shutil.which("python3"), "/usr/bin/python3"]):
        if python and subprocess.run([python, "-c", "import gunicorn"],
                                     capture_output=True).returncode == 0:
            return python
    return None


class GunicornTest(unittest.TestCase):
    def test_the_application_under_gunicorn(self):
        python = gunicorn_python()
        self.assertIsNotNone(python, "gunicorn is missing: scripts/setup.sh installs "
                                     "python3-gunicorn")
        with tempfile.TemporaryDirectory() as folder:
            entries = os.path.join(folder, "entries.json")
            with open(entries, "w", encoding="utf-8") as f:
                json.dump({"10001": [{"title": "Korvane 1.0.1", "imgsrc": "http://x/K.zip"}]}, f)
            process = subprocess.Popen(
                [python, "-m", "gunicorn", "--chdir", HERE, "-w", "2", "-b", "127.0.0.1:0",
                 f"update_service:create_app({entries!r}, date='2013年5月8日 星期三')"],
                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            try:
                address = None
                deadline = time.monotonic() + 20
                while address is None and time.monotonic() < deadline:
                    line = process.stderr.readline()
                    if not line:
                        break
                    if "Listening at: http://" in line:
                        address = line.split("Listening at: http://")[1].split()[0]
                threading.Thread(target=process.stderr.read, daemon=True).start()
                self.assertIsNotNone(address, "gunicorn did not start")
                service = Client(address)
                content_type, body = service.post("10001")
                self.assertEqual(content_type, "text/html; charset=gbk")
                self.assertEqual(parse_reply_fields(body.decode("gbk"), "Korvane"),
                                 ("1.0.1", "http://x/K.zip"))
                status, _, body = service.get("/")
                self.assertEqual(status, 200)
                self.assertIn("\"STYLE1\">2013年5月8日 星期三<".encode("gbk"), body)
                self.assertEqual(service.status("/other"), 404)
                self.assertEqual(service.status("/", "POST", b"uin=1"), 405)
                self.assertEqual(service.status(UPDATE_PATH, "POST", b"u" * 5000), 413)
            finally:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
                process.stderr.close()


if __name__ == "__main__":
    unittest.main()
