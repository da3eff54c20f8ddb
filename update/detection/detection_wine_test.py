#!/usr/bin/env python3
"""Update.dll under Wine: registration, the Detection object's members called
late-bound against the reference update service and hand-written date pages,
the library out of memory, and unregistration. The build under test must
talk to 127.0.0.1:PORT for both hosts.

Wine's request object never completes a transfer that failed, so a call to a
service that is not there ends only at the library's own time limit: the two
calls that meet such a service run in the background while the other cases run.
"""

import argparse
import datetime
import json
import os
import subprocess
import sys
import tempfile
import threading

import wine_testkit as kit

PORT = kit.UPDATE_PORT  # the loopback port the build talks to
CLSID = kit.DETECTION_CLSID
LIBID = "{FBF999FA-4930-416D-8801-5CEDEC3777F0}"
IID = "{5F89000E-8BDB-48CB-9AC4-ADBC36622007}"
NOT_FOUND = "NO|未找到更新信息"
DOWNLOAD = "http://127.0.0.1/download/Korvane-{}.exe"
DISP_E_TYPEMISMATCH = "0x80020005"
E_OUTOFMEMORY = "0x8007000E"
E_UNEXPECTED = "0x8000FFFF"
WAIT = 180  # seconds for any one program; the machine may be busy

ENTRIES = {
    "10001": [{"title": "Korvane 1.0.1", "imgsrc": DOWNLOAD.format("1.0.1")}],
    "10002": [{"title": "Korvane 1.0.0", "imgsrc": DOWNLOAD.format("1.0.0")}],
    # Only the first entry of the product counts.
    "10004": [{"title": "Other 9.0.0", "imgsrc": "http://other/"},
              {"title": "Korvane 0.9.9", "imgsrc": DOWNLOAD.format("0.9.9")},
              {"title": "Korvane 2.0.0", "imgsrc": DOWNLOAD.format("2.0.0")}],
}
DATE_TEXT = "2013年5月8日 星期三"

check = kit.Suite()


def reg_text(key, name=None):  # the data of a registry value, "" when it is missing
    found = kit.reg_value(key, name)
    return found[1] if found else ""


def lines_of(output):
    return [line.rstrip("\r") for line in output.decode("utf-8", "replace").splitlines()]


def regsvr32(dll_dir, what, *flags):
    code = kit.wine("regsvr32", *flags, "/s", "Update.dll", cwd=dll_dir).returncode
    check(code == 0, what, f"exit {code}")


def client(args, *command):
    return lines_of(kit.wine(args.client, *command, timeout=WAIT).stdout)


class BackgroundClient:
    """The driver running `command` while the test goes on."""

    def __init__(self, args, *command):
        # Output through a file, as kit.wine does: a wineserver started by
        # the call would hold a pipe open.
        self.out = tempfile.TemporaryFile()
        self.process = subprocess.Popen([kit.wine_loader(), args.client, *command],
                                        stdout=self.out, stderr=subprocess.DEVNULL)

    def lines(self):
        try:
            self.process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return ["<no end>"]
        self.out.seek(0)
        return lines_of(self.out.read())


class FailingService(kit.PageServer):
    """Takes the service's place on the port and resets each of the first
    `count` requests unanswered; wait() gives the port back."""

    def __init__(self, count):
        self.count, self.dropped, self.done = count, 0, threading.Event()
        super().__init__(self.drop, PORT)
        self.__enter__()

    def drop(self, request, *_):
        kit.reset(request)
        self.dropped += 1
        if self.dropped >= self.count:
            self.done.set()

    def wait(self):  # whether every expected request came and was reset
        self.done.wait(WAIT + 10)
        self.__exit__()
        return self.dropped == self.count


def page_server(page):
    """Serves a hand-written page, in GBK, for any GET or POST on the port."""
    return kit.PageServer(lambda *_: (200, page.encode("gbk"), "text/html; charset=gb2312"), PORT)


def updates(args, account):
    return (client(args, "updates", account, "Korvane") or ["<no output>"])[0]


