"""Korvane while the update check waits for the service, which holds its
replies until the test releases them: each step runs while a check is known
to be waiting.

Usage: update_wait_wine_test.py ACCOUNT   (run through wine-env.sh)
"""

import os
import sys
import time

import held_update_service as held
import wine_testkit as kit

WAIT = 60  # seconds for any one condition; the machine may be busy
PANEL, TEXT1, COMMAND1, LABEL9, WHITE = "Korvanev1.0", "101", "102", "121", (255, 255, 255)
probe = kit.panel_probe


def start():
    """(folder, process, strip): Korvane with its library and Check1 = 0."""
    folder = kit.make_case_folder(library="Update.dll", settings=True, check1=0)
    return (folder, *kit.start_korvane(folder))


def click_control(panel, left, top, width, height):
    kit.click_twips(panel, kit.prefix_dpi(), left, top, width, height)


def panel_with_a_waiting_check(service, typed=None):
    """(folder, process, strip, panel, requests before) with the panel shown,
    `typed` in Text1 and a check on request waiting for its held reply."""
    service.set_holding(False)
    folder, process, strip = start()
    kit.right_click_strip(strip)
    # The panel shows once the check at its load is over.
    kit.probe_reads("1", "the panel to show", "visible")
    panel = kit.wait_for_window(PANEL)
    kit.settled_geometry(panel)
    service.set_holding(True)
    kit.run("xdotool", "windowfocus", "--sync", panel)
    click_control(panel, 240, 480, 5295, 1575)  # Text1, on its tab
    kit.probe_reads(TEXT1, "Text1 to take the focus", "focus")
    if typed:
        kit.run("xdotool", "key", "ctrl+a")
        kit.run("xdotool", "type", typed)
        kit.probe_reads(typed, "Text1 to read it", "text", TEXT1)
    arrived = service.counts()[0]
    click_control(panel, 5520, 2280, 720, 180)  # Label9: 检测更新
    kit.require(service.wait_arrived(arrived + 1, WAIT), "the click on 检测更新 made no check")
    return folder, process, strip, panel, arrived


def check_tab_during_a_waiting_check():
    with held.HeldUpdateService() as service:
        _, _, _, panel, arrived = panel_with_a_waiting_check(service)
        kit.run("xdotool", "key", "Tab")
        kit.probe_reads(COMMAND1, "Tab during the check to move the focus to Command1", "focus")
        text = probe("text", TEXT1)
        # Still inside the check: its reply is held.
        kit.require(service.counts()[1] == arrived, "the check was over too soon")
        kit.require(text == "欢迎使用!", "Tab during the check changed Text1 to %r" % text)
        service.release_all(hold_on=False)
        kit.wait_for_window("新版本提示", timeout=WAIT)


# What ends the panel while a check waits: (name, action, whether the
# program ends).
ENDINGS = [
    ("Exit", lambda panel: click_control(panel, 6960, 1680, 975, 375), True),
    ("the end of the session", lambda panel: kit.require(
        probe("endsession") == "ended", "the program refused to end the session"), True),
    ("OK", lambda panel: click_control(panel, 5640, 600, 1095, 495), False),
    ("closing the panel", lambda panel: kit.run("xdotool", "windowfocus", "--sync", panel, "key",
                                                "alt+F4"), False),
]
TYPED = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"


