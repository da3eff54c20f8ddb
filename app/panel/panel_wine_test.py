"""The control panel under Wine, driven through its real windows as a user
drives it (the cases are listed in main()).

Usage: panel_wine_test.py   (run through wine-env.sh)
"""

import ctypes
import os
import select
import struct
import subprocess
import sys
import tempfile
import time

import wine_testkit as kit

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "update_ui"))
import held_update_service as held  # noqa: E402

PANEL, WHITE, MAGENTA = "Korvanev1.0", (255, 255, 255), (255, 0, 255)
SSTAB1, TEXT1, CHECK1, SLIDER1, SLIDER2, COMMAND3, COMMAND5 = 100, 101, 110, 113, 115, 116, 117
# Deadlines are a safety net; PASS: one pass of the laid-out caption over the
# strip, 361 ticks of 150 ms, with room for a busy machine.
WAIT, PASS = 30.0, 120.0
STEP_TWIPS = 20  # the caption's move a tick
probe, wait_for, pixel, ink_box = kit.panel_probe, kit.wait_for, kit.pixel, kit.ink_box
probe_reads, caption_box = kit.probe_reads, kit.caption_box


class MappedPlaces(kit.Display):
    """Records, from the X server's side, every place a top-level window
    stands while it is shown: the root window's substructure events, selected
    before the with-block's body runs."""

    CREATE, UNMAP, MAP, CONFIGURE = 16, 18, 19, 22
    SUBSTRUCTURE_NOTIFY_MASK = 1 << 19

    def __enter__(self):
        self.events = []
        self.x.XSelectInput(self.display, self.root, self.SUBSTRUCTURE_NOTIFY_MASK)
        self.x.XSync(self.display, 0)  # selected once the server has answered
        return self

    def __exit__(self, *exc):
        self.x.XSync(self.display, 0)
        event = ctypes.create_string_buffer(192)  # sizeof(XEvent)
        while self.x.XPending(self.display):
            self.x.XNextEvent(self.display, event)
            # type, serial, send_event, display; then the window at 40 and,
            # for creation and configuration, x and y at 48 and 52.
            kind, window, x, y = struct.unpack_from("<i36xQii", event.raw)
            self.events.append((kind, window, (x, y)))
        self.close()

    def of(self, wid):
        place, mapped, places = None, False, []
        for kind, window, at in (event for event in self.events if event[1] == int(wid)):
            place = at if kind in (self.CREATE, self.CONFIGURE) else place
            mapped = kind == self.MAP or (mapped and kind != self.UNMAP)
            if mapped and kind in (self.CREATE, self.CONFIGURE, self.MAP):
                places.append(place)
        return places


def steady(area):
    """The rectangle's pixels once a window has finished repainting it."""
    return kit.settled(lambda: kit.grab(*area), "the screen at %s to stop changing" % (area,),
                       pause=0.05)


class Panel:
    """Client-area geometry of the panel and clicks at twip positions."""

    def __init__(self, wid):
        self.wid = wid
        self.dpi = kit.prefix_dpi()

    def px(self, twips):
        return kit.twips(twips, self.dpi)

    def click(self, left, top, width, height, on_tab=True, button="1"):
        inset = 120 if on_tab else 0  # the tab control's pages start 120 twips in
        kit.click_twips(self.wid, self.dpi, left + inset, top + inset, width, height, button)

    def tab(self, index):
        # The headers of the tab control, one row at its top.
        self.click(300 + index * 900, 30, 0, 0)
        probe_reads(str(index), "the tab control to show page %d" % index, "value", str(SSTAB1))

    def ok(self):
        self.click(5520, 480, 1095, 495)
        # Without a window manager, Wine waits up to 2 s for a hidden framed
        # window to be withdrawn, and the program stands still meanwhile.
        probe_reads("0", "OK left the panel shown", "visible")

    def pause(self, top=960, name="Pause", other=COMMAND3, itself=COMMAND5):
        """Pause, or with the other arguments Play: it enables the other one."""
        self.click(6960, top, 975, 375, on_tab=False)
        probe_reads("1", "%s did not enable the other button" % name, "enabled", str(other))
        kit.require(probe("enabled", str(itself)) == "0", "%s left itself enabled" % name)

    def play(self):
        self.pause(240, "Play", COMMAND5, COMMAND3)

    def focus(self, left, top, width, height, control):
        """Clicks a control on the current page and waits for its focus."""
        self.click(left, top, width, height)
        probe_reads(str(control), "control %d to take the focus" % control, "focus")

    def slider_to_end(self, slider, key):
        """Home or End on a slider of the display page."""
        top, low, high = (600, 20, 100) if slider == SLIDER1 else (1200, 2000, 21700)
        self.focus(720, top, 5775, 375, slider)
        kit.run("xdotool", "key", key)
        want = str(low if key == "Home" else high)
        probe_reads(want, "slider %d to reach %s" % (slider, want), "value", str(slider))

    def set_text(self, text):
        self.focus(120, 360, 5295, 1575, TEXT1)
        kit.run("xdotool", "key", "ctrl+a")
        kit.run("xdotool", "type", text)
        probe_reads(text, "Text1 to read %r" % text, "text", str(TEXT1))

    def dialog_closed(self, what):
        probe_reads("none", "the %s dialog to close" % what, "dialog")


