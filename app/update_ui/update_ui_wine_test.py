#!/usr/bin/env python3
"""The update check under Wine: UpdateCheck and FrmMsgbox driven by
update_ui_driver.exe against the reference update service on loopback.

Usage (through scripts/wine-env.sh):
  update_ui_wine_test.py --service tools/update_service/update_service.py --account 10001
"""

import argparse
import os
import queue
import shutil
import sys
import tempfile
import threading

import held_update_service as held
import wine_testkit as kit

PORT = kit.UPDATE_PORT
DOWNLOAD = "http://127.0.0.1:%d/download/Korvane-1.0.1.zip" % PORT
WAIT = 90  # seconds for any one step; the machine may be busy

NEWER_AT_LOAD = r"       检测到版本有更新!\r\n\r\n当前版本：1.0.0\r\n最新版本：1.0.1"
NEWER_ON_REQUEST = r"       检测到有新版本!\r\n\r\n当前版本：1.0.0\r\n最新版本：1.0.1"
UP_TO_DATE = r"       已是最新版本!\r\n\r\n当前版本：1.0.0\r\n最新版本：1.0.0"
NO_INFORMATION = r"       获取更新信息失败!\r\n\r\n当前版本：1.0.0"
NEWER = ("新版本提示", NEWER_ON_REQUEST, "下载新版本", DOWNLOAD)


class Driver:
    """update_ui_driver.exe of `folder` running its steps in `cwd` (default:
    `folder`); its lines are read as they come."""

    def __init__(self, folder, *steps, cwd=None, env=None):
        self.process = kit.spawn(os.path.join(folder, "update_ui_driver.exe"), *steps,
                                 cwd=cwd or folder, env=dict(os.environ, **(env or {})))
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            self.lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self.lines.put(None)

    def line(self):
        try:
            line = self.lines.get(timeout=WAIT)
        except queue.Empty:
            raise AssertionError("the driver said nothing for %d s" % WAIT)
        if line is None:
            raise AssertionError("the driver ended early")
        return line

    def expect(self, *expected):
        for wanted in expected:
            line = self.line()
            kit.require(line == wanted, "driver said %r, expected %r" % (line, wanted))

    def dialog(self):
        """The dialog's state after a check: caption, Label1, button, Tag,
        button centre and which window is in the foreground."""
        state = {}
        for key, prefix in (("caption", "DIALOG "), ("label1", "LABEL1 "), ("button", "BUTTON "),
                            ("tag", "TAG "), ("at", "BUTTONAT "), ("foreground", "FOREGROUND ")):
            line = self.line()
            kit.require(line.startswith(prefix), "expected %s, got %r" % (prefix.strip(), line))
            state[key] = line[len(prefix):]
            if state["caption"] == "none":
                break
        return state


def check_dialog(state, *expected):  # caption, Label1, button and Tag
    actual = tuple(state.get(key) for key in ("caption", "label1", "button", "tag"))
    kit.require(actual == expected, "dialog %r, expected %r" % (actual, expected))


def registered():
    return kit.reg_value(r"HKCR\Quorvel.Detection\CLSID") is not None


def unregister(dll):
    kit.wine_tool("regsvr32", "/u", "/s", kit.wine_path(dll))
    kit.kill_wine()
    kit.require(not registered(), "Quorvel.Detection is still registered")


def logged(log):
    return (kit.read_file(log) or b"").decode().split()


def wait_logged(log, address):
    """The logged addresses once `address` is among them: that nothing was
    opened before is checked by opening another address later."""
    kit.wait_for(lambda: address in logged(log), bool, "%s to be opened" % address, WAIT)
    return logged(log)


def click(at):
    kit.move_pointer(*at.split())
    kit.run("xdotool", "click", "1")


class Context:
    def __init__(self, args, temp, service):
        self.args, self.temp, self.service = args, temp, service
        self.driver = os.path.join(kit.TEST_BIN_DIR, "update_ui_driver.exe")
        self.dll = os.path.join(kit.BIN_DIR, "Update.dll")

    def folder(self, name, *files):
        """A folder of the case's, holding copies of `files`."""
        path = os.path.join(self.temp, name)
        os.makedirs(path, exist_ok=True)
        for file in files:
            shutil.copy(file, path)
        return path

    def offer_newer(self, address=DOWNLOAD):
        self.service.offer(self.args.account, [{"title": "Korvane 1.0.1", "imgsrc": address}])