def date_error(line, scode):  # a driver line reporting a failed GetNetDate with this scode
    return line.startswith("ERROR") and f"scode={scode}" in line


def start_with_the_service_down(args, dll_path):
    """Updates and GetNetDate meeting a service that fails the request, in the
    background; the objects come from the DLL itself (no registration needed)."""
    return FailingService(2), (BackgroundClient(args, "--dll", dll_path, "updates", "10001",
                                                "Korvane"),
                               BackgroundClient(args, "--dll", dll_path, "date"))


def check_the_service_down(listener, calls):
    check(listener.wait(), "both calls reached the failing service",
          f"{listener.dropped} connections")
    reply, date = (call.lines() for call in calls)
    check(reply == ["REPLY " + NOT_FOUND], "Updates with the service failing the request",
          " / ".join(reply))
    line = date[0] if date else ""
    check(date_error(line, DISP_E_TYPEMISMATCH) and "description=" in line
          and not line.endswith("description="),
          "GetNetDate fails with a type mismatch and a description", line)


def test_out_of_memory(args, dll_path, entries_file):
    """The exception boundary through the real library: in each call its first
    allocation fails (std::bad_alloc inside it); the service is up and would answer."""
    with kit.UpdateService(entries_file, "--date", DATE_TEXT, script=args.service, port=PORT):
        lines = client(args, "oom", dll_path)
    check(lines[:1] == ["UPDATES REPLY " + NOT_FOUND],
          "Updates out of memory still answers, with the not-found reply", " / ".join(lines))
    check(len(lines) > 1 and date_error(lines[1], E_OUTOFMEMORY),
          "GetNetDate out of memory fails with E_OUTOFMEMORY", " / ".join(lines[1:2]))
    check(lines[2:] == ["REGISTER " + E_OUTOFMEMORY],
          "DllRegisterServer out of memory returns E_OUTOFMEMORY", " / ".join(lines[2:]))
    check(not kit.reg_key_exists(r"HKCR\Quorvel.Detection"),
          "registration out of memory writes nothing")
    lines = client(args, "boundary")
    check(lines == ["returned 0x00000001", "failed " + DISP_E_TYPEMISMATCH,
                    "bad_alloc " + E_OUTOFMEMORY, "runtime_error " + E_UNEXPECTED,
                    "int " + E_UNEXPECTED],
          "CallNoThrow passes results on, bad_alloc becomes E_OUTOFMEMORY and any other"
          " exception E_UNEXPECTED", " / ".join(lines))


def test_registration(args, dll_dir, dll_windows_path):
    regsvr32(dll_dir, "regsvr32 /s Update.dll succeeds")

    rows = ((r"HKCR\Quorvel.Detection\CLSID", None, CLSID, "ProgID names the CLSID"),
            (rf"HKCR\CLSID\{CLSID}\InprocServer32", None, dll_windows_path,
             "InprocServer32 is the DLL's full path"),
            (rf"HKCR\CLSID\{CLSID}\InprocServer32", "ThreadingModel", "Apartment",
             "ThreadingModel is Apartment"),
            (rf"HKCR\CLSID\{CLSID}\TypeLib", None, LIBID, "CLSID names the type library"),
            (rf"HKCR\TypeLib\{LIBID}\1.0", None, "Quorvel", "type library 1.0 is registered"),
            (rf"HKCR\Interface\{IID}", None, "_Detection", "_Detection is registered for automation"))
    for key, name, expected, what in rows:
        text = reg_text(key, name)
        check(expected.lower() in text.lower(), what, text)

    # Registering again (the panel does it at every load) keeps working.
    regsvr32(dll_dir, "a second regsvr32 succeeds")


def test_lifetime(args, dll_windows_path):
    lines = client(args, "lifetime", dll_windows_path)
    check(lines == ["start unloadable", "factory busy", "locked busy",
                    "aggregation 0x80040110", "object busy", "class Detection",
                    "dispids 0x60030000 0x60030001", "released unloadable"],
          "DllCanUnloadNow follows factories, locks and objects", " / ".join(lines))


