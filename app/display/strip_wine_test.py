"""The strip under Wine: the caption scrolls and re-enters from the right,
the strip drags from its surface but not from its caption, a long imported
text scrolls and looks as the whole caption drawn at once would, and so do
lines in right-to-left and joining scripts.

Usage: strip_wine_test.py   (run through wine-env.sh)
"""

import os
import re
import subprocess
import sys
import time

import wine_testkit as kit

WHITE = (255, 255, 255)  # COLOR_WINDOW in Wine's default scheme
TICK_SECONDS = 0.150
PIXELS_PER_TICK = 20 / 15  # at 96 DPI
# The long import's size.
IMPORT_BYTES = 1 << 20


def start_strip():
    folder = kit.make_case_folder(library="file", settings=True)
    kit.start_korvane(folder)
    strip = kit.wait_for_window("Form1")
    kit.require(strip, "strip window Form1 not found")
    time.sleep(0.5)
    return strip


def caption_box(strip):
    x, y, w, h = kit.geometry(strip)
    return kit.ink_box(kit.grab(x, y, w, h), WHITE), (w, h)


def check_caption_scrolls():
    strip = start_strip()
    first, (width, height) = caption_box(strip)
    started = time.time()
    time.sleep(1.5)
    second, _ = caption_box(strip)
    elapsed = time.time() - started
    kit.require(first and second, "no caption on the strip")
    # Dark text on the window colour, inside the strip's height.
    kit.require(0 < first[1] and second[3] <= height, "caption box %s" % (second,))
    # The left edge soon reaches the strip's edge and is clipped there.
    moved = first[2] - second[2]
    most = elapsed / TICK_SECONDS * PIXELS_PER_TICK + 3
    kit.require(3 <= moved <= most, "caption moved %d px in %.2f s" % (moved, elapsed))
    kit.require(second[1] == first[1], "caption moved vertically")


def check_caption_reenters_from_the_right():
    strip = start_strip()
    _, (width, _) = caption_box(strip)
    # The laid-out caption leaves the strip after about 70 ticks (10.5 s).
    deadline = time.time() + 30
    seen_left = False
    while time.time() < deadline:
        box, _ = caption_box(strip)
        if box is None:
            seen_left = True  # gone on the left, waiting at the right edge
        elif seen_left:
            kit.require(box[2] >= width - 2, "caption came back at %s, not from the right" % (box,))
            kit.require(box[0] > width - 60, "caption came back too far left: %s" % (box,))
            return
        time.sleep(0.25)
    raise AssertionError("the caption never wrapped (seen gone: %s)" % seen_left)