def check_ending_during_a_waiting_check(name, act, ends):
    with held.HeldUpdateService() as service:
        folder, process, strip, panel, arrived = panel_with_a_waiting_check(service, TYPED)
        ini = os.path.join(folder, "test.ini")
        os.remove(ini)  # read at the panel's load; closing writes it again
        act(panel)
        if ends:
            code = kit.wait_for(process.poll, lambda code: code is not None,
                                "the program to end after %s" % name, WAIT)
            kit.require(code == 0, "the program ended with %s after %s" % (code, name))
            kit.require(not os.path.exists(ini), "%s wrote test.ini" % name)
        else:
            kit.probe_reads("0", "%s to hide the panel" % name, "visible")
            if name == "OK":
                kit.wait_for(lambda: kit.caption_box(strip),
                             lambda box: box and box[2] - box[0] > 150,
                             "the text OK applied on the strip")
            else:
                kit.wait_for(lambda: os.path.exists(ini) and open(ini, "rb").read(),
                             lambda data: data == b"[Check]\r\nCheck1=0\r\n",
                             "closing to write test.ini")
        kit.require(service.counts()[1] == arrived, "the check was over before %s" % name)
        service.release_all(hold_on=False)
        if not ends:
            kit.wait_for_window("新版本提示", timeout=WAIT)
            kit.require(process.poll() is None, "the program ended after the reply")


def check_drag_across_the_first_wrap():
    with held.HeldUpdateService() as service:
        _, _, strip = start()
        # The press comes before the first wrap (about 10.8 s after start),
        # which loads the panel hidden and starts its check; at a point of
        # the strip's surface away from the caption.
        sx, sy, w, h = area = kit.settled_geometry(strip)
        box = kit.ink_box(kit.grab(*area), WHITE)
        px, py = (sx + 10 if box is None or box[0] > w // 2 else sx + w - 10), sy + h // 2
        kit.move_pointer(px, py)
        kit.run("xdotool", "mousedown", "1")
        # While the strip follows the pointer: how many readings of its place
        # it takes to see it there, the yardstick for "it does not follow"
        # below.
        follow = 1
        for step in range(1, 4):
            kit.move_pointer(px - 20 * step, py - 20 * step)
            at = (sx - 20 * step, sy - 20 * step)
            readings = 0

            def arrived_at():
                nonlocal readings
                readings += 1
                return kit.geometry(strip)[:2] == at

            kit.wait_for(arrived_at, bool, "the strip to follow the drag to %s" % (at,), WAIT,
                         0.05)
            follow = max(follow, readings)
            # The press came before the first wrap, which creates the panel.
            kit.require(step > 1 or probe("visible") == "none",
                        "the first wrap came before the press was handled")
        kit.require(service.wait_arrived(1, WAIT), "the first wrap made no check")
        kit.require(probe("visible") == "0", "the first wrap did not load the panel hidden")
        # The button is released while the check waits for its reply.
        dx, dy = -100, -150
        kit.move_pointer(px + dx, py + dy)
        kit.run("xdotool", "mouseup", "1")
        kit.require(service.counts()[1] == 0, "the check was over before the release")
        service.release_all(hold_on=False)
        kit.probe_reads("下载新版", "the check to end", "text", LABEL9)
        dropped = (sx + dx, sy + dy)
        kit.wait_for(lambda: kit.geometry(strip)[:2], lambda at: at == dropped,
                     "the strip where it was dropped, at %s" % (dropped,))
        # After the check the strip stays where it was dropped, wherever the
        # pointer goes: read its place ten times as often as it took to see
        # it follow above (and at least 20 times).
        kit.move_pointer(px + 150, py - 250)
        for _ in range(max(10 * follow, 20)):
            at = kit.geometry(strip)[:2]
            kit.require(at == dropped, "the strip moved to %s after the drop at %s" % (at, dropped))
            time.sleep(0.05)


def main():
    kit.kill_wine()
    kit.forget_update_library()
    suite = kit.Suite()
    suite.run("Tab in Text1 during a waiting check moves the focus and leaves the text",
              check_tab_during_a_waiting_check)
    for name, act, ends in ENDINGS:
        suite.run("%s while a check waits: %s" % (name, "the program ends and writes nothing"
                                                   if ends else "applied, then the reply taken"),
                  lambda: check_ending_during_a_waiting_check(name, act, ends))
    suite.run("a drag across the first wrap ends where the button is released",
              check_drag_across_the_first_wrap)
    return suite.exit_code()


if __name__ == "__main__":
    sys.exit(main())
