"""Helpers for the Korvane integration tests under Wine and X (own prefix,
zh_CN locale, a display). Each case runs Korvane.exe from a fresh folder and
ends every program it started in the prefix afterwards."""

import contextlib
import ctypes
import ctypes.util
import functools
import http.server
import json
import math
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

# The checks must run: a test under -O would pass whatever happens.
if sys.flags.optimize:
    raise SystemExit("wine_testkit: run the tests without -O and without PYTHONOPTIMIZE")

BIN_DIR = os.environ.get("KORVANE_BIN_DIR", "")
TEST_BIN_DIR = os.environ.get("KORVANE_TEST_BIN_DIR", "")


def run(*args, check=False, timeout=60):
    # Wine's own tools print in the ANSI code page (GBK), xdotool in UTF-8.
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          encoding="utf-8", errors="replace", check=check, timeout=timeout)


def wine_loader():
    """The loader of the prefix's own architecture (wine-env.sh finds it for a
    64-bit prefix): Wine's tools named without a path (reg, regsvr32, cmd)
    start as 32-bit builds otherwise, and the 32-bit reg sees the 32-bit
    registry view."""
    win32 = os.environ.get("WINEARCH") == "win32"
    return "wine" if win32 else os.environ.get("KORVANE_WINE") or "wine"


class SetupFailed(Exception):
    """A case's preparation did not take: the case fails."""


def wine_tool(*args, timeout=120):
    """(exit code, output decoded from GBK) of one of Wine's own tools."""
    result = wine(*args, timeout=timeout)
    return result.returncode, result.stdout.decode("gbk", "replace")


# One value in the output of "reg query": name, type, data.
_REG_LINE = re.compile(r"\s+(\S.*?)\s+(REG_\w+)\s*(.*)$")


def _value_switch(name):
    return ["/ve"] if name is None else ["/v", name]


def reg_value(key, name=None):
    """(type, data) of a registry value as the program sees it (None for the
    key's default value), or None when it is missing."""
    code, out = wine_tool("reg", "query", key, *_value_switch(name))
    matches = (match for match in map(_REG_LINE.match, out.splitlines()) if match)
    return next(((m.group(2), m.group(3).strip()) for m in matches), None) if code == 0 else None


def reg_key_exists(key):
    return wine_tool("reg", "query", key)[0] == 0


def reg_set(key, name, data, kind="REG_SZ"):
    """Writes a value where the program looks, then reads it back."""
    wine_tool("reg", "add", key, *_value_switch(name), "/t", kind, "/d", str(data), "/f")
    found = reg_value(key, name)
    if not (found is not None and int(found[1], 16) == int(data) if kind == "REG_DWORD"
            else found == (kind, str(data))):
        raise SetupFailed(f"{key} {name or '(default)'} reads {found}, not {kind} {data}")


def reg_delete(key, name=None):
    """Removes a value (or with name None the whole key) and checks it is gone."""
    wine_tool("reg", "delete", key, *([] if name is None else ["/v", name]), "/f")
    gone = reg_value(key, name) is None if name is not None else not reg_key_exists(key)
    if not gone:
        raise SetupFailed(f"{key} {name or ''} is still there")


@contextlib.contextmanager
def windows_version(version, key=r"HKCU\Software\Wine"):
    """For a with-block, the Windows version Wine reports ("win7", "win10")."""
    saved = reg_value(key, "Version")
    kill_wine()
    reg_set(key, "Version", version)
    try:
        yield
    finally:
        kill_wine()
        if saved:
            reg_set(key, "Version", saved[1])
        else:
            reg_delete(key, "Version")


