"""Helpers for the Korvane integration tests under Wine and X.

The tests run inside the project's Wine environment (own prefix, zh_CN
locale, a display). Each case runs Korvane.exe from a fresh folder of its
own and ends every program it started in the prefix afterwards; the prefix's
wineserver and Wine's background programs stay up for the whole test.
"""

import ctypes
import ctypes.util
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

# The checks must run: a test under -O would pass whatever happens.
if sys.flags.optimize:
    raise SystemExit("wine_testkit: run the tests without -O and without PYTHONOPTIMIZE")

BIN_DIR = os.environ.get("KORVANE_BIN_DIR", "")
TEST_BIN_DIR = os.environ.get("KORVANE_TEST_BIN_DIR", "")


def run(*args, check=False, timeout=60):
    # Wine's own tools print in the ANSI code page (GBK), xdotool in UTF-8.
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          encoding="utf-8", errors="replace", check=check, timeout=timeout)


# Wine's own tools named without a path (reg, regsvr32, cmd, cscript,
# rundll32) start as the 32-bit builds from syswow64 wherever Wine's 32-bit
# half is installed, even in a 64-bit prefix, and the 32-bit reg reads and
# writes the 32-bit registry view.


def wine_loader():
    """The Wine loader that starts those tools in the prefix's own
    architecture, the one the program under test runs in (wine-env.sh finds
    it for a 64-bit prefix)."""
    if os.environ.get("WINEARCH") == "win32":
        return "wine"
    return os.environ.get("KORVANE_WINE") or "wine"


class SetupFailed(Exception):
    """A case's preparation did not take: the case fails, never passes
    without testing what it meant to."""


def wine_tool(*args, timeout=120):
    """Runs one of Wine's own tools; (exit code, output decoded from the
    console's code page, GBK)."""
    # Output through a file: a wineserver started by this call would hold a
    # pipe open for seconds after the tool exits.
    with tempfile.TemporaryFile() as out:
        result = subprocess.run([wine_loader(), *args], stdout=out, stderr=subprocess.DEVNULL,
                                timeout=timeout)
        out.seek(0)
        return result.returncode, out.read().decode("gbk", "replace")


# One value in the output of "reg query": name, type, data.
_REG_LINE = re.compile(r"\s+(\S.*?)\s+(REG_\w+)\s*(.*)$")


def _value_switch(name):
    return ["/ve"] if name is None else ["/v", name]


def reg_value(key, name=None):
    """(type, data) of a registry value as the program sees it (None for the
    key's default value), or None when it is missing."""
    code, out = wine_tool("reg", "query", key, *_value_switch(name))
    if code != 0:
        return None
    for line in out.splitlines():
        match = _REG_LINE.match(line)
        if match:
            return match.group(2), match.group(3).strip()
    return None


def reg_key_exists(key):
    return wine_tool("reg", "query", key)[0] == 0


def reg_set(key, name, data, kind="REG_SZ"):
    """Writes a value where the program looks, then reads it back."""
    wine_tool("reg", "add", key, *_value_switch(name), "/t", kind, "/d", str(data), "/f")
    found = reg_value(key, name)
    if kind == "REG_DWORD":
        took = found is not None and int(found[1], 16) == int(data)
    else:
        took = found == (kind, str(data))
    if not took:
        raise SetupFailed(f"{key} {name or '(default)'} reads {found}, not {kind} {data}")


def reg_delete(key, name=None):
    """Removes a value (or with name None the whole key) and checks it is gone."""
    wine_tool("reg", "delete", key, *([] if name is None else ["/v", name]), "/f")
    gone = reg_value(key, name) is None if name is not None else not reg_key_exists(key)
    if not gone:
        raise SetupFailed(f"{key} {name or ''} is still there")


class windows_version:
    """For a with-block, the Windows version that Wine reports in the prefix
    ("win7", "win10"); the setting before it is put back afterwards."""

    KEY = r"HKCU\Software\Wine"

    def __init__(self, version):
        self.version = version
        self.saved = None

    def __enter__(self):
        self.saved = reg_value(self.KEY, "Version")
        kill_wine()
        reg_set(self.KEY, "Version", self.version)
        return self

    def __exit__(self, *exc):
        kill_wine()
        if self.saved:
            reg_set(self.KEY, "Version", self.saved[1])
        else:
            reg_delete(self.KEY, "Version")


