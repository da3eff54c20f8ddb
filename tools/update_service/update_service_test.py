#!/usr/bin/env python3
"""Starts the reference update service on a free port and checks its pages."""

import datetime
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SERVICE = os.path.join(HERE, "update_service.py")
UPDATE_PATH = "/cgi-bin/custom/output_custom_window.cgi"
# Talk to the service directly, whatever proxy the environment names.
OPENER = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class Service:
    def __init__(self, *args):
        self.process = subprocess.Popen(
            [sys.executable, SERVICE, "--port", "0", *args],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline().strip()
        if not line.startswith("listening on "):
            self.stop()
            raise RuntimeError(f"service did not start: {line!r}")
        self.base = "http://" + line[len("listening on "):]

    def post(self, account):
        request = urllib.request.Request(
            self.base + UPDATE_PATH, data=f"uin={account}".encode(),
            headers={"Content-Type": "application/x-www-form-urlencoded"})
        with OPENER.open(request, timeout=10) as response:
            return response.headers["Content-Type"], response.read()

    def get(self, path):
        with OPENER.open(self.base + path, timeout=10) as response:
            return response.status, response.headers["Content-Type"], response.read()

    def stop(self):
        self.process.kill()
        self.process.wait()
        self.process.stdout.close()


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
        cls.service = Service("--entries", cls.entries)

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
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

    def test_publisher_page_answers_any_other_path(self):
        status, _, body = self.service.get("/publisher")
        self.assertEqual(status, 200)
        self.assertIn(b"Korvane", body)

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


if __name__ == "__main__":
    unittest.main()