# Wine's own background programs (and explorer.exe /desktop) stay up between
# cases, as on Windows between two runs of a program.
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
    """{pid: command line} of the Windows programs the cases started in the
    prefix (default: WINEPREFIX)."""
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
            # Every Windows program runs in one of Wine's loaders; its first
            # argument is the program's Windows or Unix path, or its name.
            loader = os.path.basename(os.readlink(f"/proc/{entry}/exe"))
        except OSError:
            continue
        value = next((v[11:] for v in environ if v.startswith(b"WINEPREFIX=")), None)
        program = re.split(r"[\\/]", argv[0])[-1].lower()
        if (value is None or os.path.realpath(os.fsdecode(value)) != prefix
                or loader not in _WINE_LOADERS or program in _WINE_BACKGROUND
                or (program == "explorer.exe" and argv[1:2] == ["/desktop"])):
            continue
        if _running(entry):
            found[int(entry)] = " ".join(argv).strip()
    return found


def kill_wine(timeout=30):
    """Ends every program the cases started in the prefix and waits until
    they are gone; the wineserver keeps running for the next case."""
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


def start_failure(program, output, attempt):
    """Wine's own message in `output` (bytes) that it could not start the
    program, logged, or None."""
    found = _START_FAILED.search(output or b"")
    if found:
        print("wine failed to start %s: %s; %s" % (
            os.path.basename(program), found.group(0).decode("utf-8", "replace").strip(),
            "starting it again" if attempt < STARTS else "giving up"), file=sys.stderr, flush=True)
    return found


def wine(*args, cwd=None, timeout=180):
    """A Windows program run to its end, started again when Wine could not
    start it; stdout and stderr as bytes. Output goes through files: a
    wineserver started by this call would hold a pipe open for seconds."""
    for attempt in range(1, STARTS + 1):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run([wine_loader(), *args], cwd=cwd, stdout=out, stderr=err,
                                    timeout=timeout)
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(result.args, result.returncode, out.read(),
                                                 err.read())
        if not (result.returncode and start_failure(args[0], result.stderr + result.stdout,
                                                    attempt)) or attempt == STARTS:
            return result


def spawn(program, *args, **options):
    """A program of TEST_BIN_DIR (or a path) running in Wine, with pipes to
    its stdin and stdout."""
    return subprocess.Popen([wine_loader(), os.path.join(TEST_BIN_DIR, program), *args],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, **options)


def run_windows(program, *args, timeout=180, check=False):
    """stdout (UTF-8) of a program of TEST_BIN_DIR (or a path) run by wine()."""
    result = wine(os.path.join(TEST_BIN_DIR, program), *args, timeout=timeout)
    if check and result.returncode:
        raise Failure("%s %s exited with %d: %s" % (program, " ".join(args), result.returncode,
                                                     result.stderr[-500:]))
    return result.stdout.decode("utf-8", "replace")


def unix_path(windows_path):
    out = subprocess.run(["winepath", "-u", windows_path], capture_output=True, check=True)
    return out.stdout.decode("utf-8", "replace").strip()


def shell_folder(name):
    """The value of an environment variable of the prefix, e.g. LOCALAPPDATA."""
    return wine_tool("cmd", "/c", "echo", f"%{name}%")[1].strip()


def reg_values(key, view=None):
    """{name: text} of a registry key's values (in registry view "64" or "32"
    of a 64-bit prefix when given), or None when the key is missing."""
    code, out = wine_tool("reg", "query", key, *([f"/reg:{view}"] if view else []))
    if code != 0:
        return None
    matches = (_REG_LINE.match(line) for line in out.splitlines())
    return {match.group(1): match.group(3).strip() for match in matches if match}


# The loopback port the build talks to, and the reference service's script.
UPDATE_PORT = int(os.environ.get("KORVANE_UPDATE_HOST", "127.0.0.1:18080").rpartition(":")[2])
UPDATE_SERVICE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools",
                              "update_service", "update_service.py")


class UpdateService:
    """The reference update service on 127.0.0.1:UPDATE_PORT for a
    with-block, answering from `entries_file`; `extra`: options ("--delay", "3")."""

    def __init__(self, entries_file, *extra, script=UPDATE_SERVICE, port=UPDATE_PORT):
        self.command = [sys.executable, script, "--port", str(port), "--entries", entries_file,
                        *extra]
        self.entries, self.stamp = entries_file, time.time_ns()

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
    """The reference service offering `version` to `account` from `folder`."""
    return UpdateService(os.path.join(folder, "entries.json"), *extra).offer(account, [
        {"title": "Korvane " + version, "imgsrc": "http://127.0.0.1/download/Korvane.zip"}])


