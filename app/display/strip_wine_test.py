"""The strip under Wine (the cases are listed in main()). Every frame a case
takes is compared with the caption drawn whole by caption_reference.exe, at a
place worked out here from the laid-out figures: a frame that matches no such
place fails the case.

Usage: strip_wine_test.py   (run through wine-env.sh)
"""

import functools
import os
import re
import sys
import time

import wine_testkit as kit

WHITE = (255, 255, 255)  # COLOR_WINDOW in Wine's default scheme
IMPORT_BYTES = 1 << 20  # the long import's size
DEADLINE = 60  # a safety net only: every wait below ends on its condition
REFERENCE = os.path.join(kit.TEST_BIN_DIR, "caption_reference.exe")


prefix_dpi = functools.lru_cache(kit.prefix_dpi)  # read once: no case changes it


def places(start_twips, ticks):
    """The caption's left edge in pixels, from `start_twips` on, 20 twips a tick."""
    return [kit.twips(start_twips - 20 * tick, prefix_dpi()) for tick in range(ticks)]


def wait_for(condition, what, timeout=DEADLINE):
    return kit.wait_for(condition, bool, what, timeout, pause=0.05)


def start_strip(folder=None):
    folder = folder or kit.make_case_folder(library="file", settings=True)
    _, strip = kit.start_korvane(folder)
    kit.settled_geometry(strip)
    wait_for(lambda: kit.caption_box(strip), "the caption to be drawn")
    return strip


def welcome_strip():
    """(folder, strip, its geometry, the laid-out caption drawn whole): "欢迎使用!"
    in 宋体 14.25 pt."""
    folder = kit.make_case_folder(library="file", settings=True)
    strip = start_strip(folder)
    x, y, w, h = kit.geometry(strip)
    return folder, strip, (x, y, w, h), reference_picture(folder, "欢迎使用!", 14.25, w + 100, h)


def reference_picture(folder, text, points, width, height, font=None):
    """The caption drawn whole by caption_reference.exe from x = 0."""
    text_file = kit.write_file(os.path.join(folder, "reference.txt"), text)
    out = os.path.join(folder, "reference.ppm")
    kit.run_windows(REFERENCE, kit.wine_path(text_file), str(points), str(width), str(height),
                    kit.wine_path(out), *([font] if font else []), check=True)
    with open(out, "rb") as f:
        return kit.ppm_rows(f.read())


def write_ppm(rows, name):
    """Keeps a picture for a look after a failure; returns its path."""
    path = os.path.join(os.environ.get("KORVANE_BUILD_DIR", "/tmp"), "strip_wine_test-%s.ppm" % name)
    return kit.write_file(path, b"P6\n%d %d\n255\n" % (len(rows[0]), len(rows)) + b"".join(rows))


def follow_caption(strip, reference, start_twips, wanted, before=None):
    """The places of the caption once seen at `wanted` places; each frame must
    be the whole caption at a place it reaches from `start_twips`, never going
    right. `before`: (reference, places) of a caption, or an empty strip,
    allowed until the first frame of this one."""
    x, y, w, h = kit.geometry(strip)
    allowed = places(start_twips, 4000)
    seen = []
    deadline = time.time() + DEADLINE
    while len(set(seen)) < wanted:
        kit.require(time.time() < deadline, "the caption was seen at only %s" % seen)
        frame = kit.grab(x, y, w, h)
        left = kit.caption_at(frame, reference, allowed)
        if left is None and not seen and before is not None:
            # The earlier caption, or none while it waits beyond the edge.
            if (kit.caption_at(frame, before[0], before[1]) is not None
                    or kit.ink_box(frame, WHITE, faint=0) is None):
                continue
        if left is None:
            kept = write_ppm(frame, "unmatched")
            raise kit.Failure("a frame that is not the whole caption at %s twips less 20 a tick"
                              " (seen %s; the frame: %s)" % (start_twips, seen, kept))
        kit.require(not seen or left <= seen[-1], "the caption moved right: %s then %d"
                    % (seen, left))
        seen.append(left)
        time.sleep(0.005)
    return seen


