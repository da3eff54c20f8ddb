"""Start-up of Korvane.exe under Wine: the library check, the first-run
page and the strip's placement; the DPI a window's monitor reports where
GetDpiForWindow is missing (Windows 8.1, Windows 10 before 1607).

Usage: startup_wine_test.py PUBLISHER_URL   (run through wine-env.sh)
"""

import os
import subprocess
import sys
import time

import wine_testkit as kit

PUBLISHER_URL = sys.argv[1]
ALERT_TITLE = "温馨提示"


# A deadline for each wait, only a safety net: every wait ends on its
# condition.
WAIT = 60.0


def wait_for(read, done, timeout=WAIT):
    """The first value of read() that done() accepts, or the last one read
    when the deadline passes."""
    deadline = time.monotonic() + timeout
    value = read()
    while not done(value) and time.monotonic() < deadline:
        time.sleep(0.1)
        value = read()
    return value


def logger_running(folder):
    """Whether a url_logger.exe of the case folder is running: Wine gives a
    Windows process the Windows path of its program as its command line."""
    name = os.path.basename(folder)
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                command = f.read().decode("utf-8", "replace")
        except OSError:
            continue
        if "url_logger.exe" in command and name in command:
            return True
    return False


def read_log(log):
    try:
        with open(log) as f:
            return f.read()
    except FileNotFoundError:
        return ""


def opened_urls(folder, log, expected):
    """The addresses opened so far. Called once the program has passed its
    first-run step: a page it opened there has started the logger (Wine's
    CreateProcess returns once the process runs), so the list is complete
    when no logger runs any more. With `expected`, first waits for a line."""
    if expected:
        wait_for(lambda: read_log(log), lambda text: text.endswith("\n"))
    kit.require(not wait_for(lambda: logger_running(folder), lambda running: not running),
                "the logger did not end")
    return read_log(log).split()


def check_refuses_to_start(library):
    folder = kit.make_case_folder(library=library, settings=False)
    log = kit.use_url_logger(folder)
    process = kit.start_korvane(folder)
    alert = kit.wait_for_window(ALERT_TITLE)
    kit.require(alert, "no message box titled %s" % ALERT_TITLE)
    kit.require(kit.wait_for_window("Form1", timeout=0.5) is None,
                "strip shown without the library")
    kit.run("xdotool", "windowfocus", "--sync", alert)
    kit.run("xdotool", "key", "Return")
    try:
        process.wait(timeout=WAIT)
    except subprocess.TimeoutExpired:
        raise AssertionError("the program did not end after OK")
    kit.require(opened_urls(folder, log, expected=False) == [],
                "publisher page opened although the library is missing")


def expected_strip_rectangle():
    """Placement at the prefix's DPI: Top = screen height - 495 - 580 and
    Left = screen width / 2 - 5895 / 2, in twips, rounded when mapped."""
    dpi = kit.prefix_dpi()
    width_px, height_px = kit.screen_size()
    screen_w = width_px * 1440.0 / dpi
    screen_h = height_px * 1440.0 / dpi

    def px(twips):
        return int(twips * dpi / 1440.0 + 0.5 + 1e-9) if twips >= 0 else -int(-twips * dpi / 1440.0 - 0.5)

    return (px(screen_w / 2 - 5895 / 2), px(screen_h - 495 - 580), px(5895), px(495))


def check_starts(settings):
    folder = kit.make_case_folder(library="file", settings=settings)
    log = kit.use_url_logger(folder)
    kit.start_korvane(folder)
    strip = kit.wait_for_window("Form1")
    kit.require(strip, "strip window Form1 not found")
    kit.require(kit.wait_for_window(ALERT_TITLE, timeout=0.3) is None, "unexpected message box")
    # Shown first, then placed.
    expected = expected_strip_rectangle()
    actual = wait_for(lambda: kit.geometry(strip), lambda place: place == expected)
    kit.require(actual == expected, "strip at %s, expected %s" % (actual, expected))
    urls = opened_urls(folder, log, expected=not settings)
    if settings:
        kit.require(urls == [], "publisher page opened although test.ini exists: %s" % urls)
    else:
        kit.require(urls == [PUBLISHER_URL], "opened %s, expected [%s]" % (urls, PUBLISHER_URL))


DPI_KEYS = (r"HKCU\Control Panel\Desktop", r"HKCC\Software\Fonts")


def check_monitor_dpi(dpi):
    """The Windows 8.1 answer, shcore's GetDpiForMonitor, gives the DPI the
    prefix was set to, as GetDpiForWindow and the system DPI do."""
    found = kit.run("wine", os.path.join(kit.TEST_BIN_DIR, "dpi_probe.exe")).stdout.split()
    expected = ["monitor", str(dpi), "window", str(dpi), "system", str(dpi)]
    kit.require(found == expected, "dpi_probe gave %s, expected %s" % (found, expected))


def check_starts_at_dpi(dpi):
    """The placement and the monitor's DPI at another DPI; the prefix's own
    setting is restored."""
    saved = {key: kit.logpixels(key) for key in DPI_KEYS}
    for key in DPI_KEYS:
        kit.reg_set(key, "LogPixels", dpi, "REG_DWORD")
    kit.kill_wine()
    try:
        kit.require(kit.prefix_dpi() == dpi, "the prefix did not take DPI %d" % dpi)
        check_starts(settings=True)
        check_monitor_dpi(dpi)
    finally:
        kit.kill_wine()
        for key, value in saved.items():
            if value:
                kit.reg_set(key, "LogPixels", value, "REG_DWORD")
            else:
                kit.reg_delete(key, "LogPixels")


def main():
    kit.kill_wine()
    suite = kit.Suite()
    suite.run("library missing: message box, then the program ends",
              lambda: check_refuses_to_start(None))
    suite.run("a folder named Update.dll counts as missing",
              lambda: check_refuses_to_start("folder"))
    suite.run("a hidden Update.dll counts as missing",
              lambda: check_refuses_to_start("hidden"))
    suite.run("a system Update.dll counts as missing",
              lambda: check_refuses_to_start("system"))
    suite.run("first run opens the publisher page and places the strip",
              lambda: check_starts(settings=False))
    suite.run("with test.ini no page is opened, same placement",
              lambda: check_starts(settings=True))
    suite.run("at 144 DPI the strip is placed by the same formula; the monitor reports 144 DPI",
              lambda: check_starts_at_dpi(144))
    return suite.exit_code()


if __name__ == "__main__":
    sys.exit(main())