# Wine's own background programs: the services and the desktop process
# (explorer.exe /desktop). They stay up between cases, as they do on Windows
# between two runs of a program; every other Windows program in the prefix
# was started by a case.
_WINE_BACKGROUND = {"services.exe", "winedevice.exe", "plugplay.exe", "rpcss.exe", "svchost.exe"}
_WINE_LOADERS = {"wine", "wine64", "wine-preloader", "wine64-preloader"}

def _running(pid):
    """Whether the process is there and not a zombie."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            return f.read().rpartition(b")")[2].split()[0] != b"Z"
    except OSError:
        return False


def prefix_programs(prefix=None):
    """{pid: command line} of the Windows programs running in the prefix
    (default: WINEPREFIX), leaving out Wine's background programs and the
    wineserver."""
    prefix = os.path.realpath(prefix or os.environ["WINEPREFIX"])
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                environ = f.read().split(b"\0")
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                argv = f.read().decode("utf-8", "replace").split("\0")
        except OSError:
            continue
        value = next((v[11:] for v in environ if v.startswith(b"WINEPREFIX=")), None)
        if value is None or os.path.realpath(os.fsdecode(value)) != prefix:
            continue
        # Every Windows program runs in one of Wine's loaders; its first
        # argument is the program's Windows or Unix path, or its name.
        try:
            loader = os.path.basename(os.readlink(f"/proc/{entry}/exe"))
        except OSError:
            continue
        if loader not in _WINE_LOADERS:
            continue
        program = re.split(r"[\\/]", argv[0])[-1].lower()
        if program in _WINE_BACKGROUND or (program == "explorer.exe" and argv[1:2] == ["/desktop"]):
            continue
        if _running(entry):
            found[int(entry)] = " ".join(argv).strip()
    return found


def kill_wine(timeout=30):
    """Ends every program that the cases started in the prefix and waits
    until they are gone; the wineserver and Wine's background programs keep
    running, so the next case starts without waiting for them."""
    deadline = time.monotonic() + timeout
    while True:
        programs = prefix_programs()
        if not programs:
            return
        for pid in programs:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        while any(_running(pid) for pid in programs):
            if time.monotonic() > deadline:
                raise RuntimeError("these programs did not end: " + "; ".join(programs.values()))
            time.sleep(0.05)


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# What Wine prints when it could not start a program at all: its loader
# ("wine: could not load kernel32.dll, status c0000135", "wine: failed to
# start ..."), and start.exe, which the loader hands a program it cannot map
# ("Application could not be started, or no application associated with the
# specified file." and "ShellExecuteEx failed: Internal error.").
_START_FAILED = re.compile(rb"^wine: (could not load|failed to start).*|^.*could not load .*, status"
                           rb" [0-9a-f]+.*|^Application could not be started.*|"
                           rb"^ShellExecuteEx failed.*|^.*Importing dlls for .* failed, status.*", re.M)
# Starts of a program before one is given up for good.
STARTS = 3


def start_failure(output):
    """Wine's own message that it could not start a program, in its output
    (bytes), or None."""
    found = _START_FAILED.search(output or b"")
    return found.group(0).decode("utf-8", "replace").strip() if found else None


def log_start_failure(program, message, attempt):
    print("wine failed to start %s: %s; %s" % (
        os.path.basename(program), message,
        "starting it again" if attempt < STARTS else "giving up"), file=sys.stderr, flush=True)


def wine(*args, cwd=None, timeout=180):
    """A Windows program run to its end; stdout and stderr as bytes. When
    Wine could not start it (a loader message and a failed exit), it is
    started again.

    Output goes through files: a wineserver started by this call inherits
    the handles and would hold a pipe open for seconds after wine exits."""
    for attempt in range(1, STARTS + 1):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run([wine_loader(), *args], cwd=cwd, stdout=out, stderr=err,
                                    timeout=timeout)
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(result.args, result.returncode, out.read(),
                                                 err.read())
        failure = result.returncode and start_failure(result.stderr + result.stdout)
        if not failure or attempt == STARTS:
            return result
        log_start_failure(args[0], failure, attempt)


def run_windows(program, *args, timeout=180, check=False):
    """A test program of TEST_BIN_DIR (or a path) run to its end through
    wine(); its stdout decoded from UTF-8."""
    result = wine(os.path.join(TEST_BIN_DIR, program), *args, timeout=timeout)
    if check and result.returncode:
        raise Failure("%s %s exited with %d: %s" % (program, " ".join(args), result.returncode,
                                                     result.stderr[-500:]))
    return result.stdout.decode("utf-8", "replace")


def wait_wineserver(timeout=300):
    """Waits until every program of the prefix has ended (Wine's background
    programs aside, which end only with the wineserver);
    subprocess.TimeoutExpired after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        programs = prefix_programs()
        if not programs:
            return
        if time.monotonic() > deadline:
            raise subprocess.TimeoutExpired(list(programs.values()), timeout)
        time.sleep(0.1)


