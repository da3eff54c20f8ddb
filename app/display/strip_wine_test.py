"""The strip under Wine: the caption scrolls and re-enters from the right,
and the strip drags from its surface but not from its caption.

Usage: strip_wine_test.py   (run through wine-env.sh)
"""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "testing"))
import wine_testkit as kit  # noqa: E402

WHITE = (255, 255, 255)  # COLOR_WINDOW in Wine's default scheme
TICK_SECONDS = 0.150
PIXELS_PER_TICK = 20 / 15  # at 96 DPI


def start_strip():
    folder = kit.make_case_folder(library="file", settings=True)
    kit.start_korvane(folder)
    strip = kit.wait_for_window("Form1")
    assert strip, "strip window Form1 not found"
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
    assert first and second, "no caption on the strip"
    # Dark text on the window colour, inside the strip's height.
    assert 0 < first[1] and second[3] <= height, "caption box %s" % (second,)
    # The left edge soon reaches the strip's edge and is clipped there.
    moved = first[2] - second[2]
    most = elapsed / TICK_SECONDS * PIXELS_PER_TICK + 3
    assert 3 <= moved <= most, "caption moved %d px in %.2f s" % (moved, elapsed)
    assert second[1] == first[1], "caption moved vertically"


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
            assert box[2] >= width - 2, "caption came back at %s, not from the right" % (box,)
            assert box[0] > width - 60, "caption came back too far left: %s" % (box,)
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
    assert box, "no caption on the strip"
    # On the caption: the strip stays where it is.
    drag(x + (box[0] + box[2]) // 2, y + (box[1] + box[3]) // 2, -120, -200)
    assert kit.geometry(strip)[:2] == (x, y), "a press on the caption moved the strip"
    # A right click on the surface (which opens the panel) moves nothing,
    # and the strip does not follow the pointer afterwards.
    kit.run("xdotool", "mousemove", str(x + w - 20), str(y + h // 2))
    kit.run("xdotool", "click", "3")
    time.sleep(0.3)
    kit.run("xdotool", "mousemove", str(x + w - 140), str(y - 200))
    time.sleep(0.5)
    assert kit.geometry(strip)[:2] == (x, y), "the strip followed the pointer after a right click"
    # On the surface right of the caption: the strip follows the mouse.
    drag(x + w - 20, y + h // 2, -120, -200)
    moved_to = kit.geometry(strip)[:2]
    assert moved_to == (x - 120, y - 200), "strip at %s after a drag from %s" % (moved_to, (x, y))
    # The middle button drags too, and the strip stays once it is released.
    drag(x - 120 + w - 20, y - 200 + h // 2, 100, 150, button="2")
    kit.run("xdotool", "mousemove", str(x + w), str(y))
    time.sleep(0.5)
    moved_to = kit.geometry(strip)[:2]
    assert moved_to == (x - 20, y - 50), "strip at %s after a middle drag" % (moved_to,)


def main():
    kit.kill_wine()
    cases = kit.Cases()
    cases.run("the caption scrolls left at 20 twips a tick", check_caption_scrolls)
    cases.run("the caption wraps and re-enters from the right edge",
              check_caption_reenters_from_the_right)
    cases.run("left and middle presses on the surface drag the strip; the caption and right"
              " clicks do not",
              check_drag_from_surface_not_from_caption)
    return cases.exit_code()


if __name__ == "__main__":
    sys.exit(main())
