// Where start-up puts the strip: centred, 580 twips above the bottom of the
// screen, but never lower than the bottom of its monitor's work area, so
// that a taskbar at the bottom (40 px on Windows 10, 48 px on Windows 11,
// where the 580 twips are 39 px at 96 DPI) never covers it. Worked out in
// screen twips (the system DPI, see ScreenTwips), the coordinates Form1's
// Left and Top take.
#pragma once

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

}  // namespace korvane