def check_caption_scrolls():
    # The laid-out caption starts 120 twips from the strip's left edge.
    _, strip, _, reference = welcome_strip()
    follow_caption(strip, reference, 120, 5)


def check_caption_reenters_from_the_right():
    _, strip, (_, _, w, _), reference = welcome_strip()
    # Gone on the left (about 70 ticks), it waits at the strip's right edge
    # (5895 twips) and comes back from there.
    wait_for(lambda: kit.caption_box(strip) is None, "the caption to leave the strip")
    wait_for(lambda: kit.caption_box(strip) is not None, "the caption to come back")
    seen = follow_caption(strip, reference, 5895, 3)
    kit.require(seen[0] > w - 30, "caption came back at %d px, not from the right edge" % seen[0])


def drag(from_x, from_y, dx, dy, strip, button="1", moves=True):
    """Presses `button` at (from_x, from_y), moves by (dx, dy) in five steps
    once the strip has handled the press (a drag starts at the pointer's
    place then), each step waited for with `moves`, and releases it."""
    x0, y0 = kit.geometry(strip)[:2]
    kit.run("xdotool", "mousemove", str(from_x), str(from_y))
    kit.run("xdotool", "mousedown", button)
    kit.wait_for_ticks(strip)
    for step in range(1, 6):
        kit.run("xdotool", "mousemove", str(from_x + dx * step // 5), str(from_y + dy * step // 5))
        if moves:
            target = (x0 + dx * step // 5, y0 + dy * step // 5)
            wait_for(lambda: kit.geometry(strip)[:2] == target, "the strip to reach %s" % (target,))
    kit.run("xdotool", "mouseup", button)
    kit.wait_for_ticks(strip)


def check_drag_from_surface_not_from_caption():
    strip = start_strip()
    x, y, w, h = kit.geometry(strip)
    box = kit.caption_box(strip)
    kit.require(box, "no caption on the strip")
    # On the caption: the strip stays where it is.
    drag(x + (box[0] + box[2]) // 2, y + (box[1] + box[3]) // 2, -120, -200, strip, moves=False)
    kit.require(kit.geometry(strip)[:2] == (x, y), "a press on the caption moved the strip")
    # A right click on the surface (which opens the panel) moves nothing,
    # and the strip does not follow the pointer afterwards.
    kit.run("xdotool", "mousemove", str(x + w - 20), str(y + h // 2), "click", "3")
    kit.wait_for_window("Korvanev1.0")
    kit.run("xdotool", "mousemove", str(x + w - 140), str(y - 200))
    kit.wait_for_ticks(strip)
    kit.require(kit.geometry(strip)[:2] == (x, y),
                "the strip followed the pointer after a right click")
    # On the surface right of the caption: the strip follows the mouse.
    drag(x + w - 20, y + h // 2, -120, -200, strip)
    moved_to = kit.geometry(strip)[:2]
    kit.require(moved_to == (x - 120, y - 200),
                "strip at %s after a drag from %s" % (moved_to, (x, y)))
    # The middle button drags too, and the strip stays once it is released.
    drag(x - 120 + w - 20, y - 200 + h // 2, 100, 150, strip, button="2")
    kit.run("xdotool", "mousemove", str(x + w), str(y))
    kit.wait_for_ticks(strip)
    moved_to = kit.geometry(strip)[:2]
    kit.require(moved_to == (x - 20, y - 50), "strip at %s after a middle drag" % (moved_to,))


# Messages Windows would send the strip, sent by panel_probe: Wine sends
# neither. WM_WTSSESSION_CHANGE with WTS_SESSION_LOCK and WTS_SESSION_UNLOCK;
# WM_DISPLAYCHANGE with 32 bits a pixel and the screen's size.
LOCK, UNLOCK = ("0x2B1", "7", "session"), ("0x2B1", "8", "session")


def display_change():
    w, h = kit.screen_size()
    return kit.panel_probe("send", "0x7E", "32", str(h << 16 | w))


def check_locked_caption_rests_and_goes_on():
    _, strip, area, reference = welcome_strip()
    follow_caption(strip, reference, 120, 2)
    kit.require(kit.panel_probe("send", *LOCK), "the strip took no lock")
    locked = kit.grab(*area)
    route = places(120, 72)
    stop = kit.caption_at(locked, reference, route)
    kit.require(stop is not None, "the locked strip shows no place of the caption")
    stop = route.index(stop)
    # Any tick moves the caption by a pixel or more: watched for 20 ticks.
    kit.watch(lambda: kit.grab(*area) == locked, bool, 20 * 0.15, "the caption moved while locked",
              pause=0.01)
    unlocked = time.time()
    kit.require(kit.panel_probe("send", *UNLOCK), "the strip took no unlock")
    # On from where it stood: no more ticks than the time since the unlock
    # allows (a catch-up would take the 20 of the lock), and no wrap.
    seen = follow_caption(strip, reference, 120 - 20 * stop, 3)
    ticks = route.index(seen[0]) - stop
    kit.require(ticks <= (time.time() - unlocked) / 0.15 + 1,
                "the caption jumped %d ticks on at the unlock" % ticks)


def check_display_change_brings_back_a_lost_strip_only():
    strip = start_strip()
    x, y, w, h = home = kit.geometry(strip)
    as_rect = lambda g: "%d %d %d %d" % (g[0], g[1], g[0] + g[2], g[1] + g[3])  # noqa: E731
    # Dragged by its surface, just right of the caption, until 120 px of it
    # show at the screen's right edge, the caption's part: it stays, not a
    # pixel away, also once it has handled the input that follows.
    grip = kit.caption_box(strip)[2] + 20
    drag(x + grip, y + h // 2, kit.screen_size()[0] - 120 - x, 0, strip)
    dragged = kit.geometry(strip)
    after = display_change()
    kit.require(after == as_rect(dragged), "the dragged strip %s went to %s" % (dragged, after))
    kit.wait_for_ticks(strip)
    kit.require(kit.geometry(strip) == dragged, "the dragged strip moved later")
    # Moved where 10 px of its height show: back at start-up's place.
    kit.panel_probe("move", str(x), str(kit.screen_size()[1] - 10))
    after = display_change()
    kit.require(after == as_rect(home), "the lost strip went to %s, not %s" % (after, home))
    # Dragged until 25 px of it show: the change that comes meanwhile moves
    # nothing until the button is released.
    kit.run("xdotool", "mousemove", str(x + w - 20), str(y + h // 2), "mousedown", "1")
    try:
        kit.wait_for_ticks(strip)
        kit.run("xdotool", "mousemove", "5", str(y + h // 2))
        lost = (5 - (w - 20), y, w, h)
        wait_for(lambda: kit.geometry(strip) == lost, "the strip to reach %s" % (lost,))
        after = display_change()
        kit.require(after == as_rect(lost), "the strip went to %s during the drag" % after)
    finally:
        kit.run("xdotool", "mouseup", "1")
    wait_for(lambda: kit.geometry(strip) == home, "the strip to go back once released")


def check_long_import_scrolls_as_drawn_whole():
    folder, strip, (x, y, w, h), welcome = welcome_strip()
    # One long line: ideographs, ASCII, and a pair of surrogates early on.
    start = "欢迎使用 Korvane \U00020000 跑马灯 ABC xyz 0123! "
    # Sentences of varying ideographs, so that no stretch of the caption
    # repeats another.
    body = "".join(chr(0x4E00 + (i * 37) % 3000) + ("。" if i % 8 == 7 else "")
                   for i in range(IMPORT_BYTES // 3))
    text = (start + body)[:IMPORT_BYTES // 3]
    text_file = kit.write_file(os.path.join(folder, "long.txt"), text)
    kit.right_click_strip(strip)
    panel = kit.wait_for_window("Korvanev1.0")
    # It shows at its old place for a moment, then moves above the strip.
    kit.wait_for(lambda: kit.settled_geometry(panel), lambda at: at[1] + at[3] <= y,
                 "the panel to settle above the strip")
    kit.click_twips(panel, prefix_dpi(), 5520 + 120, 1320 + 120, 1095, 495)  # Import, on its tab
    kit.choose_in_open_dialog(text_file)
    # Reading Text1 waits until the panel has taken the file in.
    shown = kit.run_windows("panel_probe.exe", "text", "101", timeout=600)
    kit.require(shown == text, "Text1 holds %d characters, starting %r" % (len(shown), shown[:40]))
    reference = reference_picture(folder, text, 12, w + 400, h)
    kit.click_twips(panel, prefix_dpi(), 5520 + 120, 480 + 120, 1095, 495)  # OK
    wait_for(lambda: kit.panel_probe("visible") == "0", "OK to apply and hide the panel")
    # From 495 twips, 20 twips to the left a tick: every frame, after
    # those that still show the welcome text where it scrolled (from 120
    # twips, or from the right edge after a wrap).
    follow_caption(strip, reference, 495, 8,
                   before=(welcome, places(120, 400) + places(5895, 400)))


# Lines that are shaped, each wider than the strip and ending in a strong
# character, so no trailing blank's direction is in question, with the faces
# that the runs their font lacks must be drawn in (in Wine's fonts here):
# DejaVu Sans has them all, with Chinese from Wine's own linking; 宋体
# (WenQuanYi Zen Hei) has no Hebrew or Arabic; DejaVu Math TeX Gyre, whose
# ascent is twice the others', has neither, and stands in as the font
# whose combining arrows 宋体 lacks (drawn smaller to fit the line). Wine
# has no font for Thai or Devanagari at all, so they are left out.
HEBREW = " ".join(["שלום עולם, זהו טקסט לדוגמה בעברית שנגלל על הפס"] * 3)
ARABIC = " ".join(["مرحبا بالعالم، هذا نص تجريبي باللغة العربية يمر على الشريط"] * 3)
ARABIC_LATIN = " ".join(["Korvane يعرض مرحبا بكم 2024 في العرض ABC xyz، والنص العربي"] * 3)
CHINESE_HEART = "欢迎使用跑马灯，祝您生活愉快❤\ufe0f 我们爱你❤\ufe0f 谢谢光临本店，欢迎再来❤\ufe0f"
VECTORS = " ".join(["שלום עולם Korvane x\u20D7 + y\u20D7 = z\u20D7 עולם"] * 5)
MATH, SANS = "DejaVu Math TeX Gyre", "DejaVu Sans"
COMPLEX_LINES = [
    (SANS, 12, "Hebrew", HEBREW, []),
    (SANS, 12, "Arabic", ARABIC, []),
    (SANS, 12, "Arabic and Latin", ARABIC_LATIN, []),
    (SANS, 12, "emoji joined by ZWJ",
     " ".join(["\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466 family"
               " \U0001F469\u200D\U0001F4BB ok \U0001F3F3\uFE0F\u200D\U0001F308"] * 4), []),
    (SANS, 12, "Chinese and a heart with its variation selector", CHINESE_HEART, []),
    ("宋体", 12, "Hebrew", HEBREW, [SANS]),
    ("宋体", 12, "Arabic", ARABIC, [SANS]),
    ("宋体", 12, "Arabic with Latin and digits", ARABIC_LATIN, [SANS]),
    ("宋体", 12, "Chinese and a heart with its variation selector", CHINESE_HEART, []),
    (MATH, 6, "Hebrew on a baseline 12 px lower", " ".join([HEBREW] * 2), [SANS]),
    ("宋体", 12, "Hebrew and arrows from a taller font", VECTORS, [MATH, SANS]),
]
SYSTEM_LINK = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"


def line_matches(folder, name, font, points, line, fallbacks, ticks=2000, drawn=None):
    """Whether caption_reference finds the strip showing `line` in `font` at
    every tick equal to the line drawn whole (or `drawn`) with `fallbacks`,
    crossing the strip (or for all `ticks`), with no ink outside the line."""
    text_file = kit.write_file(os.path.join(folder, "line.txt"),
                               line + ("\n" + drawn if drawn else ""))
    out = kit.run_windows(REFERENCE, "compare", kit.wine_path(text_file), font, str(points),
                          str(ticks), kit.wine_path(os.path.join(folder, "differing")),
                          *fallbacks, timeout=300)
    match = re.search(r"frames (\d+), differing (\d+), caption (\d+) px wide, crossed (\w+),"
                      r" outside (\d+)", out)
    kit.require(match, "caption_reference said %r" % out)
    print("   %s: %s" % (name, " ".join(out.split())))
    frames, differing, width, crossed, outside = match.groups()
    if drawn:
        return int(frames) == ticks + 1 and differing == outside == "0"
    return int(width) > 500 and differing == outside == "0" and crossed == "yes"


def check_complex_lines_match_the_whole_line():
    # caption_reference runs the strip itself: before the first tick and
    # after every tick, as the caption crosses the strip from 495 twips
    # until it has left it, the window must equal the line drawn whole,
    # each run in the face named for it, on the selected font's baseline,
    # and nothing may be drawn outside the line's band.
    folder = kit.make_case_folder(library="file", settings=True)
    failed = ["%s in %s" % (name, font) for font, points, name, line, fallbacks in COMPLEX_LINES
              if not line_matches(folder, "%s, %s" % (font, name), font, points, line, fallbacks)]
    # 1 MiB of Arabic whose last words hold a character no font here has
    # (U+061D): the words after it are drawn in the fallback, not as boxes.
    # The strip shows the line's end first; the reference draws the last
    # words alone.
    words = "مرحبا بكم في العرض، هذا نص تجريبي باللغة العربية "
    arabic = (words * ((1 << 19) // len(words)))[:(1 << 19) - 300].rstrip()
    arabic += " \u061D " + "ابتثجحخدذرزسشصضطظعغفقكلمنهوي " + "والنص"
    tail = arabic[arabic.rindex(" ", 0, len(arabic) - 1200) + 1:]
    if not line_matches(folder, "1 MiB of Arabic with U+061D near its end", "宋体", 12, arabic,
                        [SANS], ticks=100, drawn=tail):
        failed.append("1 MiB of Arabic with an uncoverable character")
    # Links are looked up by the face's English name too: 宋体 is WenQuanYi
    # Zen Hei here, whose name table has no "SimSun"; linked to DejaVu Sans
    # Condensed, Hebrew is drawn in that, not in DejaVu Sans.
    kit.reg_set(SYSTEM_LINK, "WenQuanYi Zen Hei", "DejaVuSansCondensed.ttf,DejaVu Sans Condensed",
                "REG_MULTI_SZ")
    try:
        linked = line_matches(folder, "Hebrew in 宋体 linked by its English name", "宋体", 12,
                              HEBREW, ["DejaVu Sans Condensed"])
    finally:
        kit.reg_delete(SYSTEM_LINK, "WenQuanYi Zen Hei")
    if not linked:
        failed.append("Hebrew in 宋体 linked by its English name")
    kit.require(not failed, "differing from the whole line: %s" % ", ".join(failed))


def main():
    kit.kill_wine()
    suite = kit.Suite()
    suite.run("the caption starts at 120 twips and moves 20 twips a tick", check_caption_scrolls)
    suite.run("the caption wraps and re-enters from the right edge",
              check_caption_reenters_from_the_right)
    suite.run("left and middle presses on the surface drag the strip; the caption and right"
              " clicks do not",
              check_drag_from_surface_not_from_caption)
    suite.run("locked, the caption rests; unlocked, it goes on from there",
              check_locked_caption_rests_and_goes_on)
    suite.run("a display change brings back a strip that no work area shows, and only such a"
              " strip", check_display_change_brings_back_a_lost_strip_only)
    suite.run("a 1 MiB import reaches Text1 whole, scrolls from 495 twips and matches the whole"
              " caption drawn at once in every frame",
              check_long_import_scrolls_as_drawn_whole)
    suite.run("Hebrew, Arabic, Arabic with Latin, ZWJ emoji and Chinese with a heart, in DejaVu"
              " Sans and in 宋体, fallbacks on other baselines, 1 MiB of Arabic with an"
              " uncoverable character and links by the English name match the whole line at"
              " every tick, with no ink outside the line",
              check_complex_lines_match_the_whole_line)
    return suite.exit_code()


if __name__ == "__main__":
    sys.exit(main())
