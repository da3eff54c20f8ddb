"""Korvane while the update check waits for the service: the panel's keys
keep working, and a drag across the first wrap ends where the button is
released.

The service holds its replies until the test releases them, so each step
runs while a check is known to be waiting.

Usage: update_wait_wine_test.py ACCOUNT   (run through wine-env.sh)
"""

import os
import shutil
import sys
import time

import held_update_service as held
import wine_testkit as kit

ACCOUNT = sys.argv[1]
WAIT = 60  # seconds for any one condition; the machine may be busy
PANEL = "Korvanev1.0"
TEXT1, COMMAND1, LABEL9 = "101", "102", "121"
WHITE = (255, 255, 255)
DOWNLOAD = "http://127.0.0.1/download/Korvane.zip"
probe = kit.panel_probe


def held_service():
    """The service offering 1.0.1, holding its replies."""
    return held.HeldUpdateService(kit.UPDATE_PORT, DOWNLOAD)


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


def settled_geometry(window):
    """The window's place once two readings agree."""
    last = None

    def same():
        nonlocal last
        now = kit.geometry(window)
        agreed, last = now == last, now
        return agreed

    kit.wait_until(same, WAIT)
    return last


def move_to(x, y):
    """Moves the pointer and waits until it is there. (xdotool's own --sync
    can wait for ever when the pointer is there already.)"""
    kit.run("xdotool", "mousemove", str(x), str(y))

    def there():
        out = kit.run("xdotool", "getmouselocation", "--shell").stdout
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return (values.get("X"), values.get("Y")) == (str(x), str(y))

    kit.require(kit.wait_until(there, WAIT, 0.05), "the pointer did not get to %d,%d" % (x, y))


def click_control(panel, left, top, width, height):
    """Clicks the middle of a panel control laid out at these twips."""
    dpi = kit.prefix_dpi()
    x, y, _, _ = kit.geometry(panel)
    move_to(x + int((left + width / 2) * dpi / 1440), y + int((top + height / 2) * dpi / 1440))
    kit.run("xdotool", "click", "1")


def check_tab_during_a_waiting_check():
    with held_service() as service:
        # The check at the panel's load answers at once.
        service.set_holding(False)
        strip = start()
        x, y, w, h = kit.geometry(strip)
        kit.run("xdotool", "mousemove", str(x + w - 20), str(y + h // 2), "click", "3")
        # The panel shows once the check at its load is over.
        kit.require(kit.wait_until(lambda: probe("visible") == "1", WAIT),
                    "no panel after a right-click")
        panel = kit.wait_for_window(PANEL)
        kit.require(panel, "no window %s" % PANEL)
        settled_geometry(panel)
        service.set_holding(True)
        kit.run("xdotool", "windowfocus", "--sync", panel)
        click_control(panel, 240, 480, 5295, 1575)  # Text1, on its tab
        kit.require(kit.wait_until(lambda: probe("focus") == TEXT1, WAIT),
                    "Text1 did not take the focus (%s)" % probe("focus"))
        arrived = service.counts()[0]
        click_control(panel, 5520, 2280, 720, 180)  # Label9: 检测更新
        kit.require(service.wait_arrived(arrived + 1, WAIT),
                    "the click on 检测更新 made no check")
        kit.run("xdotool", "key", "Tab")
        moved = kit.wait_until(lambda: probe("focus") == COMMAND1, WAIT)
        focus, text = probe("focus"), probe("text", TEXT1)
        # Still inside the check: its reply is held.
        kit.require(service.counts()[1] == arrived, "the check was over too soon")
        kit.require(moved, "Tab during the check left the focus on %s" % focus)
        kit.require(text == "欢迎使用!", "Tab during the check changed Text1 to %r" % text)
        service.release_all(hold_on=False)
        kit.require(kit.wait_for_window("新版本提示", timeout=WAIT),
                    "no dialog once the reply came")


def caption_free_point(strip):
    """A point of the strip's surface away from the caption."""
    x, y, w, h = kit.geometry(strip)
    box = kit.ink_box(kit.grab(x, y, w, h), WHITE)
    if box is None or box[0] > w // 2:
        return x + 10, y + h // 2
    return x + w - 10, y + h // 2


def check_drag_across_the_first_wrap():
    with held_service() as service:
        strip = start()
        sx, sy, _, _ = settled_geometry(strip)
        # The press comes before the first wrap (about 10.8 s after start),
        # which loads the panel hidden and starts its check.
        px, py = caption_free_point(strip)
        move_to(px, py)
        kit.run("xdotool", "mousedown", "1")
        # While the strip follows the pointer: how many readings of its place
        # it takes to see it there, the yardstick for "it does not follow"
        # below.
        follow = 1
        for step in range(1, 4):
            move_to(px - 20 * step, py - 20 * step)
            at = (sx - 20 * step, sy - 20 * step)
            readings = 0

            def arrived_at():
                nonlocal readings
                readings += 1
                return kit.geometry(strip)[:2] == at

            kit.require(kit.wait_until(arrived_at, WAIT, 0.05),
                        "the strip did not follow the drag to %s" % (at,))
            follow = max(follow, readings)
        kit.require(service.wait_arrived(1, WAIT), "the first wrap made no check")
        kit.require(probe("visible") == "0", "the first wrap did not load the panel hidden")
        # The button is released while the check waits for its reply.
        dx, dy = -100, -150
        move_to(px + dx, py + dy)
        kit.run("xdotool", "mouseup", "1")
        kit.require(service.counts()[1] == 0, "the check was over before the release")
        service.release_all(hold_on=False)
        kit.require(kit.wait_until(lambda: probe("text", LABEL9) == "下载新版", WAIT),
                    "the check did not end")
        dropped = (sx + dx, sy + dy)
        kit.require(kit.wait_until(lambda: kit.geometry(strip)[:2] == dropped, WAIT),
                    "strip at %s, dropped at %s" % (kit.geometry(strip)[:2], dropped))
        # After the check the strip stays where it was dropped, wherever the
        # pointer goes: read its place ten times as often as it took to see
        # it follow above (and at least 20 times).
        move_to(px + 150, py - 250)
        for _ in range(max(10 * follow, 20)):
            at = kit.geometry(strip)[:2]
            kit.require(at == dropped, "the strip moved to %s after the drop at %s" % (at, dropped))
            time.sleep(0.05)
        print("  the strip was seen following the pointer within %d readings" % follow)


def main():
    kit.kill_wine()
    kit.forget_update_library()
    suite = kit.Suite()
    suite.run("Tab in Text1 during a waiting check moves the focus and leaves the text",
              check_tab_during_a_waiting_check)
    suite.run("a drag across the first wrap ends where the button is released",
              check_drag_across_the_first_wrap)
    return suite.exit_code()


if __name__ == "__main__":
    sys.exit(main())
