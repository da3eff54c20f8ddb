"""Korvane while the update check waits for a slowed service: the panel's
keys keep working, and a drag across the first wrap ends where the button
is released.

Usage: update_wait_wine_test.py ACCOUNT   (run through wine-env.sh)
"""

import os
import shutil
import sys
import tempfile
import time

import wine_testkit as kit

ACCOUNT = sys.argv[1]
DELAY = 8  # seconds the service takes to answer
PANEL = "Korvanev1.0"
TEXT1, COMMAND1, LABEL9 = "101", "102", "121"
WHITE = (255, 255, 255)
probe = kit.panel_probe


def slowed_service():
    """The service offering 1.0.1, answering after DELAY seconds."""
    return kit.offering(tempfile.mkdtemp(prefix="korvane-service-"), ACCOUNT, "1.0.1", "--delay",
                        str(DELAY))


def start():
    """Korvane with its library and Check1 = 0 (no notice in the way)."""
    folder = kit.make_case_folder(library=None, settings=False)
    shutil.copy(os.path.join(kit.BIN_DIR, "Update.dll"), folder)
    with open(os.path.join(folder, "test.ini"), "w") as f:
        f.write("[Check]\r\nCheck1=0\r\n")
    kit.start_korvane(folder)
    strip = kit.wait_for_window("Form1")
    kit.require(strip, "strip window Form1 not found")
    return strip


def click_control(panel, left, top, width, height):
    """Clicks the middle of a panel control laid out at these twips."""
    dpi = kit.prefix_dpi()
    x, y, _, _ = kit.geometry(panel)
    kit.run("xdotool", "mousemove", str(x + int((left + width / 2) * dpi / 1440)),
            str(y + int((top + height / 2) * dpi / 1440)), "click", "1")


def check_tab_during_a_slow_check():
    with slowed_service():
        strip = start()
        x, y, w, h = kit.geometry(strip)
        kit.run("xdotool", "mousemove", str(x + w - 20), str(y + h // 2), "click", "3")
        # The panel shows once the check at its load is over.
        deadline = time.time() + DELAY + 30
        while time.time() < deadline and probe("visible") != "1":
            time.sleep(0.3)
        panel = kit.wait_for_window(PANEL)
        kit.require(panel and probe("visible") == "1", "no panel after a right-click")
        time.sleep(1)
        kit.run("xdotool", "windowfocus", "--sync", panel)
        click_control(panel, 240, 480, 5295, 1575)  # Text1, on its tab
        time.sleep(0.5)
        focus = probe("focus")
        kit.require(focus == TEXT1, "Text1 did not take the focus (%s)" % focus)
        click_control(panel, 5520, 2280, 720, 180)  # Label9: 检测更新
        time.sleep(1.5)
        kit.run("xdotool", "key", "Tab")
        time.sleep(1)
        focus, text = probe("focus"), probe("text", TEXT1)
        # Still inside the check: its dialog has not come yet.
        kit.require(kit.wait_for_window("新版本提示", timeout=0.1) is None,
                    "the check was over too soon")
        kit.require(focus == COMMAND1, "Tab during the check left the focus on %s" % focus)
        kit.require(text == "欢迎使用!", "Tab during the check changed Text1 to %r" % text)


def caption_free_point(strip):
    """A point of the strip's surface away from the caption."""
    x, y, w, h = kit.geometry(strip)
    box = kit.ink_box(kit.grab(x, y, w, h), WHITE)
    if box is None or box[0] > w // 2:
        return x + 10, y + h // 2
    return x + w - 10, y + h // 2


def check_drag_across_the_first_wrap():
    with slowed_service():
        strip = start()
        started = time.time()
        sx, sy, _, _ = kit.geometry(strip)
        # The first wrap comes about 10.8 s after start and loads the panel
        # hidden; the press comes before it, the release during its check.
        time.sleep(max(0.0, 8 - (time.time() - started)))
        px, py = caption_free_point(strip)
        kit.run("xdotool", "mousemove", str(px), str(py), "mousedown", "1")
        for step in range(1, 4):
            kit.run("xdotool", "mousemove", str(px - 20 * step), str(py - 20 * step))
            time.sleep(0.2)
        deadline = time.time() + 20
        while time.time() < deadline and probe("visible") == "none":
            time.sleep(0.2)
        kit.require(probe("visible") == "0", "the first wrap did not load the panel")
        dx, dy = -100, -150
        kit.run("xdotool", "mousemove", str(px + dx), str(py + dy))
        time.sleep(0.5)
        kit.run("xdotool", "mouseup", "1")
        # After the check the strip stays where it was dropped, wherever the
        # pointer goes.
        time.sleep(DELAY + 2)
        kit.run("xdotool", "mousemove", str(px + 150), str(py - 250))
        time.sleep(1)
        at = kit.geometry(strip)[:2]
        kit.require(at == (sx + dx, sy + dy),
                    "strip at %s, dropped at %s" % (at, (sx + dx, sy + dy)))


def main():
    kit.kill_wine()
    kit.forget_update_library()
    suite = kit.Suite()
    suite.run("Tab in Text1 during a slow check moves the focus and leaves the text",
              check_tab_during_a_slow_check)
    suite.run("a drag across the first wrap ends where the button is released",
              check_drag_across_the_first_wrap)
    return suite.exit_code()


if __name__ == "__main__":
    sys.exit(main())