def test_updates(args, entries_file):
    with kit.UpdateService(entries_file, "--date", DATE_TEXT, script=args.service, port=PORT):
        for account, expected, what in (
                ("10001", "OK|True|1.0.1|", "a newer version is reported"),
                ("10002", "OK|False|1.0.0|", "an equal version is not newer"),
                ("10004", "OK|False|0.9.9|", "only the product's first entry counts"),
                ("10003", NOT_FOUND, "an account without entries")):
            if expected.endswith("|"):
                expected += DOWNLOAD.format(expected.split("|")[2])
            reply = updates(args, account)
            check(reply == "REPLY " + expected, what, reply)
        # Late-bound from a script, by the names as published.
        script = os.path.join(os.path.dirname(entries_file), "updates.js")
        with open(script, "w") as f:
            f.write('WScript.Echo(new ActiveXObject("Quorvel.Detection").Updates("10001", "K"'
                    ' + "orvane"));\n')
        reply = kit.wine_tool("cscript", "//nologo", kit.wine_path(script))[1].strip()
        check(reply == "OK|True|1.0.1|" + DOWNLOAD.format("1.0.1"),
              "a script creates the class and calls Updates by name", reply)

        lines = client(args, "date")
        check(lines[:1] == ["DATE 2013-05-08 00:00:00"], "GetNetDate reads the date page",
              " / ".join(lines))

    # Without --date the service shows today's date.
    with kit.UpdateService(entries_file, script=args.service, port=PORT):
        lines = client(args, "date")
    today = datetime.date.today().strftime("DATE %Y-%m-%d 00:00:00")
    check(lines[:1] == [today], "GetNetDate reads today's date", " / ".join(lines))


def test_date_pages(args):
    cases = (
        # No "STYLE1" marker: the text starts at the ninth character.
        ("<html>\n 2014年6月9日 星期一</html>", "DATE 2014-06-09 00:00:00",
         "GetNetDate without the marker reads from the page's ninth character"),
        ("<html><body><span class=\"STYLE2\">2013年5月8日</span>", DISP_E_TYPEMISMATCH,
         "GetNetDate without the marker does not look for the date further on"),
        # Not year 年 month 月 day 日 (the text ends with the 日 of 星期日,
        # Sunday): the platform's text-to-date conversion.
        ("<span class=\"STYLE1\">2015-7-5 星期日</span>", "DATE 2015-07-05 00:00:00",
         "GetNetDate converts a date text of another form with the platform"),
        ("<span class=\"STYLE1\">五月八号 星期三</span>", DISP_E_TYPEMISMATCH,
         "GetNetDate fails on a date text without 日"),
        ("<span class=\"STYLE1\">2013年2月30日</span>", DISP_E_TYPEMISMATCH,
         "GetNetDate fails on a day the month does not have"),
    )
    for page, expected, what in cases:
        with page_server(page):
            lines = client(args, "date")
        line = lines[0] if lines else ""
        check(line == expected if expected.startswith("DATE") else date_error(line, expected),
              what, line)


def test_nested(args, entries_file):
    # The first call waits a second; a timer makes the second call meanwhile.
    with kit.UpdateService(entries_file, "--delay", "1", script=args.service, port=PORT):
        lines = client(args, "nested", "10001", "10002", "Korvane")
    check(len(lines) == 3, "nested call output", " / ".join(lines))
    if len(lines) == 3:
        check(lines[0] == "OUTER REPLY OK|True|1.0.1|" + DOWNLOAD.format("1.0.1"),
              "outer call's reply", lines[0])
        check(lines[1] == "INNER REPLY OK|False|1.0.0|" + DOWNLOAD.format("1.0.0"),
              "nested call's reply", lines[1])
        check(lines[2] == "NESTED yes", "the nested call ran inside the outer one", lines[2])