def case_registration_then_progid(ctx):
    """regsvr32 from the load sequence registers the Update.dll beside the
    program; a program without one then gets the object by its ProgID."""
    library = ctx.folder("registered", ctx.dll, ctx.driver)
    program = ctx.folder("program", ctx.driver)
    unregister(ctx.dll)
    ctx.offer_newer()
    try:
        Driver(library, "register", cwd=program).expect("REGISTERING", "END")
        kit.wait_for(registered, bool, "regsvr32 to register Update.dll", WAIT)
        driver = Driver(program, "create", "request")
        driver.expect("CREATED")
        check_dialog(driver.dialog(), *NEWER)
        driver.expect("END")
    finally:
        kit.kill_wine()
        unregister(ctx.dll)


def case_registered_beside_program(ctx):
    """The class registered to the library beside the program, by a plain and
    an expandable path, is created through its registration, on 7 and 10."""
    folder = ctx.folder("registered-beside", ctx.dll, ctx.driver)
    dll = kit.wine_path(os.path.join(folder, "Update.dll"))
    server_key = r"HKCR\CLSID\%s\InprocServer32" % kit.DETECTION_CLSID
    ctx.offer_newer()
    try:
        kit.wine_tool("regsvr32", "/s", dll)
        if kit.reg_value(server_key) != ("REG_SZ", dll):
            raise kit.SetupFailed("regsvr32 did not register %s: %s" % (
                dll, kit.reg_value(server_key)))
        for version, reported in (("win7", "6.1"), ("win10", "10.0")):
            with kit.windows_version(version):
                for kind, path in (("REG_SZ", dll), ("REG_EXPAND_SZ", r"%KORVANE_CASE%\Update.dll")):
                    kit.reg_set(server_key, None, path, kind)
                    driver = Driver(folder, "windows", "create", "source", "request",
                                    env={"KORVANE_CASE": kit.wine_path(folder)})
                    driver.expect("WINDOWS " + reported, "CREATED", "SOURCE registration")
                    check_dialog(driver.dialog(), *NEWER)
                    driver.expect("END")
    finally:
        kit.kill_wine()
        unregister(ctx.dll)


def case_unregistered_at_load(ctx):
    """Never registered: the object comes from Update.dll beside the program.
    The dialog at load (Check1 = 1) appears without taking the focus, and its
    button opens the http address and closes the dialog."""
    folder = ctx.folder("at-load", ctx.driver, ctx.dll)
    kit.require(not registered(), "Quorvel.Detection is registered")
    log = kit.use_url_logger(ctx.folder("browser"))
    go = os.path.join(folder, "go")
    ctx.offer_newer()
    driver = Driver(folder, "focus", "waitfile:" + kit.wine_path(go), "create", "load:1",
                    "waitclosed")
    driver.expect("FOCUS")
    focus = kit.wait_for_window("KorvaneFocus")
    kit.run("xdotool", "windowfocus", "--sync", focus)
    focused = kit.run("xdotool", "getwindowfocus").stdout.strip()
    kit.require(focused == focus, "KorvaneFocus did not take the focus (%s)" % focused)
    open(go, "w").close()
    driver.expect("GO", "CREATED", "LABEL9 下载新版")
    state = driver.dialog()
    check_dialog(state, "新版本提示", NEWER_AT_LOAD, "下载新版本", DOWNLOAD)
    kit.require(state["foreground"] == "focus", "foreground: %s" % state["foreground"])
    dialog = kit.wait_for_window("新版本提示")
    # The focus stays where it was all the while the dialog is shown.
    kit.wait_for(lambda: (kit.run("xdotool", "getwindowfocus").stdout.strip(), kit.viewable(dialog)),
                 lambda state: state[1], "the dialog to be shown",
                 hold=lambda state: state[0] == focus, broken="the dialog took the focus")
    click(state["at"])
    driver.expect("CLOSED")
    kit.require(wait_logged(log, DOWNLOAD) == [DOWNLOAD], "opened %s" % logged(log))


