"""Text1's text box under Wine, alone in a window (text_box_probe): the
context menu that Shift+F10 opens is the box's own, at the caret, in the
rich edit control and in the plain edit control it falls back to.

Usage: text_box_wine_test.py   (run through wine-env.sh)
"""

import sys

import wine_testkit as kit


def check_keyboard_menu(kind):
    """The menu key's WM_CONTEXTMENU carries no position (-1, -1): the menu
    opens at the caret, with the box's eight entries (six commands, two
    separators), not at the screen's corner."""
    probe = kit.spawn("text_box_probe.exe", kind, text=True)
    try:
        window = kit.wait_for_window("TextBoxProbe")
        kit.run("xdotool", "windowfocus", "--sync", window)
        line = probe.stdout.readline().strip()  # the probe gives up after 20 s
        kit.require(line == "focus", "the box did not get the keyboard: %r" % line)
        kit.run("xdotool", "key", "shift+F10")
        found = probe.stdout.readline().split()
    finally:
        probe.kill()
        probe.wait()
    kit.require(len(found) == 8 and found[0] == "menu", "text_box_probe gave %s" % found)
    menu_x, menu_y, caret_x, caret_y, items = (int(found[i]) for i in (1, 2, 4, 5, 7))
    kit.require(items == 8, "the menu has %d entries, not the box's 8" % items)
    kit.require(abs(menu_x - caret_x) <= 2 and abs(menu_y - caret_y) <= 2,
                "menu at (%d, %d), caret at (%d, %d)" % (menu_x, menu_y, caret_x, caret_y))


def main():
    kit.kill_wine()
    suite = kit.Suite()
    for kind in ("rich", "plain"):
        suite.run("Shift+F10 in the %s edit box: its menu at the caret" % kind,
                  lambda: check_keyboard_menu(kind))
    return suite.exit_code()


if __name__ == "__main__":
    sys.exit(main())