def new_prefix(path, build_dir=None, arch=None):
    """Makes `path` a fresh Wine prefix, a copy of the build folder's
    template (default: this test's build folder and WINEARCH), and returns
    it. The caller points WINEPREFIX (and WINEARCH) at it."""
    build_dir = build_dir or os.environ["KORVANE_BUILD_DIR"]
    arch = arch or os.environ.get("WINEARCH", "win64")
    subprocess.run([os.path.join(os.environ["KORVANE_ROOT"], "scripts", "wine-prefix.sh"),
                    "copy", build_dir, arch, path], check=True, timeout=600)
    return path


def unix_path(windows_path):
    out = subprocess.run(["winepath", "-u", windows_path], capture_output=True, check=True)
    return out.stdout.decode("utf-8", "replace").strip()


def windows_path(path):
    out = subprocess.run(["winepath", "-w", path], capture_output=True, check=True)
    return out.stdout.decode("utf-8", "replace").strip()


def shell_folder(name):
    """The value of an environment variable of the prefix, e.g. LOCALAPPDATA."""
    return wine_tool("cmd", "/c", "echo", f"%{name}%")[1].strip()


def reg_values(key):
    """{name: text} of a registry key's values, or None when the key is missing."""
    code, out = wine_tool("reg", "query", key)
    if code != 0:
        return None
    matches = (_REG_LINE.match(line) for line in out.splitlines())
    return {match.group(1): match.group(3).strip() for match in matches if match}


# The loopback port the build talks to, and the reference service's script.
UPDATE_PORT = int(os.environ.get("KORVANE_UPDATE_HOST", "127.0.0.1:18080").rpartition(":")[2])
UPDATE_SERVICE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools",
                              "update_service", "update_service.py")