def case_requests_and_file_address(ctx):
    """Checks on request into the one open dialog: newer, up to date (the Tag
    of the earlier notice stays), no information, whose "确定" opens nothing;
    then a fresh dialog with an address that is not a web address: the
    download button opens nothing either and closes the dialog; a last one
    with a web address opens it, after nothing else."""
    folder = ctx.folder("on-request", ctx.driver, ctx.dll)
    log = kit.use_url_logger(ctx.folder("browser-2"))
    # A file: address of a program; opening it would run the logger there.
    trap = ctx.folder("trap", os.path.join(kit.TEST_BIN_DIR, "url_logger.exe"))
    file_address = "file:///" + kit.wine_path(trap).replace("\\", "/") + "/url_logger.exe"
    last = DOWNLOAD.replace(".zip", "-last.zip")
    newer = lambda address: [{"title": "Korvane 1.0.1", "imgsrc": address}]  # noqa: E731
    # Each next check: (account, what the service offers it, the dialog's
    # caption, Label1, button and Tag, whether its button is clicked).
    steps = [(ctx.args.account, [{"title": "Korvane 1.0.0", "imgsrc": "http://other/"}],
              ("版本信息", UP_TO_DATE, "确定", DOWNLOAD), False),
             (ctx.args.account + "0", [], ("错误提示", NO_INFORMATION, "确定", DOWNLOAD), True),
             (ctx.args.account, newer(file_address),
              ("新版本提示", NEWER_ON_REQUEST, "下载新版本", file_address), True),
             (ctx.args.account, newer(last), ("新版本提示", NEWER_ON_REQUEST, "下载新版本", last), True)]
    go = [os.path.join(folder, "go%d" % i) for i in range(len(steps))]
    ctx.offer_newer()
    driver = Driver(folder, "create", "request", *sum(
        (["waitfile:" + kit.wine_path(file), "request"] + ["waitclosed"] * clicked
         for file, (*_, clicked) in zip(go, steps)), []))
    driver.expect("CREATED")
    check_dialog(driver.dialog(), *NEWER)
    for file, (account, entries, dialog, clicked) in zip(go, steps):
        ctx.service.offer(account, entries)
        open(file, "w").close()
        driver.expect("GO")
        state = driver.dialog()
        check_dialog(state, *dialog)
        if clicked:
            click(state["at"])
            driver.expect("CLOSED")
    # Only the last address was opened: neither "确定" nor the file: address
    # opened anything before it.
    kit.require(wait_logged(log, last) == [last], "opened %s" % logged(log))
    kit.require(not os.path.exists(os.path.join(trap, "opened-urls.txt")), "the file: address ran")


def case_nested_checks(ctx):
    """Ten clicks on the link, each during the wait of the check that the one
    before started: eight checks reach the service and wait there, the ninth
    and tenth click do nothing; once the replies go out every check ends and
    the dialog shows the newer version."""
    folder = ctx.folder("nested", ctx.driver, ctx.dll)
    with held.HeldUpdateService(link=DOWNLOAD) as service:
        driver = Driver(folder, "create", "nest:10")
        driver.expect("CREATED")
        kit.require(service.wait_arrived(8, WAIT),
                    "%d of 8 nested checks reached the service" % service.counts()[0])
        # The tenth click returns while all eight checks still wait; a ninth
        # check would reach the service instead.
        def next_line():
            try:
                return driver.lines.get(timeout=0.2)
            except queue.Empty:
                return None

        line = kit.wait_for(lambda: (service.counts()[0], next_line()),
                            lambda state: state[1] is not None, "the tenth click to return",
                            WAIT, pause=0, hold=lambda state: state[0] == 8,
                            broken="other than 8 checks reached the service")[1]
        kit.require(line == "CLICKS 10", "driver said %r, expected 'CLICKS 10'" % line)
        kit.require(service.counts() == (8, 0), "replies went out before the release: %s" % (
            service.counts(),))
        service.release_all(hold_on=False)
        check_dialog(driver.dialog(), *NEWER)
        driver.expect("END")
        kit.require(service.counts() == (8, 8),
                    "requests and replies, expected 8 of each: %s" % (service.counts(),))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--service", required=True)
    parser.add_argument("--account", required=True)
    args = parser.parse_args()

    kit.kill_wine()
    suite = kit.Suite()
    with tempfile.TemporaryDirectory(prefix="korvane-update-ui-") as temp:
        service = kit.UpdateService(os.path.join(temp, "entries.json"), script=args.service)
        service.offer(args.account, [])
        with service:
            ctx = Context(args, temp, service)
            suite.run("regsvr32 from the load sequence, then creation by ProgID",
                      lambda: case_registration_then_progid(ctx))
            suite.run("registered beside the program: created through the registration,"
                      " plain and expandable path, Windows 7 and 10",
                      lambda: case_registered_beside_program(ctx))
            suite.run("never registered: the dialog at load, no focus taken, http opened",
                      lambda: case_unregistered_at_load(ctx))
            suite.run("on request: newer, up to date, no information (确定 opens nothing);"
                      " file: opens nothing",
                      lambda: case_requests_and_file_address(ctx))
        # The port is the held service's now.
        suite.run("ten clicks nested in each other's waits: eight checks, the rest do nothing",
                  lambda: case_nested_checks(Context(args, temp, None)))
    return suite.exit_code()


if __name__ == "__main__":
    sys.exit(main())