def start(settings=True, ini=None, suffix="", library="file"):
    """Korvane in a fresh folder (as make_case_folder makes it), its strip
    placed and drawn."""
    folder = kit.make_case_folder(library=library, settings=settings)
    if suffix:
        os.rename(folder, folder + suffix)
        folder += suffix
    if ini is not None:
        kit.write_file(os.path.join(folder, "test.ini"), ini)
    process, strip = kit.start_korvane(folder)
    area = kit.settled_geometry(strip)
    wait_for(lambda: ink_box(kit.grab(*area), WHITE), bool, "the caption to be drawn")
    return folder, process, strip


def right_click(x, y):
    kit.run("xdotool", "mousemove", str(x), str(y), "click", "3")


def open_panel(strip, right=20, down=None):
    """A right-click on the strip's surface shows the panel (again)."""
    x, y, w, h = kit.geometry(strip)
    right_click(x + w - right, y + (h // 2 if down is None else down))
    probe_reads("1", "a right-click to show the panel", "visible")
    wid = kit.wait_for_window(PANEL, timeout=WAIT)
    kit.settled_geometry(wid)
    return Panel(wid)


# Wider than any gap between or inside the glyphs: ink this far from both
# ends of the strip is the whole caption, not a clipped one.
MARGIN = 8


def wholly_on(box, width):
    return box is not None and box[0] >= MARGIN and box[2] <= width - MARGIN


def seconds_per_tick(strip, dpi, apart=3.0, background=WHITE):
    """Seconds between ticks, from the caption's travel between two frames
    `apart` seconds apart; a pair with a wrap between them is taken again."""
    area = kit.geometry(strip)
    pixels_per_tick = STEP_TWIPS * dpi / 1440.0

    def pair():
        first, before = time.monotonic(), ink_box(kit.grab(*area), background)
        time.sleep(apart)
        second, after = time.monotonic(), ink_box(kit.grab(*area), background)
        if before and after and after[0] <= before[0] and after[2] <= before[2]:
            travel = edge_travel(before, after, area[2])
            if travel > 0:
                return (second - first) * pixels_per_tick / travel
        return None

    return wait_for(pair, bool, "two frames %.0f s apart with the caption moving between them"
                    % apart, timeout=PASS, pause=0)


def require_above(strip_top, panel):
    """The panel's outer bottom edge 4000 twips above the strip, give or take
    its frame, which lies below the client area that place is for."""
    _, py, _, ph = kit.settled_geometry(panel.wid)
    gap = strip_top - (py + ph) - panel.px(4000)
    kit.require(0 <= gap <= 8, "panel bottom %d px from its place above the strip" % gap)


def require_ratio(measured, expected, what):
    kit.require(0.75 <= measured / expected <= 1.33,
                "%s: ticks %.2f times as long, expected %.2f" % (what, measured, expected))


def check_right_clicks_place_the_panel():
    _, _, strip = start()
    sx, sy, sw, _ = kit.geometry(strip)
    dpi = kit.prefix_dpi()
    laid_out_box = caption_box(strip)  # 14.25 pt, near the left edge
    # The laid-out interval, the reference for the one OK sets.
    laid_out = seconds_per_tick(strip, dpi)
    with MappedPlaces() as shown:
        panel = open_panel(strip)
    place = tuple(kit.geometry(panel.wid)[:2])
    kit.require(set(shown.of(panel.wid)) == {place}, "shown at %s, then at %s" % (
        shown.of(panel.wid), place))
    kit.require(probe("text", str(TEXT1)) == "欢迎使用!", "Text1 after the load")
    # Tab follows the panel's order over the controls that show and are
    # enabled: the tab control, Text1, OK, Import, Pause, Exit (Play is off).
    kit.run("xdotool", "windowfocus", "--sync", panel.wid)
    order = [101, 102, 103, 117, 118, 100, 118, 117]
    for key, expected in zip(["Tab"] * 6 + ["shift+Tab"] * 2, order):
        kit.run("xdotool", "key", key)
        probe_reads(str(expected), "%s to focus %d in the order %s" % (key, expected, order),
                    "focus")
    kit.require(probe("value", str(SLIDER2)) == "5895", "Slider2 stands at the strip's width")
    require_above(sy, panel)
    px, py, _, _ = kit.geometry(panel.wid)
    # Around its wrap the caption is off the strip for a moment.
    box = wait_for(lambda: caption_box(strip), lambda box: box and box[2] - box[0] >= 10,
                   "the caption on the strip", timeout=PASS)
    right_click(sx + (box[0] + box[2]) // 2, sy + (box[1] + box[3]) // 2)
    cx, cy, _, _ = kit.settled_geometry(panel.wid, moved_from=(px, py))
    kit.require(0 <= cx - sx <= 8,
                "panel at x=%d after a click on the caption, strip at %d" % (cx, sx))
    lifted = (cy - py) - (panel.px(4000) - panel.px(2600))
    kit.require(abs(lifted) <= 1, "caption click placed the panel %d px off" % lifted)

    # OK applies the laid-out state: 12 pt black on white, restarting 495
    # twips from the left edge, at 52 ms a step.
    panel.ok()
    expected_left = panel.px(495)

    def restarted(found):
        return (found and found[3] - found[1] < laid_out_box[3] - laid_out_box[1]
                and expected_left - 12 <= found[0] <= expected_left + 1)

    wait_for(lambda: caption_box(strip), restarted, "after OK a 12 pt caption at %d px (the"
             " 14.25 pt one was %s)" % (expected_left, laid_out_box))
    require_ratio(laid_out / seconds_per_tick(strip, dpi), 150 / 52,
                  "the laid-out 150 ms against OK's 52 ms")


class TopmostWindow:
    """Another program's always-on-top window over a pixel rectangle."""

    def __init__(self, area):
        self.process = kit.spawn("panel_probe.exe", "topmost", *map(str, area), text=True)

    def __enter__(self):
        kit.require(self.process.stdout.readline().strip() == "shown", "no topmost window")
        return self

    def raise_again(self):
        self.process.stdin.write("raise\n")
        self.process.stdin.flush()
        kit.require(self.process.stdout.readline().strip() == "raised", "the window did not rise")

    def __exit__(self, *exc):
        self.process.communicate("", timeout=WAIT)


def place_of(frame, reference, background):
    """Where the frame shows the reference caption whole: the left edge of
    the reference's ink, None for a frame without ink, or "torn" when no one
    place of the reference gives exactly this frame."""
    box = ink_box(frame, background, faint=0)
    if box is None:
        return None
    left = kit.caption_at(frame, reference, {box[0], box[2] - len(reference[0]) // 3}, background)
    return "torn" if left is None else left


def edge_travel(before, after, width):
    """Pixels the caption went left between two ink boxes, by an edge both show."""
    if before[2] < width and after[2] < width:
        return before[2] - after[2]
    return before[0] - after[0]


def check_playback_speed_fastest_frames_and_top():
    _, _, strip = start()
    x, y, w, h = area = kit.geometry(strip)
    dpi = kit.prefix_dpi()
    pixels_per_tick = STEP_TWIPS * dpi / 1440.0
    laid_out = seconds_per_tick(strip, dpi)
    panel = open_panel(strip)

    # Pause freezes the caption where it stands; Play moves it on from there.
    # (Paused with room to move on before it wraps.)
    wait_for(lambda: caption_box(strip), lambda box: box and box[2] >= 30,
             "the caption with room to move on", timeout=PASS)
    panel.pause()
    still = kit.grab(*area)
    still_box = ink_box(still, WHITE)
    kit.require(still_box, "the caption was off the strip at the pause")
    kit.watch(lambda: kit.grab(*area) == still, bool, 12 * laid_out,
              "the caption moved while paused")
    played = time.monotonic()
    panel.play()
    moved = wait_for(lambda: caption_box(strip), lambda box: box != still_box,
                     "the caption to move after Play")
    went = edge_travel(still_box, moved, w) if moved else 0
    most = ((time.monotonic() - played) / laid_out + 2) * pixels_per_tick
    kit.require(0 < went <= most, "after Play the caption stood at %s, paused at %s" % (
        moved, still_box))

    # The speed slider at its left end: 82 ms a tick.
    panel.tab(2)
    panel.slider_to_end(SLIDER1, "Home")
    slowest = seconds_per_tick(strip, dpi)
    require_ratio(laid_out / slowest, 150 / 82, "the laid-out 150 ms against the slider's 82 ms")

    # A newer topmost window over the strip's right end: the running strip
    # comes back on top of it; the paused one does not.
    spot = (x + w - 60, y + 1)  # strip surface above the caption's line
    on_screen = lambda: pixel(kit.grab(*spot, 1, 1), 0, 0)  # noqa: E731
    with TopmostWindow((x + w - 100, y - 10, 80, h + 20)) as other:
        shown = time.monotonic()
        wait_for(on_screen, lambda p: p == WHITE, "the strip back over a newer topmost window",
                 pause=0.01)
        came_back = time.monotonic() - shown
        panel.pause()
        other.raise_again()
        wait_for(on_screen, lambda p: p == MAGENTA, "the topmost window over the paused strip")
        kit.watch(on_screen, lambda p: p == MAGENTA, max(10 * came_back, 12 * slowest),
                  "the paused strip came back on top")
        panel.play()
        wait_for(on_screen, lambda p: p == WHITE, "after Play the strip back on top", pause=0.01)

    # The fastest speed: frames from one wrap to the next, over 2 s at least.
    panel.slider_to_end(SLIDER1, "End")
    frames = []  # (time, frame, ink box) from one wrap to the next
    wraps, travel, last_box = 0, 0, None
    first = time.monotonic()
    deadline = first + PASS
    while (wraps < 2 or time.monotonic() - first < 2) and time.monotonic() < deadline:
        frame_at = time.monotonic()
        frame = kit.grab(*area)
        box = ink_box(frame, WHITE)
        if box and last_box and box[0] > last_box[0] + w / 2:
            wraps += 1
        elif box and last_box:
            # The caption's travel, less what it makes off the strip.
            travel += max(edge_travel(last_box, box, w), 0)
        if wraps == 1:
            frames.append((frame_at, frame, box))
        last_box = box or last_box
        time.sleep(0.002)
    kit.require(wraps >= 2, "%d wraps at the fastest speed" % wraps)
    # The caption as most frames show it whole is the reference; every
    # frame must be it at one place, or blank between leaving on the left
    # and coming in on the right.
    crops = {}
    for _, frame, box in frames:
        if wholly_on(box, w):
            box = ink_box(frame, WHITE, faint=0)
            crop = tuple(row[3 * box[0]:3 * box[2]] for row in frame)
            crops[crop] = crops.get(crop, 0) + 1
    kit.require(crops, "the caption was never wholly on the strip at the fastest speed")
    reference = max(crops, key=crops.get)
    ref_width = len(reference[0]) // 3
    places = [place_of(frame, reference, WHITE) for _, frame, _ in frames]
    kit.require("torn" not in places, "frame %d of %d at the fastest speed is not the whole"
                " caption" % (places.index("torn") if "torn" in places else 0, len(places)))
    for i, left in enumerate(places):
        if left is None:
            before = [p for p in places[:i] if p is not None]
            after = [p for p in places[i + 1:] if p is not None]
            kit.require(not before or not after
                        or (before[-1] + ref_width < w / 2 and after[0] > w / 2),
                        "a blank frame in mid-pass, between %s and %s" % (before[-1:], after[:1]))
    one_pass = [left for left in places if left is not None]
    one_pass = one_pass[:next((i for i in range(1, len(one_pass))
                               if one_pass[i] > one_pass[i - 1]), len(one_pass))]
    distinct = len(set(one_pass))
    kit.require(distinct >= 10, "the caption stood at %d places in a pass" % distinct)
    # At most this long a tick: the travel seen leaves out the ticks spent
    # off the strip.
    fastest = (frame_at - first) * pixels_per_tick / max(travel, 1)
    kit.require(slowest / fastest >= 2,
                "the fastest ticks are %.1f times as short as 82 ms ticks" % (slowest / fastest))


RED, GREEN, BLUE, YELLOW = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0)


def choose_colour(panel, swatch_left, colour):
    """Clicks a swatch of the font page and picks `colour` among the colour
    dialog's basic colours, found on the screen by its exact pixels."""
    panel.click(swatch_left, 480, 495, 255)
    dialog = kit.wait_for_window("颜色", timeout=WAIT)
    area = kit.settled_geometry(dialog)
    # Found once the dialog has painted its cells.
    cells = wait_for(lambda: [(x, y) for y, row in enumerate(kit.grab(*area))
                              for x in range(area[2]) if row[3 * x:3 * x + 3] == bytes(colour)],
                     bool,
                     "the colour dialog to offer %s" % (colour,))
    # The first cell of that colour: its pixels lie within a cell's size.
    cell = [(x, y) for x, y in cells if abs(x - cells[0][0]) < 30 and abs(y - cells[0][1]) < 30]
    cx, cy = (sum(values) // len(cell) for values in zip(*cell))
    kit.run("xdotool", "mousemove", str(area[0] + cx), str(area[1] + cy), "click", "1")
    kit.run("xdotool", "windowfocus", "--sync", dialog, "key", "Return")
    panel.dialog_closed("colour")


def choose_font(panel, face, points):
    """Clicks the sample and picks a face and a size in the font dialog."""
    panel.click(960, 1080, 2580, 300)
    dialog = kit.wait_for_window("字体", timeout=WAIT)
    # The dialog opens with the face's name selected; Tab, Tab reaches the size.
    kit.run("xdotool", "windowfocus", "--sync", dialog, "type", face)
    kit.run("xdotool", "key", "Tab", "Tab")
    kit.run("xdotool", "type", str(points))
    kit.run("xdotool", "key", "Return")
    panel.dialog_closed("font")


def drawn_text_box(font_file, points, dpi, text):
    """Ink size (width, height) of a text drawn by ImageMagick's FreeType
    text rendering: a drawing that shares nothing with the program."""
    data = subprocess.run(["convert", "-background", "white", "-fill", "black", "-font", font_file,
                           "-density", str(dpi), "-pointsize", str(points), "label:" + text,
                           "-depth", "8", "ppm:-"], stdout=subprocess.PIPE, check=True).stdout
    box = ink_box(kit.ppm_rows(data), WHITE)
    return box[2] - box[0], box[3] - box[1]


def dominant(frame, colours):
    """The colour most pixels of the frame have exactly, if 5 or more do."""
    pixels = [row[x:x + 3] for row in frame for x in range(0, len(row), 3)]
    counts = {c: pixels.count(bytes(c)) for c in colours}
    best = max(colours, key=counts.get)
    return best if counts[best] >= 5 else None


def check_font_and_colours():
    _, _, strip = start()
    x, y, w, h = area = kit.geometry(strip)
    dpi = kit.prefix_dpi()
    panel = open_panel(strip)
    panel.set_text("Korvane")
    panel.tab(1)

    # The background swatch changes the strip at once.
    choose_colour(panel, 3840, YELLOW)
    wait_for(lambda: pixel(kit.grab(*area), w - 2, 1), lambda p: p == YELLOW, "a yellow strip")
    # The three text colours; the swatches show them.
    for left, colour in ((960, RED), (1560, GREEN), (2160, BLUE)):
        choose_colour(panel, left, colour)
        px, py, _, _ = kit.geometry(panel.wid)
        at = (px + panel.px(120 + left + 495 / 2), py + panel.px(120 + 480 + 255 / 2))
        wait_for(lambda: pixel(kit.grab(*at, 1, 1), 0, 0), lambda p: p == colour,
                 "the swatch at %d to show %s" % (left, colour))

    # The font choice applies at once, in the first colour on the chosen
    # background.
    choose_font(panel, "DejaVu Sans", 18)
    wait_for(lambda: kit.grab(*area), lambda f: dominant(f, (RED, GREEN, BLUE)) == RED
             and pixel(f, w - 2, 1) == YELLOW, "a red caption on yellow after the font choice")
    # The sample, grown to the new font, shows it whole: as it looks when
    # its page is shown afresh.
    px, py, _, _ = kit.geometry(panel.wid)
    sample = (px + panel.px(120 + 960), py + panel.px(120 + 1080), panel.px(6735 - 960 - 240),
              panel.px(2055 - 1080 - 120))
    after_choice = steady(sample)
    panel.tab(2)
    panel.tab(1)
    afresh = steady(sample)
    kit.require(afresh == after_choice, "the sample did not repaint whole after the font choice")

    # On a narrow strip at the fastest speed the caption wraps every second
    # or so, and each wrap brings the next swatch's colour. Whenever it is
    # wholly on the strip, "Korvane" is as large as DejaVu Sans 18 pt is
    # when ImageMagick draws it.
    expected = drawn_text_box("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 18, dpi,
                              "Korvane")
    panel.tab(2)
    panel.slider_to_end(SLIDER2, "Home")
    area = wait_for(lambda: kit.geometry(strip), lambda a: a[2] == panel.px(2000),
                    "the strip 2000 twips wide")
    panel.slider_to_end(SLIDER1, "End")
    cycle = [RED, GREEN, BLUE]
    seen = []  # (colour, its first ink box, the last ink box before it)
    sizes, last_box = set(), None
    deadline = time.monotonic() + PASS
    while len(seen) < 5 and time.monotonic() < deadline:
        frame = kit.grab(*area)
        colour = dominant(frame, cycle)
        box = ink_box(frame, YELLOW)
        time.sleep(0.002)
        if colour is None or box is None:
            continue
        if wholly_on(box, area[2]):
            sizes.add((box[2] - box[0], box[3] - box[1]))
        if not seen or colour != seen[-1][0]:
            seen.append((colour, box, last_box))
        last_box = box
    kit.require(len(seen) >= 5, "colours seen: %s" % [c for c, _, _ in seen])
    for (before, _, _), (after, box, previous) in zip(seen, seen[1:]):
        kit.require(cycle.index(after) == (cycle.index(before) + 1) % 3,
                    "%s followed %s" % (after, before))
        # A colour changes only at a wrap: it comes in on the right, after
        # the caption in the previous colour has left on the left.
        kit.require(box[0] > area[2] / 2 and previous[2] < area[2] / 2,
                    "%s came at %s after %s" % (after, box, previous))
    kit.require(sizes, "the caption was never wholly on the narrow strip")
    kit.require(all(abs(size[0] - expected[0]) <= 2 and abs(size[1] - expected[1]) <= 2
                    for size in sizes),
                "the caption's ink measures %s px, DejaVu Sans 18 pt %s" % (sorted(sizes),
                                                                             expected))


# Thai is outside code page 936: the folder has no ANSI spelling.
OUTSIDE_CP936 = "-ไทย"


def utf8_file_names(case):
    """Builds zh_CN.UTF-8 privately and points glibc at it (LOCPATH): Wine
    spells Unix file names in the glibc locale's character set, and without
    that locale no name outside ASCII is reachable."""
    folder = tempfile.mkdtemp(prefix="korvane-locale-")
    kit.run("localedef", "-i", "zh_CN", "-f", "UTF-8", os.path.join(folder, "zh_CN.UTF-8"),
            timeout=120)
    kit.require(os.path.isdir(os.path.join(folder, "zh_CN.UTF-8")), "localedef made no zh_CN.UTF-8")
    kit.kill_wine()
    os.environ["LOCPATH"] = folder
    try:
        case()
    finally:
        kit.kill_wine()
        del os.environ["LOCPATH"]


def check_closing_writes_the_setting_and_a_stored_0_is_read():
    folder, _, strip = start(settings=False, suffix=OUTSIDE_CP936)
    ini = os.path.join(folder, "test.ini")
    panel = open_panel(strip)
    # Esc in a half-typed Text1 neither closes the panel nor applies; the
    # letter typed after it shows that the key has been handled.
    panel.focus(120, 360, 5295, 1575, TEXT1)
    kit.run("xdotool", "key", "ctrl+End")
    kit.run("xdotool", "type", "abc")
    kit.run("xdotool", "key", "Escape")
    kit.run("xdotool", "type", "d")
    typed = wait_for(lambda: probe("text", str(TEXT1)), lambda text: text.endswith("abcd"),
                     "Text1 to end in abcd after abc, Esc, d")
    kit.require(typed == "欢迎使用!abcd", "Text1 reads %r after abc, Esc, d" % typed)
    kit.require(probe("visible") == "1", "Esc closed the panel")
    kit.require(kit.read_file(ini) is None, "Esc wrote test.ini")
    kit.run("xdotool", "key", "alt+F4")
    written = wait_for(lambda: kit.read_file(ini), lambda data: data and b"Check1" in data,
                       "closing to write Check1")
    kit.require(probe("visible") == "0", "closing left the panel shown")
    kit.require(written.replace(b"\r\n", b"\n") == b"[Check]\nCheck1=1\n", written)
    kit.kill_wine()

    # A stored 0 clears the box; Exit after changing it writes nothing, and
    # neither does the end of the session, which ends the program as Exit does.
    stored = b"[Check]\r\nCheck1=0\r\n"
    for end in ("Exit", "the end of the session"):
        folder, process, strip = start(ini=stored, suffix=OUTSIDE_CP936)
        panel = open_panel(strip)
        kit.require(probe("value", str(CHECK1)) == "0", "a stored 0 did not clear the box")
        panel.tab(1)
        panel.click(4920, 480, 300, 180)
        probe_reads("1", "the click to check the box", "value", str(CHECK1))
        if end == "Exit":
            panel.click(6960, 1680, 975, 375, on_tab=False)
        else:
            # Signing out: the program's windows are asked and then told.
            # (Wine's own wineboot --end-session ends the process itself
            # after telling it, so it would not show the program's part.)
            kit.require(probe("endsession") == "ended", "the program refused to end the session")
        wait_for(process.poll, lambda code: code is not None, "the program to end after " + end)
        kit.require(kit.read_file(os.path.join(folder, "test.ini")) == stored,
                    "%s changed test.ini" % end)
        kit.kill_wine()


def check_second_right_click_while_loading():
    """A right-click on the caption asks for the panel 2600 twips above the
    strip, one on its surface 4000 twips above; the second comes while the
    first one's load waits for the update check."""
    with held.HeldUpdateService() as service:
        _, _, strip = start(ini=b"[Check]\r\nCheck1=0\r\n", library="Update.dll")
        sx, sy, sw, sh = kit.geometry(strip)
        with MappedPlaces() as shown:
            box = caption_box(strip)
            right_click(sx + (box[0] + box[2]) // 2, sy + (box[1] + box[3]) // 2)
            kit.require(service.wait_arrived(1, WAIT), "the right-click started no check")
            right_click(sx + sw - 20, sy + sh // 2)
            kit.wait_for_ticks(strip)  # the strip has had the click
            kit.require(service.counts() == (1, 0), "the check was over too soon")
            kit.require(probe("visible") == "0", "the panel showed before the check ended")
            service.release_all(hold_on=False)
            probe_reads("1", "the panel to show once the check ended", "visible")
            panel = Panel(kit.wait_for_window(PANEL))
            require_above(sy, panel)  # where the last click asks
            place = tuple(kit.geometry(panel.wid)[:2])
        maps = [kind for kind, window, _ in shown.events
                if window == int(panel.wid) and kind == MappedPlaces.MAP]
        kit.require(len(maps) == 1 and set(shown.of(panel.wid)) == {place},
                    "shown %d times, at %s" % (len(maps), shown.of(panel.wid)))
        kit.require(service.counts() == (1, 1), "checks made: %s" % (service.counts(),))
    kit.forget_update_library()


def check_first_wrap_creates_the_panel_hidden():
    start()
    kit.require(probe("visible") == "none", "panel created before it was used")
    # The laid-out caption wraps on the 72nd tick, about 10.8 s after start.
    created = wait_for(lambda: probe("visible"), lambda state: state != "none",
                       "the first wrap to create the panel", timeout=PASS, pause=0.5)
    kit.require(created == "0", "the wrap did not create the panel hidden (%s)" % created)


# A GBK file, written out by hand: "GBK 导入：第一行", "朱镕基 €100" (镕 is outside
# GB2312, its second byte is an ASCII letter; 0x80 is code page 936's euro
# sign) and "第三行", each line but the last ended by CR LF.
GBK_FILE = (b"GBK \xb5\xbc\xc8\xeb\xa3\xba\xb5\xda\xd2\xbb\xd0\xd0\r\n"
            b"\xd6\xec\xe9\x46\xbb\xf9 \x80100\r\n"
            b"\xb5\xda\xc8\xfd\xd0\xd0")
GBK_TEXT = "GBK 导入：第一行朱镕基 €100第三行"
IMPORT_LIMIT = 64 << 20  # the largest file Import takes


def import_file(panel, path):
    panel.click(5520, 1320, 1095, 495)
    kit.choose_in_open_dialog(path)
    panel.dialog_closed("open")


def check_import_and_width():
    folder, _, strip = start()
    text_file = kit.write_file(os.path.join(folder, "import.txt"),  # UTF-8 with a BOM
                               "\ufeff导入测试\r\nABCDEFGHIJKLMNOPQRST\r\n")
    # Held open for writing by another program, as a logger would.
    holder = kit.spawn("panel_probe.exe", "hold", kit.wine_path(text_file), text=True)
    kit.require(holder.stdout.readline().strip() == "held", "the file could not be held open")
    panel = open_panel(strip)
    import_file(panel, text_file)
    imported = "导入测试ABCDEFGHIJKLMNOPQRST"
    kit.require(probe("text", str(TEXT1)) == imported, "Text1 does not hold the imported text")
    holder.communicate("\n", timeout=30)
    check_text1_menu_and_keys(panel, imported)
    panel.ok()
    # Four ideographs and twenty half-width letters at 12 pt: about 224 px,
    # against 72 px for the welcome text.
    wait_for(lambda: caption_box(strip), lambda box: box and box[2] - box[0] > panel.px(2800),
             "the imported text on the strip")

    open_panel(strip, 5, 3)
    # A file in the ANSI code page, GBK, reads as decoded by hand.
    gbk_file = kit.write_file(os.path.join(folder, "gbk.txt"), GBK_FILE)
    import_file(panel, gbk_file)
    shown = probe("text", str(TEXT1))
    kit.require(shown == GBK_TEXT, "the GBK file reads %r" % shown)
    # A file over the limit is refused without a word: Text1 keeps its text.
    big_file = os.path.join(folder, "big.txt")
    with open(big_file, "wb") as f:
        f.truncate(IMPORT_LIMIT + 1)
    import_file(panel, big_file)
    kit.require(probe("dialog") == "none", "a message after the refused import")
    shown = probe("text", str(TEXT1))
    kit.require(shown == GBK_TEXT, "after the refused import Text1 reads %r" % shown[:40])

    # The width slider at its minimum makes the strip 2000 twips wide.
    panel.tab(2)
    panel.slider_to_end(SLIDER2, "Home")
    wait_for(lambda: kit.geometry(strip)[2], lambda px: px == panel.px(2000),
             "the strip 2000 twips wide")


def text1_menu(panel, accelerator):
    panel.click(240 + 600, 480 + 300, 0, 0, on_tab=False, button="3")
    probe_reads("1", "a context menu on Text1", "visible", "#32768")
    kit.run("xdotool", "key", accelerator)
    wait_for(lambda: probe("visible", "#32768"), lambda shown: shown != "1",
             "the context menu to close")


def check_text1_menu_and_keys(panel, text):
    """Text1's context menu and keys act as a text box's: select all, cut,
    paste, undo; the pasted text is plain and whole."""
    text1 = lambda: probe("text", str(TEXT1))  # noqa: E731

    # Menu items by their accelerators: 全选, 剪切, 粘贴, 撤销.
    for what, menu, keys, wanted in (("全选 then 剪切", "at", (), ""), ("粘贴", "p", (), text),
                                     ("Ctrl+A, Delete", "", ("ctrl+a", "Delete"), ""),
                                     ("Ctrl+Z", "", ("ctrl+z",), text),
                                     ("Ctrl+C, Ctrl+V", "", ("ctrl+a", "ctrl+c", "ctrl+End",
                                                             "ctrl+v"), text * 2),
                                     ("撤销", "u", (), text)):
        for accelerator in menu:
            text1_menu(panel, accelerator)
        if keys:
            kit.run("xdotool", "key", *keys)
        wait_for(text1, lambda found: found == wanted, "%s to give %r" % (what, wanted))


# --- Screen readers and the keyboard ----------------------------------------

def menu_from_icon(event, *keys):
    """Sends the notification-area icon's window what the shell sends for
    `event`, then the keys to the menu that opens. Returns, for each item,
    whether it is drawn in the menu's text colour (black) rather than greyed."""
    kit.require(probe("notify", event) == "", "the icon's window is missing")
    probe_reads("1", "%s to open a menu" % event, "visible", "#32768")
    # Opened at the screen's bottom right corner, where the probe put the icon.
    shown = kit.run("xdotool", "search", "--onlyvisible", "--class", "korvane").stdout.split()
    bottom = kit.screen_size()[1] - 20
    menu = next((wid for wid in shown if sum(kit.geometry(wid)[1::2]) > bottom), None)
    kit.require(menu, "no menu at the screen's bottom")
    x, y, w, h = kit.settled_geometry(menu)
    frame = steady((x + 3, y + 3, w - 6, h - 6))
    # Each item's text is a band of rows with ink: black or grey.
    bands, band = [], []
    for row in frame + [b"\xff"]:
        if min(row) < 160:
            band.append(min(row))
        elif band:
            bands.append(min(band) < 64)
            band = []
    kit.run("xdotool", "key", "--window", menu, *keys)
    wait_for(lambda: probe("visible", "#32768"), lambda v: v != "1",
             "the menu to close after %s" % " ".join(keys))
    return bands


def check_screen_reader_name_and_notification_menu():
    _, _, strip = start()
    read = lambda: probe("accessible")  # noqa: E731
    # Static text (41), read-only (64), named after the caption.
    kit.require(read() == "41 64 欢迎使用!", "the strip reads %r to a screen reader" % read())
    # Enter on the icon: 播放 greyed while the caption plays. Down three
    # times reaches 暂停, which creates the panel hidden and pauses.
    kit.require(menu_from_icon("keyselect", "Down", "Down", "Down", "Return") ==
                [True, False, True], "控制面板, 播放 and 暂停 not as the buttons are")
    def buttons():
        return probe("enabled", str(COMMAND3)), probe("enabled", str(COMMAND5))

    wait_for(buttons, lambda on: on == ("1", "0"), "暂停 to enable Play and disable Pause")
    kit.require(probe("visible") == "0", "暂停 showed the panel")
    # The menu key: now 暂停 is greyed, and 播放 plays.
    kit.require(menu_from_icon("contextmenu", "Down", "Down", "Return") == [True, True, False],
                "控制面板, 播放 and 暂停 not as the buttons are after 暂停")
    wait_for(buttons, lambda on: on == ("0", "1"), "播放 to enable Pause and disable Play")
    # A click on the icon: 控制面板 shows the panel as a right-click beside
    # the caption does, its bottom 4000 twips above the strip.
    menu_from_icon("select", "Down", "Return")
    wid = kit.wait_for_window(PANEL, timeout=WAIT)
    probe_reads("1", "控制面板 to show the panel", "visible")
    panel = Panel(wid)
    require_above(kit.geometry(strip)[1], panel)
    # OK with a new text: one name change is announced, none by the ticks
    # and the wrap that follow, and the screen reader reads the new text.
    panel.set_text("Korvane, read aloud")
    with kit.spawn("panel_probe.exe", "namechanges", text=True) as watcher:
        kit.require(watcher.stdout.readline() == "watching\n", "no one listens to the strip")
        panel.ok()
        kit.require(select.select([watcher.stdout], [], [], WAIT)[0], "OK announced nothing")
        kit.require(watcher.stdout.readline() == "name\n", "OK announced something else")
        # Restarted near the left edge, then in again from the right.
        width = kit.geometry(strip)[2]
        for where in (lambda left: left < width // 4, lambda left: left > width // 2):
            kit.require(wait_for(lambda: caption_box(strip), lambda box: box and where(box[0]),
                                 timeout=PASS), "the new caption did not restart and wrap")
        more = watcher.communicate("", timeout=WAIT)[0]
    kit.require(more == "", "ticks and a wrap announced %d more name changes" % more.count("n"))
    named = read()
    kit.require(named == "41 64 Korvane, read aloud", "after OK the strip reads %r" % named)


def main():
    kit.kill_wine()
    # The library in each case folder is a stand-in: no update check runs.
    kit.forget_update_library()
    suite = kit.Suite()
    suite.run("right-clicks place the panel, shown only in place; OK applies the laid-out state,"
              " ticking 150/52 times as often",
              check_right_clicks_place_the_panel)
    suite.run("Pause stops the caption, Play moves it on; the speed slider's 82 ms; back on top of"
              " a newer topmost window unless paused; whole frames at the fastest speed",
              check_playback_speed_fastest_frames_and_top)
    suite.run("the background colour at once; the font dialog's face and size on the strip; three"
              " text colours in turn at the wraps",
              check_font_and_colours)
    suite.run("Esc does nothing; closing writes Check1 and a stored 0 clears the box in a folder"
              " outside code page 936; Exit and the end of the session write nothing",
              lambda: utf8_file_names(check_closing_writes_the_setting_and_a_stored_0_is_read))
    suite.run("the first wrap creates the panel without showing it",
              check_first_wrap_creates_the_panel_hidden)
    suite.run("a second right-click while the panel loads: it loads and shows once, where the"
              " last click asks", check_second_right_click_while_loading)
    suite.run("import of a file held open for writing; Text1's menu and keys; a GBK file; a file"
              " over the limit refused; the width slider at its minimum",
              check_import_and_width)
    suite.run("a screen reader reads the caption, after OK the new one; the notification-area"
              " menu from the keyboard pauses, plays and opens the panel",
              check_screen_reader_name_and_notification_menu)
    return suite.exit_code()


if __name__ == "__main__":
    sys.exit(main())