DETECTION_CLSID = "{9334BD7F-B81F-4D7D-8A99-2C31CD0A1765}"


def forget_update_library():
    """Unregisters the library: the panel's load makes no update check."""
    for root in (r"HKLM\Software\Classes", r"HKCU\Software\Classes"):
        reg_delete(root + r"\Quorvel.Detection")
        reg_delete(root + "\\CLSID\\" + DETECTION_CLSID)


def use_url_logger(folder):
    """Points the http handler at a logger in `folder`; returns its log file."""
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
        write_file(dll, b"MZ")
        if library != "file":
            flag = "+h" if library == "hidden" else "+s"
            if wine_tool("cmd", "/c", "attrib", flag, wine_path(dll))[0] != 0:
                raise SetupFailed("attrib %s %s failed" % (flag, dll))
    elif library == "folder":
        os.mkdir(dll)
    elif library == "Update.dll":
        shutil.copy(os.path.join(BIN_DIR, library), folder)
    if settings:
        write_file(os.path.join(folder, "test.ini"), "[Check]\r\nCheck1=%d\r\n" % check1)
    return folder


def windows():
    """(id, name) of every X window that has a name."""
    return [(wid, run("xdotool", "getwindowname", wid).stdout.rstrip("\n"))
            for wid in run("xdotool", "search", "--name", ".").stdout.split()]


def wait_until(condition, timeout=20.0, interval=0.1):
    """wait_for(condition), but None when `timeout` passes first."""
    try:
        return wait_for(condition, bool, timeout=timeout, pause=interval)
    except Failure:
        return None


# A deadline for each wait: only a safety net, every wait ends on its
# condition, and the machine may be busy.
WAIT = 60.0


def wait_for(read, done=bool, what="the condition", timeout=WAIT, pause=0.1, hold=None,
             broken=None):
    """The first value of read() that done() accepts; a Failure after
    `timeout`, or as soon as a value breaks `hold` (`broken` says how)."""
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
    """Fails as soon as read() is not good() within `seconds`: that
    something does not happen over a time it could."""
    end = time.monotonic() + seconds
    wait_for(read, lambda _: time.monotonic() > end, what, seconds + WAIT, pause, good, what)


def window_named(name):
    return next((wid for wid, title in windows() if title == name), None)


def wait_for_window(name, timeout=WAIT):
    return wait_for(lambda: window_named(name), bool, "a window %s" % name, timeout, 0.3)


def settled(read, what, timeout=WAIT, pause=0.1, moved_from=None):
    """read() once two readings agree (and its place is not `moved_from`)."""
    last = [None]

    def steady():
        value, before = read(), last[0]
        last[0] = value
        return value if value == before and value[:2] != moved_from else None

    return wait_for(steady, bool, what, timeout, pause)


def settled_geometry(wid, moved_from=None, timeout=WAIT):
    return settled(lambda: geometry(wid), "window %s to settle" % wid, timeout,
                   moved_from=moved_from)


def write_file(path, data):
    """Writes bytes, or text in UTF-8; returns the path."""
    with open(path, "wb") as f:
        f.write(data.encode("utf-8") if isinstance(data, str) else data)
    return path


