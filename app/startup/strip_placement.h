// Where start-up puts the strip: centred, 580 twips above the bottom of the
// screen. Worked out in screen twips (the system DPI, see ScreenTwips), the
// coordinates Form1's Left and Top take.
#pragma once

#include "twips.h"

namespace korvane {

inline constexpr float kGapAboveScreenBottom = 580.0f;

struct StripPlacement {
    float left;
    float top;
};

// The screen's size in pixels; the strip's size in its own twips, which map
// to pixels with the strip's DPI. Where that DPI is the system's, the sizes
// are used unchanged; elsewhere they are first turned into screen twips.
inline StripPlacement PlaceStrip(int screen_width_px, int screen_height_px, float strip_width,
                                 float strip_height, unsigned strip_dpi, unsigned system_dpi) {
    const ScreenTwips screen{system_dpi};
    const float scale = static_cast<float>(strip_dpi) / static_cast<float>(system_dpi);
    const float width = strip_width * scale;
    const float height = strip_height * scale;
    const float screen_width = screen.FromPixels(screen_width_px);
    const float screen_height = screen.FromPixels(screen_height_px);
    // Each half first, the difference unrounded: Left may carry a half twip.
    return {screen_width / 2.0f - width / 2.0f, screen_height - height - kGapAboveScreenBottom};
}

}  // namespace korvane