class UpdateService:
    """The reference update service on 127.0.0.1:UPDATE_PORT for the length
    of a with-block, answering from `entries_file`; `extra` are further
    options such as "--delay", "3"."""

    def __init__(self, entries_file, *extra, script=UPDATE_SERVICE, port=UPDATE_PORT):
        self.command = [sys.executable, script, "--port", str(port), "--entries", entries_file,
                        *extra]
        self.entries, self.stamp = entries_file, time.time_ns()
        self.process = None

    def offer(self, account, entries):
        """Publishes `entries` to `account` from now on, also while it runs."""
        with open(self.entries, "w", encoding="utf-8") as f:
            json.dump({account: entries}, f, ensure_ascii=False)
        # A new modification time every time, so that the service reads it again.
        self.stamp += 10_000_000
        os.utime(self.entries, ns=(self.stamp, self.stamp))
        return self

    def __enter__(self):
        self.process = subprocess.Popen(self.command, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if not line:
                break
            if "listening on" in line:
                # Keep reading, so that a full pipe never stalls the service.
                threading.Thread(target=self.process.stdout.read, daemon=True).start()
                return self
        self.process.kill()
        raise RuntimeError("the update service did not start")

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait(timeout=10)


def offering(folder, account, version="1.0.1", *extra):
    """The reference service publishing `version` of Korvane to `account`,
    its entries file written into `folder`; `extra` as for UpdateService."""
    return UpdateService(os.path.join(folder, "entries.json"), *extra).offer(account, [
        {"title": "Korvane " + version, "imgsrc": "http://127.0.0.1/download/Korvane.zip"}])


DETECTION_CLSID = "{9334BD7F-B81F-4D7D-8A99-2C31CD0A1765}"


def forget_update_library():
    """Removes the library's class registration from the prefix, so that the
    panel's load finds no component and makes no update check."""
    for root in (r"HKLM\Software\Classes", r"HKCU\Software\Classes"):
        reg_delete(root + r"\Quorvel.Detection")
        reg_delete(root + "\\CLSID\\" + DETECTION_CLSID)


def use_url_logger(folder):
    """Points the prefix's http handler at a logger copied into `folder`,
    which appends each URL it is given to the returned log file."""
    logger = os.path.join(folder, "url_logger.exe")
    os.makedirs(folder, exist_ok=True)
    shutil.copy(os.path.join(TEST_BIN_DIR, "url_logger.exe"), logger)
    reg_set(r"HKCR\http\shell\open\command", None, '"%s" "%%1"' % wine_path(logger))
    return os.path.join(folder, "opened-urls.txt")


def make_case_folder(library="file", settings=False, check1=1):
    """A folder with Korvane.exe; library: "file" (a stand-in), "hidden",
    "system", "folder", "Update.dll" (the library itself) or None; with
    `settings`, test.ini holding Check1 = `check1`."""
    folder = tempfile.mkdtemp(prefix="korvane-case-")
    shutil.copy(os.path.join(BIN_DIR, "Korvane.exe"), folder)
    dll = os.path.join(folder, "Update.dll")
    if library in ("file", "hidden", "system"):
        with open(dll, "wb") as f:
            f.write(b"MZ")
        if library != "file":
            flag = "+h" if library == "hidden" else "+s"
            if wine_tool("cmd", "/c", "attrib", flag, wine_path(dll))[0] != 0:
                raise SetupFailed("attrib %s %s failed" % (flag, dll))
    elif library == "folder":
        os.mkdir(dll)
    elif library == "Update.dll":
        shutil.copy(os.path.join(BIN_DIR, library), folder)
    if settings:
        with open(os.path.join(folder, "test.ini"), "w") as f:
            f.write("[Check]\r\nCheck1=%d\r\n" % check1)
    return folder


def windows():
    """(id, name) of every X window that has a name."""
    return [(wid, run("xdotool", "getwindowname", wid).stdout.rstrip("\n"))
            for wid in run("xdotool", "search", "--name", ".").stdout.split()]


def wait_until(condition, timeout=20.0, interval=0.1):
    """Polls `condition` until it returns a true value, which is returned;
    None when `timeout` seconds pass first."""
    try:
        return wait_for(condition, bool, timeout=timeout, pause=interval)
    except Failure:
        return None


# A deadline for each wait: only a safety net, every wait ends on its
# condition, and the machine may be busy.
WAIT = 60.0


def wait_for(read, done=bool, what="the condition", timeout=WAIT, pause=0.1, hold=None,
             broken=None):
    """The first value of read() that done() accepts. Fails the case with
    `what` and the last value read once `timeout` seconds have passed; with
    `hold`, also as soon as a value read meanwhile breaks it (`broken` says
    how)."""
    deadline = time.monotonic() + timeout
    while True:
        value = read()
        if hold is not None and not hold(value):
            raise Failure("%s (read %r)" % (broken or "a watched condition broke", value))
        if done(value):
            return value
        if time.monotonic() > deadline:
            raise Failure("%s (waited %.0f s, last read %r)" % (what, timeout, value))
        time.sleep(pause)


def watch(read, good, seconds, what, pause=0.1):
    """Reads read() for `seconds` and fails the case as soon as a value is
    not good(): that something does not happen over a time it could."""
    end = time.monotonic() + seconds
    while True:
        value = read()
        if not good(value):
            raise Failure("%s (read %r)" % (what, value))
        if time.monotonic() > end:
            return
        time.sleep(pause)


def window_named(name):
    """Id of a window whose title is exactly `name` (any script), or None."""
    return next((wid for wid, title in windows() if title == name), None)


def wait_for_window(name, timeout=WAIT):
    """Id of a window whose title is exactly `name`, once there is one."""
    return wait_for(lambda: window_named(name), bool, "a window %s" % name, timeout, 0.3)


def settled(read, what, timeout=WAIT, pause=0.1, moved_from=None):
    """The value of read() once two readings in a row agree (and, for a
    window's geometry, its place differs from `moved_from`)."""
    last = [None]

    def steady():
        value, before = read(), last[0]
        last[0] = value
        return value if value == before and value[:2] != moved_from else None

    return wait_for(steady, bool, what, timeout, pause)


def settled_geometry(wid, moved_from=None, timeout=WAIT):
    """The window's place and size once it stands still: a window is shown,
    then placed."""
    return settled(lambda: geometry(wid), "window %s to settle" % wid, timeout,
                   moved_from=moved_from)


def read_file(path):
    """The file's bytes, or None when there is none."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def move_pointer(x, y):
    """Moves the pointer and waits until it is there. (xdotool's own --sync
    can wait for ever when the pointer is there already.)"""
    run("xdotool", "mousemove", str(x), str(y))

    def there():
        out = run("xdotool", "getmouselocation", "--shell").stdout
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return (values.get("X"), values.get("Y")) == (str(x), str(y))

    wait_for(there, bool, "the pointer to get to %s,%s" % (x, y), pause=0.05)


def start_korvane(folder, cwd=None, window="Form1", timeout=WAIT):
    """Starts Korvane.exe of `folder` in `cwd` (default: that folder) and
    waits for its top-level window `window` (the strip; the message box when
    it refuses to start); (process, the window's id). Started again when
    Wine could not start it, once or twice."""
    exe = os.path.join(folder, "Korvane.exe")
    for attempt in range(1, STARTS + 1):
        err = tempfile.TemporaryFile()
        # Wine's start.exe tells of a failed start on stdout.
        process = subprocess.Popen(["wine", exe], cwd=cwd or folder, stdout=err, stderr=err)
        deadline = time.monotonic() + timeout
        while True:
            wid = window_named(window)
            if wid:
                return process, wid
            if process.poll() is not None:
                err.seek(0)
                output = err.read()
                failure = start_failure(output)
                if failure and attempt < STARTS:
                    log_start_failure(exe, failure, attempt)
                    break
                raise Failure("Korvane ended (%s) without a window %s: %s" % (
                    process.returncode, window, output[-500:].decode("utf-8", "replace")))
            if time.monotonic() > deadline:
                raise Failure("no window %s %.0f s after Korvane started" % (window, timeout))
            time.sleep(0.2)


def viewable(wid):
    """Whether the X window is mapped and all its ancestors too."""
    return "Map State: IsViewable" in run("xwininfo", "-id", wid).stdout


def choose_in_open_dialog(path):
    """Types `path` into the open dialog ("打开") and confirms it."""
    dialog = wait_for_window("打开")
    # The dialog is shown once it has laid out its controls and put the
    # focus in the file-name box; keys typed before that would be lost.
    require(wait_until(lambda: viewable(dialog)), "the open dialog is never shown")
    run("xdotool", "windowfocus", "--sync", dialog)
    run("xdotool", "type", "--delay", "20", wine_path(path))
    run("xdotool", "key", "Return")


def geometry(wid):
    out = run("xdotool", "getwindowgeometry", wid).stdout
    x, y = map(int, re.search(r"Position: (-?\d+),(-?\d+)", out).groups())
    w, h = map(int, re.search(r"Geometry: (\d+)x(\d+)", out).groups())
    return x, y, w, h


def screen_size():
    if not _screen_size:
        w, h = run("xdotool", "getdisplaygeometry").stdout.split()
        _screen_size.append((int(w), int(h)))
    return _screen_size[0]


_screen_size = []  # the test's own Xvfb keeps one size


def logpixels(key):
    """The LogPixels value under a registry key, or None."""
    found = reg_value(key, "LogPixels")
    return int(found[1], 16) if found and found[0] == "REG_DWORD" else None


def prefix_dpi():
    """The DPI Wine uses in this prefix (LogPixels), 96 unless set."""
    for key in (r"HKCU\Control Panel\Desktop", r"HKCC\Software\Fonts"):
        value = logpixels(key)
        if value:
            return value
    return 96


class _XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class Display:
    """A connection to the X server of the test's display, through Xlib."""

    def __init__(self):
        x = self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        c = ctypes
        for name, result, args in (
                ("XOpenDisplay", c.c_void_p, [c.c_char_p]), ("XCloseDisplay", c.c_int, [c.c_void_p]),
                ("XDefaultRootWindow", c.c_ulong, [c.c_void_p]),
                ("XGetImage", c.POINTER(_XImage), [c.c_void_p, c.c_ulong, c.c_int, c.c_int,
                                                   c.c_uint, c.c_uint, c.c_ulong, c.c_int]),
                ("XFree", c.c_int, [c.c_void_p]), ("XSync", c.c_int, [c.c_void_p, c.c_int]),
                ("XSelectInput", c.c_int, [c.c_void_p, c.c_ulong, c.c_long]),
                ("XPending", c.c_int, [c.c_void_p]), ("XNextEvent", c.c_int, [c.c_void_p] * 2)):
            getattr(x, name).restype, getattr(x, name).argtypes = result, args
        self.display = x.XOpenDisplay(None)
        if not self.display:
            raise RuntimeError("cannot open the X display")
        self.root = x.XDefaultRootWindow(self.display)

    def close(self):
        self.x.XCloseDisplay(self.display)

    def grab(self, x, y, w, h):
        """The rectangle straight from the X server (XGetImage on the root
        window): a millisecond a grab, fast enough to see every frame."""
        z_pixmap, all_planes = 2, 0xFFFFFFFF
        image = self.x.XGetImage(self.display, self.root, x, y, w, h, all_planes, z_pixmap)
        if not image:
            raise RuntimeError("XGetImage failed for %dx%d+%d+%d" % (w, h, x, y))
        info = image.contents
        if info.bits_per_pixel != 32 or info.byte_order != 0:
            raise RuntimeError("unexpected X image format")
        raw = ctypes.string_at(info.data, info.bytes_per_line * h)
        self.x.XFree(info.data)
        self.x.XFree(image)
        rows = []
        for row in range(h):
            line = raw[row * info.bytes_per_line:row * info.bytes_per_line + w * 4]
            rgb = bytearray(w * 3)
            rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
            rows.append(bytes(rgb))
        return rows


_screen = []


def grab(x, y, w, h):
    """Screen pixels of a rectangle: a list of rows, each bytes of R, G, B.
    What lies off the screen reads as black: the X server refuses a grab
    that leaves the root window, and Xlib ends the process on that error."""
    if not _screen:
        _screen.append(Display())
    sw, sh = screen_size()
    left, top, right, bottom = max(x, 0), max(y, 0), min(x + w, sw), min(y + h, sh)
    if left >= right or top >= bottom:
        return [bytes(3 * w)] * h
    inside = _screen[0].grab(left, top, right - left, bottom - top)
    pad_left, pad_right = bytes(3 * (left - x)), bytes(3 * (x + w - right))
    return ([bytes(3 * w)] * (top - y) + [pad_left + row + pad_right for row in inside]
            + [bytes(3 * w)] * (y + h - bottom))


# A binary PPM's header: comments may come between the fields, and the
# pixels start right after the one whitespace byte that follows the maxval
# (they may themselves begin with bytes that look like whitespace or "#").
_PPM_HEADER = re.compile(rb"P6(?:\s|#[^\n]*\n)+(\d+)(?:\s|#[^\n]*\n)+(\d+)(?:\s|#[^\n]*\n)+255\s")


def ppm_rows(data):
    """The rows of a binary 8-bit PPM (P6) as grab() gives them."""
    header = _PPM_HEADER.match(data)
    if not header:
        raise ValueError("not an 8-bit P6 image: %r" % data[:40])
    width, height = int(header.group(1)), int(header.group(2))
    body = data[header.end():header.end() + width * height * 3]
    if len(body) != width * height * 3:
        raise ValueError("PPM body is %d bytes, expected %d" % (len(body), width * height * 3))
    return [body[r * width * 3:(r + 1) * width * 3] for r in range(height)]


def caption_at(frame, reference, candidates, background=(255, 255, 255)):
    """The left edge among `candidates` at which `reference` (a caption drawn
    whole from x = 0, rows as grab() gives them) gives exactly this frame on
    the background, or None."""
    width, ref_width, fill = len(frame[0]) // 3, len(reference[0]) // 3, bytes(background)
    for left in sorted(set(candidates), reverse=True):
        shown_from, shown_to = max(left, 0), min(left + ref_width, width)
        if shown_from < shown_to and all(
                row == fill * shown_from + ref[3 * (shown_from - left):3 * (shown_to - left)]
                + fill * (width - shown_to) for row, ref in zip(frame, reference)):
            return left
    return None


def pixel(frame, x, y):
    return tuple(frame[y][3 * x:3 * x + 3])


def ink_box(frame, background, faint=60):
    """(left, top, right, bottom) of the pixels that differ from the
    background by more than `faint` (by default more than the faint edges of
    smoothed glyphs do), or None."""
    plain = bytes(background) * (len(frame[0]) // 3)
    left, right, top, bottom = None, None, None, None
    for y, row in enumerate(frame):
        if row == plain:
            continue
        inked = [x for x in range(len(row) // 3)
                 if max(abs(row[3 * x + c] - background[c]) for c in range(3)) > faint]
        if not inked:
            continue
        left = inked[0] if left is None else min(left, inked[0])
        right = inked[-1] + 1 if right is None else max(right, inked[-1] + 1)
        top = y if top is None else top
        bottom = y + 1
    return None if left is None else (left, top, right, bottom)


def right_click_strip(strip):
    """Right-clicks the strip's surface where the caption is not, as a user
    opens the panel: 20 px in from its right edge, or from its left edge
    while the caption passes the right one (after a wrap it comes in there)."""
    x, y, w, h = geometry(strip)
    frame = grab(x, y, w, h)
    box = ink_box(frame, pixel(frame, 0, 0))
    at = x + 20 if box and box[2] > w - 60 else x + w - 20
    run("xdotool", "mousemove", str(at), str(y + h // 2), "click", "3")


def panel_probe(*args, timeout=180):
    """What panel_probe.exe reads from the running panel (see its usage)."""
    return run_windows("panel_probe.exe", *args, timeout=timeout).strip()


class Failure(Exception):
    """A failed check that ends the case it is in."""


def require(condition, what):
    """Ends the running case, reporting `what`, unless `condition` holds."""
    if not condition:
        raise Failure(what)


class Suite:
    """Runs a test's named cases and single checks, prints each outcome with
    the seconds since the start and remembers the failed ones; exit_code()
    ends the script.

    suite.run(name, case) runs case(); a Failure or any other exception
    fails it without stopping the others, and every program the case
    started in the prefix is ended after it (kill_wine). suite(condition,
    what, detail) is one check that fails without stopping anything."""

    def __init__(self):
        self.failures = []
        self.started = time.monotonic()

    def _report(self, passed, what, detail=""):
        print(f"{time.monotonic() - self.started:6.1f}s " + ("ok   " if passed else "FAIL ")
              + what + (f": {detail}" if detail else ""), flush=True)
        if not passed:
            self.failures.append(what)

    def __call__(self, condition, what, detail=""):
        self._report(condition, what, detail)

    def run(self, name, case):
        print(f"== {name}", flush=True)
        try:
            case()
            self._report(True, name)
        except Exception as error:  # a broken case must not stop the others
            self._report(False, name, repr(error))
        finally:
            kill_wine()

    def exit_code(self):
        print("failed: " + ", ".join(self.failures) if self.failures else "all passed")
        return 1 if self.failures else 0


# --- Loopback servers

import http.server  # noqa: E402
import socket  # noqa: E402
import struct  # noqa: E402
import urllib.parse  # noqa: E402


def free_port():
    """A loopback port that nothing listens on (as long as nobody takes it)."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def port_open(port):
    """Whether something listens on 127.0.0.1:port."""
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", port)) == 0


def reset(request):
    """Ends a PageServer request with a reset, unanswered: the client's
    transfer fails (a connection closed with no answer reads as an empty
    answer to Wine's HTTP client)."""
    request.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    request.connection.close()


class PageServer:
    """An HTTP server on 127.0.0.1:port (0: a free port) for the length of a
    with-block; `url` is its address. route(request, path, query, body)
    answers each GET and POST with (status, bytes, content type), or None
    when it has dealt with the request itself."""

    def __init__(self, route, port=0):
        page_server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *_):
                pass

            def do_GET(self):
                url = urllib.parse.urlsplit(self.path)
                length = int(self.headers.get("Content-Length", 0) or 0)
                answer = route(self, url.path, urllib.parse.parse_qs(url.query),
                               self.rfile.read(length) if length else b"")
                try:
                    if answer:
                        self.send_response(answer[0])
                        self.send_header("Content-Type", answer[2])
                        self.send_header("Content-Length", str(len(answer[1])))
                        self.end_headers()
                        self.wfile.write(answer[1])
                except OSError:
                    pass  # the client gave up
                page_server.sent(request=self)

            do_POST = do_GET

        class Server(http.server.ThreadingHTTPServer):
            allow_reuse_address = True
            daemon_threads = True

        self.server = Server(("127.0.0.1", port), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}"

    def sent(self, request):
        """Called once the answer to a request has gone out (or could not)."""

    def __enter__(self):
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()