def read_file(path):
    """The file's bytes, or None when there is none."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def move_pointer(x, y):
    """Moves the pointer and waits until it is there (xdotool's --sync can
    wait for ever when it is there already)."""
    run("xdotool", "mousemove", str(x), str(y))

    def there():
        out = run("xdotool", "getmouselocation", "--shell").stdout
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return (values.get("X"), values.get("Y")) == (str(x), str(y))

    wait_for(there, bool, "the pointer to get to %s,%s" % (x, y), pause=0.05)


def start_korvane(folder, cwd=None, window="Form1", timeout=WAIT):
    """(process, id of its window `window`) of Korvane.exe of `folder`
    started in `cwd` (default: `folder`), again when Wine could not start it."""
    exe = os.path.join(folder, "Korvane.exe")
    for attempt in range(1, STARTS + 1):
        err = tempfile.TemporaryFile()
        # Wine's start.exe tells of a failed start on stdout.
        process = subprocess.Popen(["wine", exe], cwd=cwd or folder, stdout=err, stderr=err)
        # The window's id, or False once the program has ended without one.
        wid = wait_for(lambda: window_named(window) or (process.poll() is None and ""),
                       lambda found: found != "", "a window %s after Korvane started" % window,
                       timeout, 0.2)
        if wid:
            return process, wid
        err.seek(0)
        output = err.read()
        if not (start_failure(exe, output, attempt) and attempt < STARTS):
            raise Failure("Korvane ended (%s) without a window %s: %s" % (
                process.returncode, window, output[-500:].decode("utf-8", "replace")))


def viewable(wid):
    return "Map State: IsViewable" in run("xwininfo", "-id", wid).stdout


def choose_in_open_dialog(path):
    """Types `path` into the open dialog ("打开") and confirms it."""
    dialog = wait_for_window("打开")
    # The dialog is shown once it has laid out its controls and put the
    # focus in the file-name box; keys typed before that would be lost.
    wait_for(lambda: viewable(dialog), bool, "the open dialog to be shown")
    run("xdotool", "windowfocus", "--sync", dialog)
    run("xdotool", "type", "--delay", "20", wine_path(path))
    run("xdotool", "key", "Return")


def geometry(wid):
    out = run("xdotool", "getwindowgeometry", wid).stdout
    x, y = map(int, re.search(r"Position: (-?\d+),(-?\d+)", out).groups())
    w, h = map(int, re.search(r"Geometry: (\d+)x(\d+)", out).groups())
    return x, y, w, h


@functools.lru_cache(None)  # the test's own Xvfb keeps one size
def screen_size():
    w, h = run("xdotool", "getdisplaygeometry").stdout.split()
    return int(w), int(h)


def logpixels(key):
    found = reg_value(key, "LogPixels")
    return int(found[1], 16) if found and found[0] == "REG_DWORD" else None


DPI_KEYS = (r"HKCU\Control Panel\Desktop", r"HKCC\Software\Fonts")


def prefix_dpi():
    """The DPI Wine uses in this prefix (LogPixels), 96 unless set."""
    return next((value for value in map(logpixels, DPI_KEYS) if value), 96)


class _XImage(ctypes.Structure):
    _fields_ = [(name, ctypes.c_void_p if name == "data" else ctypes.c_int) for name in (
        "width height xoffset format data byte_order bitmap_unit bitmap_bit_order bitmap_pad"
        " depth bytes_per_line bits_per_pixel").split()]


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
        """The rectangle from the X server: a millisecond a grab, every frame."""
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


_display = functools.lru_cache(None)(Display)  # one connection for every grab


def grab(x, y, w, h):
    """Screen pixels of a rectangle: a list of rows, each bytes of R, G, B.
    What lies off the screen reads as black: the X server refuses a grab
    that leaves the root window, and Xlib ends the process on that error."""
    sw, sh = screen_size()
    left, top, right, bottom = max(x, 0), max(y, 0), min(x + w, sw), min(y + h, sh)
    if left >= right or top >= bottom:
        return [bytes(3 * w)] * h
    inside = _display().grab(left, top, right - left, bottom - top)
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
    """The left edge among `candidates` at which `reference` (drawn whole from
    x = 0) gives exactly this frame on the background, or None."""
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
    """(left, top, right, bottom) of the pixels further than `faint` from the
    background (by default than smoothed glyphs' edges), or None."""
    plain = bytes(background) * (len(frame[0]) // 3)
    inked = [(x, y) for y, row in enumerate(frame) if row != plain for x in range(len(row) // 3)
             if max(abs(row[3 * x + c] - background[c]) for c in range(3)) > faint]
    xs, ys = [x for x, _ in inked], [y for _, y in inked]
    return (min(xs), min(ys), max(xs) + 1, max(ys) + 1) if inked else None


def wait_for_ticks(strip, count=2):
    """Waits for `count` changes of the strip's picture: timer messages come
    only when no input is queued, so the strip has handled the input sent."""
    for _ in range(count):
        before = grab(*geometry(strip))
        wait_for(lambda: grab(*geometry(strip)), lambda now: now != before,
                 "the caption to move", pause=0.05)


def right_click_strip(strip):
    """Right-clicks the strip's surface where the caption is not, as a user
    opens the panel: 20 px in from its right edge, or from its left edge
    while the caption passes the right one (after a wrap it comes in there)."""
    x, y, w, h = geometry(strip)
    frame = grab(x, y, w, h)
    box = ink_box(frame, pixel(frame, 0, 0))
    at = x + 20 if box and box[2] > w - 60 else x + w - 20
    run("xdotool", "mousemove", str(at), str(y + h // 2), "click", "3")


def twips(count, dpi):
    """`count` twips in pixels at `dpi`, to the nearest (halves up)."""
    return math.floor(count * dpi / 1440 + 0.5)


def click_twips(wid, dpi, left, top, width=0, height=0, button="1"):
    """Clicks the middle of a rectangle of window `wid` laid out in twips."""
    x, y, _, _ = geometry(wid)
    run("xdotool", "mousemove", str(x + twips(left + width / 2, dpi)),
        str(y + twips(top + height / 2, dpi)), "click", button)


def panel_probe(*args, timeout=180):
    return run_windows("panel_probe.exe", *args, timeout=timeout).strip()


def probe_reads(want, what, *args, timeout=WAIT):
    """Waits until panel_probe `args` answers `want`."""
    return wait_for(lambda: panel_probe(*args), lambda found: found == want, what, timeout)


def caption_box(strip, background=(255, 255, 255)):
    """The ink box of the strip's caption on its background, or None."""
    return ink_box(grab(*geometry(strip)), background)


class Failure(Exception):
    """A failed check that ends the case it is in."""


def require(condition, what):
    if not condition:
        raise Failure(what)


class Suite:
    """Runs named cases (suite.run: an exception fails the case alone, and
    kill_wine() follows it) and single checks (suite(condition, what)),
    prints each outcome with the time since the start.

    KORVANE_TEST_PART=K/N runs the K-th of every N cases only: a long test
    registered N times runs its cases side by side, each case once."""

    def __init__(self):
        self.failures = []
        self.started = time.monotonic()
        part, _, parts = os.environ.get("KORVANE_TEST_PART", "1/1").partition("/")
        self.part, self.parts, self.cases = int(part) - 1, int(parts), 0

    def __call__(self, passed, what, detail=""):
        print(f"{time.monotonic() - self.started:6.1f}s " + ("ok   " if passed else "FAIL ")
              + what + (f": {detail}" if detail else ""), flush=True)
        if not passed:
            self.failures.append(what)

    def run(self, name, case):
        self.cases += 1
        if (self.cases - 1) % self.parts != self.part:
            return
        print(f"== {name}", flush=True)
        try:
            case()
            self(True, name)
        except Exception as error:  # a broken case must not stop the others
            self(False, name, repr(error))
            # The screen as the case left it, kept with the test's work folder.
            shot = os.path.join(os.environ.get("KORVANE_TEST_WORK", "."),
                                "failed-%d.png" % self.cases)
            if run("import", "-window", "root", shot).returncode == 0:
                print("   the screen then: " + shot, flush=True)
        finally:
            kill_wine()

    def exit_code(self):
        print("failed: " + ", ".join(self.failures) if self.failures else "all passed")
        return 1 if self.failures else 0


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def port_open(port):
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", port)) == 0


def reset(request):
    """Ends a PageServer request with a reset: the client's transfer fails (a
    plain close reads as an empty answer to Wine's HTTP client)."""
    request.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    request.connection.close()


class PageServer:
    """An HTTP server on 127.0.0.1:port (0: any) for a with-block, at `url`.
    route(request, path, query, body) answers each GET and POST with (status,
    bytes, content type), or None when it dealt with the request itself."""

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
        pass  # once the answer to a request has gone out (or could not)

    def __enter__(self):
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()
