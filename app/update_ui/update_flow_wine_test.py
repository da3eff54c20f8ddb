"""The update check at the panel's load, end to end: Korvane.exe and
Update.dll in a fresh folder, the reference update service on loopback.

Usage: update_flow_wine_test.py SERVICE_SCRIPT ACCOUNT   (run through wine-env.sh)
"""

import os
import shutil
import sys
import time

import wine_testkit as kit

SERVICE, ACCOUNT = sys.argv[1], sys.argv[2]
NOTICE = "新版本提示"
LABEL9 = "121"
WHITE = (255, 255, 255)


probe = kit.panel_probe


def offering(folder):
    return kit.offering(folder, ACCOUNT)


def start(check1):
    folder = kit.make_case_folder(library=None, settings=False)
    shutil.copy(os.path.join(kit.BIN_DIR, "Update.dll"), folder)
    with open(os.path.join(folder, "test.ini"), "w") as f:
        f.write("[Check]\r\nCheck1=%d\r\n" % check1)
    kit.start_korvane(folder)
    strip = kit.wait_for_window("Form1")
    kit.require(strip, "strip window Form1 not found")
    return folder, strip


def wait_loaded(timeout=40):
    deadline = time.time() + timeout
    while time.time() < deadline and probe("visible") == "none":
        time.sleep(0.5)


def check_notice_at_the_first_wrap():
    with offering(kit.make_case_folder(library=None)):
        start(check1=1)
        # The first wrap, on the 72nd tick, loads the panel and checks.
        notice = kit.wait_for_window(NOTICE, timeout=40)
        kit.require(notice, "no new-version notice")
        kit.require(probe("visible") == "0", "the wrap showed the panel")
        kit.require(probe("text", LABEL9) == "下载新版", "Label9 does not read 下载新版")
        kit.require(kit.run("xdotool", "getwindowfocus").stdout.strip() != notice,
                    "notice took the focus")
        shot = os.path.join(os.environ.get("KORVANE_BUILD_DIR", "."), "update-notice.png")
        kit.run("import", "-window", "root", shot)


def check_no_notice_when_unticked():
    with offering(kit.make_case_folder(library=None)):
        start(check1=0)
        wait_loaded()
        kit.require(probe("visible") == "0", "the panel did not load at the first wrap")
        time.sleep(2)
        kit.require(kit.wait_for_window(NOTICE, timeout=0.5) is None,
                    "notice shown with Check1 = 0")
        kit.require(probe("text", LABEL9) == "下载新版", "Label9 does not read 下载新版")


def check_service_down_keeps_the_program_responsive():
    # Nothing listens on the port: the check waits for its time-out.
    _, strip = start(check1=1)
    x, y, w, h = kit.geometry(strip)
    kit.run("xdotool", "mousemove", str(x + w - 20), str(y + h // 2), "click", "3")
    clicked = time.time()
    time.sleep(3)
    first = kit.ink_box(kit.grab(x, y, w, h), WHITE)
    time.sleep(1.5)
    second = kit.ink_box(kit.grab(x, y, w, h), WHITE)
    kit.require(first != second, "the strip stood still while the check waited")
    kit.require(probe("visible") in ("none", "0"), "panel shown before the check returned")
    deadline = time.time() + 60
    while time.time() < deadline and probe("visible") != "1":
        time.sleep(0.5)
    kit.require(probe("visible") == "1", "the panel never showed")
    print("   right-click to panel shown: %.1f s" % (time.time() - clicked), flush=True)
    kit.require(probe("text", LABEL9) == "检测更新", "Label9 does not read 检测更新")
    kit.require(kit.wait_for_window(NOTICE, timeout=0.5) is None, "notice shown without a reply")


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
