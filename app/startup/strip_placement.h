// Where start-up puts the strip: centred, 580 twips above the bottom of the
// screen, but never lower than the bottom of its monitor's work area, so
// that a taskbar at the bottom (40 px on Windows 10, 48 px on Windows 11,
// where the 580 twips are 39 px at 96 DPI) never covers it. Worked out in
// screen twips (the system DPI, see ScreenTwips), the coordinates Form1's
// Left and Top take. The same place takes the strip back when a change of
// the desktop has left it where no monitor shows it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "twips.h"

namespace korvane {

inline constexpr float kGapAboveScreenBottom = 580.0f;

struct StripPlacement {
    float left;
    float top;
};

// The screen, in pixels, and the bottom edge of the work area of the
// monitor the strip is placed on (the screen's bottom where no taskbar
// takes a part of it).
struct ScreenArea {
    int width;
    int height;
    int work_area_bottom;
};

// The strip's size in its own twips, which map to pixels with its DPI.
struct StripSize {
    float width;
    float height;
    unsigned dpi;
};

// Where the strip's DPI is the system's, its sizes are used unchanged;
// elsewhere they are first turned into screen twips.
inline StripPlacement PlaceStrip(const ScreenArea& area, const StripSize& strip,
                                 unsigned system_dpi) {
    const ScreenTwips screen{system_dpi};
    const float scale = static_cast<float>(strip.dpi) / static_cast<float>(system_dpi);
    const float width = strip.width * scale;
    const float height = strip.height * scale;
    const float screen_width = screen.FromPixels(area.width);
    const float screen_height = screen.FromPixels(area.height);
    // Each half first, the difference unrounded: Left may carry a half twip.
    const float left = screen_width / 2.0f - width / 2.0f;
    float top = screen_height - height - kGapAboveScreenBottom;
    // The lowest top whose pixel, plus the strip's height as the window has
    // it in whole pixels, is the work area's bottom. It is a whole pixel, so
    // any top above it maps to a pixel no lower.
    const int height_pixels = TwipsToPixels(strip.height, strip.dpi);
    const float lowest_top = screen.FromPixels(area.work_area_bottom - height_pixels);
    if (top > lowest_top) top = lowest_top;
    return {left, top};
}

// A rectangle in screen pixels, right and bottom exclusive, as Windows
// gives window, monitor and work-area rectangles.
struct PixelRect {
    int left;
    int top;
    int right;
    int bottom;
};

// One monitor: its whole rectangle and its work area.
struct MonitorArea {
    PixelRect monitor;
    PixelRect work;
};

// The strip stays where the user put it, partly off-screen included, while
// a piece of its full height at least this wide lies in a work area.
inline constexpr int kShownPieceWidth = 32;

// After the desktop changed under the strip (a monitor, the resolution, a
// bar or the DPI): nothing while the strip, at `strip`, still shows such a
// piece in one monitor's work area; else where start-up would place it on
// the monitor nearest to it (the one it overlaps most, or the one at the
// least distance), the monitor's size taking the screen's and its corner
// added. Nothing either when there is no monitor.
inline std::optional<StripPlacement> PlaceLostStrip(std::span<const MonitorArea> monitors,
                                                    const PixelRect& strip, const StripSize& size,
                                                    unsigned system_dpi) {
    const MonitorArea* nearest = nullptr;
    std::int64_t best_overlap = 0, best_distance = 0;
    for (const MonitorArea& m : monitors) {
        const PixelRect& w = m.work;
        if (strip.top >= w.top && strip.bottom <= w.bottom &&
            std::min(strip.right, w.right) - std::max(strip.left, w.left) >= kShownPieceWidth) {
            return std::nullopt;
        }
        const PixelRect& r = m.monitor;
        const std::int64_t across = std::min(strip.right, r.right) - std::max(strip.left, r.left);
        const std::int64_t down = std::min(strip.bottom, r.bottom) - std::max(strip.top, r.top);
        const std::int64_t overlap = across > 0 && down > 0 ? across * down : 0;
        const std::int64_t dx = across < 0 ? -across : 0, dy = down < 0 ? -down : 0;
        const std::int64_t distance = dx * dx + dy * dy;
        if (!nearest || overlap > best_overlap ||
            (overlap == 0 && best_overlap == 0 && distance < best_distance)) {
            nearest = &m;
            best_overlap = overlap;
            best_distance = distance;
        }
    }
    if (!nearest) return std::nullopt;
    const PixelRect& r = nearest->monitor;
    const StripPlacement place = PlaceStrip(
        {r.right - r.left, r.bottom - r.top, nearest->work.bottom - r.top}, size, system_dpi);
    const ScreenTwips screen{system_dpi};
    return StripPlacement{screen.FromPixels(r.left) + place.left,
                          screen.FromPixels(r.top) + place.top};
}

}  // namespace korvane
