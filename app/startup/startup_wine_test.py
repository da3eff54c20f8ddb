"""Start-up of Korvane.exe under Wine: the library check, the first-run
page and the strip's placement; the DPI a window's monitor reports where
GetDpiForWindow is missing (Windows 8.1, Windows 10 before 1607).

Usage: startup_wine_test.py PUBLISHER_URL   (run through wine-env.sh)
"""

import os
import sys

import wine_testkit as kit

PUBLISHER_URL = sys.argv[1]
ALERT_TITLE = "温馨提示"


def logger_running(folder):
    """Whether a url_logger.exe of the case folder is running."""
    name = os.path.basename(folder)
    return any("url_logger.exe" in command and name in command
               for command in kit.prefix_programs().values())


def opened_urls(folder, log, expected):
    """The addresses opened (with `expected`, once there is one), complete
    once no logger runs: CreateProcess returns once the process runs."""
    if expected:
        kit.wait_for(lambda: kit.read_file(log), lambda text: text and text.endswith(b"\n"),
                     "a logged address")
    kit.wait_for(lambda: logger_running(folder), lambda running: not running, "the logger to end")
    return (kit.read_file(log) or b"").decode().split()


def check_refuses_to_start(library):
    folder = kit.make_case_folder(library=library, settings=False)
    log = kit.use_url_logger(folder)
    process, alert = kit.start_korvane(folder, window=ALERT_TITLE)
    kit.run("xdotool", "windowfocus", "--sync", alert)
    kit.run("xdotool", "key", "Return")
    # The strip could show until the program ends.
    kit.wait_for(lambda: (process.poll(), kit.window_named("Form1")),
                 lambda state: state[0] is not None, "the program to end after OK",
                 hold=lambda state: state[1] is None, broken="strip shown without the library")
    kit.require(opened_urls(folder, log, expected=False) == [],
                "publisher page opened although the library is missing")


def expected_strip_rectangle():
    """Placement at the prefix's DPI: Top = screen height - 495 - 580 and
    Left = screen width / 2 - 5895 / 2, in twips, rounded when mapped."""
    dpi = kit.prefix_dpi()
    screen_w, screen_h = (size * 1440.0 / dpi for size in kit.screen_size())

    def px(twips):  # halves up
        pixels = abs(twips) * dpi / 1440.0
        return int(pixels + 0.5 + 1e-9) if twips >= 0 else -int(pixels - 0.5)

    return (px(screen_w / 2 - 5895 / 2), px(screen_h - 495 - 580), px(5895), px(495))


def check_starts(settings):
    folder = kit.make_case_folder(library="file", settings=settings)
    log = kit.use_url_logger(folder)
    _, strip = kit.start_korvane(folder)
    # The message box comes before the strip or not at all, and the program
    # ends once it is closed: with the strip up, none can come any more.
    kit.require(kit.window_named(ALERT_TITLE) is None, "unexpected message box")
    # Shown first, then placed.
    expected = expected_strip_rectangle()
    kit.wait_for(lambda: kit.geometry(strip), lambda place: place == expected,
                 "the strip at %s" % (expected,))
    urls = opened_urls(folder, log, expected=not settings)
    if settings:
        kit.require(urls == [], "publisher page opened although test.ini exists: %s" % urls)
    else:
        kit.require(urls == [PUBLISHER_URL], "opened %s, expected [%s]" % (urls, PUBLISHER_URL))


def check_starts_at_dpi(dpi):
    """The placement at another DPI, and the Windows 8.1 answer, shcore's
    GetDpiForMonitor, gives the DPI the prefix was set to, as GetDpiForWindow
    and the system DPI do; the prefix's own setting is restored."""
    saved = {key: kit.logpixels(key) for key in kit.DPI_KEYS}
    for key in kit.DPI_KEYS:
        kit.reg_set(key, "LogPixels", dpi, "REG_DWORD")
    kit.kill_wine()
    try:
        kit.require(kit.prefix_dpi() == dpi, "the prefix did not take DPI %d" % dpi)
        check_starts(settings=True)
        found = kit.run_windows("dpi_probe.exe").split()
        expected = ["monitor", str(dpi), "window", str(dpi), "system", str(dpi)]
        kit.require(found == expected, "dpi_probe gave %s, expected %s" % (found, expected))
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
    for library, name in ((None, "library missing: message box, then the program ends"),
                          ("folder", "a folder named Update.dll counts as missing"),
                          ("hidden", "a hidden Update.dll counts as missing"),
                          ("system", "a system Update.dll counts as missing")):
        suite.run(name, lambda: check_refuses_to_start(library))
    suite.run("first run opens the publisher page and places the strip",
              lambda: check_starts(settings=False))
    suite.run("with test.ini no page is opened, same placement",
              lambda: check_starts(settings=True))
    suite.run("at 144 DPI the strip is placed by the same formula; the monitor reports 144 DPI",
              lambda: check_starts_at_dpi(144))
    return suite.exit_code()


if __name__ == "__main__":
    sys.exit(main())