def test_unregistration(args, dll_dir):
    regsvr32(dll_dir, "regsvr32 /u /s Update.dll succeeds", "/u")
    for key in (r"HKCR\Quorvel.Detection", rf"HKCR\CLSID\{CLSID}", rf"HKCR\TypeLib\{LIBID}",
                rf"HKCR\Interface\{IID}", r"HKCU\Software\Classes\Quorvel.Detection"):
        check(not kit.reg_key_exists(key), f"{key} is gone")
    reply = updates(args, "10001")
    check(reply.startswith("ERROR create"), "the class cannot be created any more", reply)


def test_per_user(args, dll_dir, dll_windows_path):
    """With the machine's Classes key read-only, registration falls back to the user."""
    lines = client(args, "classes-dacl")
    if not lines or not lines[0].startswith("DACL "):
        check(False, "read the DACL of HKLM\\Software\\Classes", " / ".join(lines))
        return
    original = lines[0][len("DACL "):]
    try:
        lines = client(args, "classes-dacl", "D:(A;;KR;;;WD)")
        check(lines == ["SET"], "HKLM\\Software\\Classes made read-only", " / ".join(lines))
        regsvr32(dll_dir, "regsvr32 succeeds without machine-wide access")
        # Wine's COM reads only the machine's classes, so the user's
        # registration is checked in the registry rather than by creating.
        text = reg_text(rf"HKCU\Software\Classes\CLSID\{CLSID}\InprocServer32")
        check(text.lower() == dll_windows_path.lower(), "the class is registered for the user", text)
        text = reg_text(r"HKCU\Software\Classes\Quorvel.Detection\CLSID")
        check(text == CLSID, "the user's ProgID names the CLSID", text)
        check(not kit.reg_key_exists(rf"HKLM\Software\Classes\CLSID\{CLSID}"),
              "nothing is written to the machine's Classes key")
        regsvr32(dll_dir, "regsvr32 /u succeeds without machine-wide access", "/u")
        for key in (rf"HKCU\Software\Classes\CLSID\{CLSID}",
                    r"HKCU\Software\Classes\Quorvel.Detection"):
            check(not kit.reg_key_exists(key), f"{key} is gone")
    finally:
        lines = client(args, "classes-dacl", original)
        check(lines == ["SET"], "the DACL is restored", " / ".join(lines))


def main():
    global PORT
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("--dll", "--client", "--service"):
        parser.add_argument(name, required=True)
    parser.add_argument("--port", type=int, default=PORT)
    args = parser.parse_args()
    PORT = args.port
    # Another run against the same address may still be finishing.
    if not kit.wait_until(lambda: not kit.port_open(PORT), 120, 1):
        print(f"port {PORT} is in use; cannot run the service", file=sys.stderr)
        return 1

    # One wineserver for the whole run instead of one per wine call.
    subprocess.run(["wineserver", "-p10"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    dll_dir = os.path.dirname(os.path.abspath(args.dll))
    # The path a Windows program sees (winepath would hold a pipe open
    # through the wineserver it starts).
    dll_windows_path = kit.wine_path(args.dll)
    with tempfile.TemporaryDirectory() as temp:
        entries_file = os.path.join(temp, "entries.json")
        with open(entries_file, "w", encoding="utf-8") as f:
            json.dump(ENTRIES, f, ensure_ascii=False)
        down = start_with_the_service_down(args, dll_windows_path)
        # Start from an unregistered library.
        kit.wine("regsvr32", "/u", "/s", "Update.dll", cwd=dll_dir)
        try:
            test_registration(args, dll_dir, dll_windows_path)
            test_lifetime(args, dll_windows_path)
            # The port is the failing service's until both calls met it.
            down[0].wait()
            test_updates(args, entries_file)
            test_date_pages(args)
            test_nested(args, entries_file)
        finally:
            test_unregistration(args, dll_dir)
        test_out_of_memory(args, dll_windows_path, entries_file)
        test_per_user(args, dll_dir, dll_windows_path)
        # Last: these calls end at the library's time limit.
        check_the_service_down(*down)

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
