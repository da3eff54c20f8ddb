// Twips (1/1440 inch) to device pixels and back. Positions and sizes stay
// in twips as floats; they are rounded only when mapped to pixels.
#pragma once

#include <cmath>

namespace korvane {

inline constexpr float kTwipsPerInch = 1440.0f;

// Nearest pixel; halves go towards +infinity so that a moving caption
// takes even steps across zero.
inline int TwipsToPixels(float twips, unsigned dpi) {
    return static_cast<int>(std::floor(static_cast<double>(twips) * dpi / kTwipsPerInch + 0.5));
}

inline float PixelsToTwips(int pixels, unsigned dpi) {
    return static_cast<float>(static_cast<double>(pixels) * kTwipsPerInch / dpi);
}

// Screen positions. Every window maps them with the system DPI, whatever
// the DPI of its monitor, so that a position read from one window places
// another on the same physical pixel. Sizes and what a window draws map
// with the window's own DPI.
struct ScreenTwips {
    unsigned system_dpi;
    float FromPixels(int pixels) const { return PixelsToTwips(pixels, system_dpi); }
    int ToPixels(float twips) const { return TwipsToPixels(twips, system_dpi); }
};

}  // namespace korvane