def drag(from_x, from_y, dx, dy, button="1"):
    kit.run("xdotool", "mousemove", str(from_x), str(from_y))
    kit.run("xdotool", "mousedown", button)
    time.sleep(0.3)
    for step in range(1, 6):
        kit.run("xdotool", "mousemove", str(from_x + dx * step // 5), str(from_y + dy * step // 5))
        time.sleep(0.1)
    kit.run("xdotool", "mouseup", button)
    time.sleep(0.5)


def check_drag_from_surface_not_from_caption():
    strip = start_strip()
    x, y, w, h = kit.geometry(strip)
    box, _ = caption_box(strip)
    kit.require(box, "no caption on the strip")
    # On the caption: the strip stays where it is.
    drag(x + (box[0] + box[2]) // 2, y + (box[1] + box[3]) // 2, -120, -200)
    kit.require(kit.geometry(strip)[:2] == (x, y), "a press on the caption moved the strip")
    # A right click on the surface (which opens the panel) moves nothing,
    # and the strip does not follow the pointer afterwards.
    kit.run("xdotool", "mousemove", str(x + w - 20), str(y + h // 2))
    kit.run("xdotool", "click", "3")
    time.sleep(0.3)
    kit.run("xdotool", "mousemove", str(x + w - 140), str(y - 200))
    time.sleep(0.5)
    kit.require(kit.geometry(strip)[:2] == (x, y),
                "the strip followed the pointer after a right click")
    # On the surface right of the caption: the strip follows the mouse.
    drag(x + w - 20, y + h // 2, -120, -200)
    moved_to = kit.geometry(strip)[:2]
    kit.require(moved_to == (x - 120, y - 200),
                "strip at %s after a drag from %s" % (moved_to, (x, y)))
    # The middle button drags too, and the strip stays once it is released.
    drag(x - 120 + w - 20, y - 200 + h // 2, 100, 150, button="2")
    kit.run("xdotool", "mousemove", str(x + w), str(y))
    time.sleep(0.5)
    moved_to = kit.geometry(strip)[:2]
    kit.require(moved_to == (x - 20, y - 50), "strip at %s after a middle drag" % (moved_to,))


def panel_click(panel, left, top, width, height):
    """Clicks the middle of a control on the panel's tab, laid out in twips."""
    x, y, _, _ = kit.geometry(panel)
    px = lambda twips: int(twips * 96 / 1440.0 + 0.5)  # noqa: E731
    kit.run("xdotool", "mousemove", str(x + px(left + 120 + width / 2)),
            str(y + px(top + 120 + height / 2)), "click", "1")


def frame_offset(frame, reference, width):
    """Caption left edge (px) at which the reference, a plain drawing of the
    whole caption from x = 0, gives exactly this frame, or None."""
    rows = [bytes(b for pixel in row for b in pixel) for row in frame]
    refs = [bytes(b for pixel in row for b in pixel) for row in reference]
    white = bytes(WHITE)
    for left in range(40, -len(refs[0]) // 3 + width, -1):
        if all(row == (white * left + ref[:3 * (width - left)] if left >= 0
                       else ref[-3 * left:3 * (width - left)])
               for row, ref in zip(rows, refs)):
            return left
    return None


def check_long_import_scrolls_as_drawn_whole():
    folder = kit.make_case_folder(library="file", settings=True)
    # One long line: ideographs, ASCII, and a pair of surrogates early on.
    start = "欢迎使用 Korvane \U00020000 跑马灯 ABC xyz 0123! "
    # Sentences of varying ideographs, so that no stretch of the caption
    # repeats another.
    body = "".join(chr(0x4E00 + (i * 37) % 3000) + ("。" if i % 8 == 7 else "")
                   for i in range(IMPORT_BYTES // 3))
    text = (start + body)[:IMPORT_BYTES // 3]
    text_file = os.path.join(folder, "long.txt")
    with open(text_file, "w", encoding="utf-8") as f:
        f.write(text)
    kit.start_korvane(folder)
    strip = kit.wait_for_window("Form1")
    kit.require(strip, "strip window Form1 not found")
    time.sleep(0.5)
    x, y, w, h = kit.geometry(strip)
    kit.run("xdotool", "mousemove", str(x + w - 20), str(y + h // 2), "click", "3")
    panel = kit.wait_for_window("Korvanev1.0")
    kit.require(panel, "no panel after a right-click")
    time.sleep(0.8)
    panel_click(panel, 5520, 1320, 1095, 495)  # Import
    kit.choose_in_open_dialog(text_file)
    # Reading Text1 waits until the panel has taken the file in.
    probe = os.path.join(kit.TEST_BIN_DIR, "panel_probe.exe")
    started = time.time()
    shown = kit.run("wine", probe, "text", "101", timeout=600).stdout
    print("   the import took %.1f s" % (time.time() - started))
    kit.require(shown == text, "Text1 holds %d characters, starting %r" % (len(shown), shown[:40]))
    reference_file = os.path.join(folder, "reference.ppm")
    kit.run("wine", os.path.join(kit.TEST_BIN_DIR, "caption_reference.exe"), kit.wine_path(text_file),
            "12", str(w + 400), str(h), kit.wine_path(reference_file), check=True)
    with open(reference_file, "rb") as f:
        ref_w, ref_h, body = kit.parse_ppm(f.read())
    reference = [[tuple(body[(r * ref_w + c) * 3:(r * ref_w + c) * 3 + 3]) for c in range(ref_w)]
                 for r in range(ref_h)]
    panel_click(panel, 5520, 480, 1095, 495)  # OK
    pressed = time.time()
    # OK applies, then hides the panel.
    while kit.panel_probe("visible") != "0" and time.time() - pressed < 30:
        time.sleep(0.1)
    applied = time.time() - pressed
    print("   OK applied and hid the panel in %.1f s" % applied)
    kit.require(applied < 5, "OK took %.1f s to apply" % applied)

    # Where the caption can stand: 495 twips, then 20 twips to the left a tick.
    positions = {int((495 - 20 * tick) / 15.0 + 0.5 + 1e6) - 1000000 for tick in range(400)}
    seen = []
    deadline = time.time() + 20
    while len(set(seen)) < 3 and time.time() < deadline:
        left = frame_offset(kit.grab(x, y, w, h), reference, w)
        if left is not None:
            kit.require(left in positions,
                        "caption drawn at %d px, not 495 twips less 20 a tick" % left)
            if not seen:
                print("   first matching frame %.1f s after OK" % (time.time() - pressed))
            seen.append(left)
    kit.require(len(set(seen)) >= 3, "frames matching the whole caption's drawing: %s" % seen)
    kit.require(seen == sorted(seen, reverse=True), "the caption did not move left: %s" % seen)


# Lines that are shaped whole, in a font that has their glyphs (Wine does no
# font fallback). Each is wider than the strip and ends in a strong character,
# so no trailing blank's direction is in question.
COMPLEX_FONT = "DejaVu Sans"
COMPLEX_LINES = {
    "Hebrew": " ".join(["שלום עולם, זהו טקסט לדוגמה בעברית שנגלל על הפס"] * 3),
    "Arabic": " ".join(["مرحبا بالعالم، هذا نص تجريبي باللغة العربية يمر على الشريط"] * 3),
    "Arabic and Latin": " ".join(["Korvane يعرض مرحبا بكم 2024 في العرض ABC xyz، والنص العربي"] * 3),
    "emoji joined by ZWJ": " ".join(["\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466 family"
                                     " \U0001F469\u200D\U0001F4BB ok \U0001F3F3\uFE0F\u200D\U0001F308"] * 4),
}


def check_complex_lines_match_the_whole_line():
    # caption_reference runs the strip itself: every tick, as the caption
    # crosses the strip from 495 twips until it has left it, the window must
    # equal the line shaped and drawn whole in one call.
    folder = kit.make_case_folder(library="file", settings=True)
    tool = os.path.join(kit.TEST_BIN_DIR, "caption_reference.exe")
    for name, line in COMPLEX_LINES.items():
        text_file = os.path.join(folder, "line.txt")
        with open(text_file, "w", encoding="utf-8") as f:
            f.write(line)
        out = kit.run("wine", tool, "compare", kit.wine_path(text_file), COMPLEX_FONT, "12", "1200",
                      kit.wine_path(os.path.join(folder, "differing")), timeout=300).stdout
        match = re.search(r"frames (\d+), differing (\d+), caption (\d+) px wide", out)
        kit.require(match, "%s: caption_reference said %r" % (name, out))
        frames, differing, width = map(int, match.groups())
        kit.require(width > 600 and differing == 0, "%s: %s" % (name, out.strip()))


def main():
    kit.kill_wine()
    suite = kit.Suite()
    suite.run("the caption scrolls left at 20 twips a tick", check_caption_scrolls)
    suite.run("the caption wraps and re-enters from the right edge",
              check_caption_reenters_from_the_right)
    suite.run("left and middle presses on the surface drag the strip; the caption and right"
              " clicks do not",
              check_drag_from_surface_not_from_caption)
    suite.run("a 1 MiB import reaches Text1 whole, scrolls from 495 twips and matches the whole"
              " caption drawn at once",
              check_long_import_scrolls_as_drawn_whole)
    suite.run("Hebrew, Arabic, Arabic with Latin and ZWJ emoji match the whole line at every tick",
              check_complex_lines_match_the_whole_line)
    return suite.exit_code()


if __name__ == "__main__":
    sys.exit(main())
