"""The update check at the panel's load, end to end: Korvane.exe and
Update.dll in a fresh folder, the reference update service on loopback.

Usage: update_flow_wine_test.py SERVICE_SCRIPT ACCOUNT   (run through wine-env.sh)
"""

import collections
import sys

import wine_testkit as kit

SERVICE, ACCOUNT = sys.argv[1], sys.argv[2]
NOTICE = "新版本提示"
# The notice's window class and its controls: the message and the button.
NOTICE_CLASS, NOTICE_LABEL1, NOTICE_COMMAND1 = "KorvaneFrmMsgbox", "1", "2"
NEWER_AT_LOAD = "       检测到版本有更新!\r\n\r\n当前版本：1.0.0\r\n最新版本：1.0.1"
LABEL9 = "121"
# Deadlines, only a safety net: every wait ends on its condition. A check
# against a service that is down waits for the request's time-out.
WAIT, DOWN = 60.0, 120.0
probe = kit.panel_probe


def notice_text(control):
    """A control's text in the notice, exactly: leading blanks and CR LF kept."""
    return kit.run_windows("panel_probe.exe", "text", control, NOTICE_CLASS, timeout=WAIT)


def start(check1):
    folder = kit.make_case_folder(library="Update.dll", settings=True, check1=check1)
    return folder, kit.start_korvane(folder)[1]


def drawn(rows):
    """Whether a window shows dark text on a light face (its commonest colour)."""
    pixels = [row[i:i + 3] for row in rows for i in range(0, len(row), 3)]
    face = collections.Counter(pixels).most_common(1)[0][0]
    return sum(face) > 600 and any(sum(pixel) < 200 for pixel in pixels)


def check_notice_at_the_first_wrap():
    with kit.offering(kit.make_case_folder(library=None), ACCOUNT):
        start(check1=1)
        # The first wrap, on the 72nd tick, loads the panel and checks.
        notice = kit.wait_for_window(NOTICE, timeout=WAIT)
        # The notice is drawn on the screen: the message's dark text on the
        # dialog's light face; the focus stays where it was all the while it
        # is shown and drawn.
        focus = lambda: kit.run("xdotool", "getwindowfocus").stdout.strip()  # noqa: E731
        area = kit.settled_geometry(notice)
        kit.wait_for(lambda: (focus(), kit.grab(*area)), lambda state: drawn(state[1]),
                     "the notice at %s to show text on a light face" % (area,),
                     hold=lambda state: state[0] != notice, broken="notice took the focus")
        kit.require(probe("visible") == "0", "the wrap showed the panel")
        kit.require(probe("text", LABEL9) == "下载新版", "Label9 does not read 下载新版")
        message = notice_text(NOTICE_LABEL1)
        kit.require(message == NEWER_AT_LOAD, "the notice says %r" % message)
        button = notice_text(NOTICE_COMMAND1)
        kit.require(button == "下载新版本", "the notice's button reads %r" % button)
        kit.require(focus() != notice, "notice took the focus")


def check_no_notice_when_unticked():
    with kit.offering(kit.make_case_folder(library=None), ACCOUNT):
        start(check1=0)
        # The first wrap loads the panel; the check at load ends by naming
        # the link, after it would have filled the notice.
        kit.wait_for(lambda: (probe("text", LABEL9), probe("visible", NOTICE_CLASS)),
                     lambda state: state[0] == "下载新版", "Label9 to read 下载新版", WAIT,
                     hold=lambda state: state[1] == "none", broken="notice shown with Check1 = 0")
        kit.require(probe("visible") == "0", "the first wrap showed the panel")
        kit.require(probe("visible", NOTICE_CLASS) == "none", "notice shown with Check1 = 0")


def check_service_down_keeps_the_program_responsive():
    # Nothing listens on the port: the check waits for its time-out.
    _, strip = start(check1=1)
    kit.right_click_strip(strip)
    # The panel's window exists, hidden, while its load waits for the check.
    kit.require(kit.wait_for(lambda: probe("visible"), lambda state: state != "none",
                             "the right-click to start the panel's load") == "0",
                "the panel was shown at once")
    kit.wait_for_ticks(strip, 1)  # the strip moves on while the check waits
    kit.require(probe("visible") == "0", "panel shown before the check returned")
    # The notice could come until the check has ended, which shows the panel.
    kit.wait_for(lambda: (probe("visible"), probe("visible", NOTICE_CLASS)),
                 lambda state: state[0] == "1", "the panel to show", DOWN,
                 hold=lambda state: state[1] == "none", broken="notice shown without a reply")
    kit.require(probe("text", LABEL9) == "检测更新", "Label9 does not read 检测更新")
    kit.require(probe("visible", NOTICE_CLASS) == "none", "notice shown without a reply")


def main():
    kit.kill_wine()
    suite = kit.Suite()
    suite.run("newer version at the first wrap: notice without focus, Label9 reads 下载新版",
              check_notice_at_the_first_wrap)
    suite.run("Check1 = 0: no notice, Label9 reads 下载新版", check_no_notice_when_unticked)
    suite.run("service down: the strip scrolls, the panel shows after the check, no notice",
              check_service_down_keeps_the_program_responsive)
    return suite.exit_code()


if __name__ == "__main__":
    sys.exit(main())
