#include "strip_placement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

namespace korvane {
namespace {

constexpr float kStripWidth = 5895.0f;
constexpr float kStripHeight = 495.0f;

// The screen of every case: 1920 x 1080 px, with a bar of `bar` px at its
// bottom (0: none, as under Xvfb).
ScreenArea FullHd(int bar) { return {1920, 1080, 1080 - bar}; }

// Nearest pixel of a twip position or size at a DPI, halves upwards.
int Pixel(double twips, unsigned dpi) {
    return static_cast<int>(std::floor(twips * dpi / 1440 + 0.5));
}

// With the strip's monitor at one DPI and the system at another, the strip
// still ends 580 screen twips above the bottom, centred, on the screen.
TEST(PlaceStrip, StripAndSystemDpiDifferingEitherWay) {
    const struct {
        unsigned strip_dpi, system_dpi;
    } cases[] = {{96, 144}, {144, 96}, {120, 192}, {192, 96}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "strip " << c.strip_dpi << ", system " << c.system_dpi);
        const StripPlacement place =
            PlaceStrip(FullHd(0), {kStripWidth, kStripHeight, c.strip_dpi}, c.system_dpi);
        const int top = Pixel(place.top, c.system_dpi);
        const int left = Pixel(place.left, c.system_dpi);
        const int height = Pixel(kStripHeight, c.strip_dpi);
        const int width = Pixel(kStripWidth, c.strip_dpi);
        const int gap = Pixel(kGapAboveScreenBottom, c.system_dpi);
        EXPECT_NEAR(top + height + gap, 1080, 1);
        EXPECT_NEAR(2 * left + width, 1920, 2);
        EXPECT_GE(top, 0);
    }
}

// At one DPI and no bar the design size gives the laid-out place (the first
// row). A taskbar taller than the gap below the strip lifts the strip to stand
// on it; a lower one, or none, leaves the specified place. Tops worked out by
// hand; Left never changes (1920 px: 28800 twips at 96 DPI, 19200 at 144).
//   96 DPI, 15 twips a pixel: the strip is 495 twips = 33 px high; the specified
//     top is 16200 - 495 - 580 = 15125 twips (1008.3 px). Over a 40 px bar
//     (1080 - 40 - 33) px = 1007 px = 15105 twips; 48 px: 999 px = 14985 twips.
//   144 DPI, 10 twips a pixel: 495 twips = 49.5 px, drawn 50 px high; the
//     specified top is 10800 - 1075 = 9725 twips (972.5 px), whose bottom (973 +
//     50 = 1023 px) clears a 40 or 48 px bar; Windows scales its bar to 60 px
//     (Windows 10) and 72 px (Windows 11) at 150 %. Over 60 px (1080 - 60 - 50)
//     px = 970 px = 9700 twips; 72 px: 958 px = 9580 twips.
//   Strip at 144 DPI, system at 96: 742.5 screen twips, 50 px; the specified top
//     is 16200 - 742.5 - 580 = 14877.5 twips (991.8 px). 40 px bar: (1080 - 40 -
//     50) px = 990 px = 14850 twips.
//   Strip at 96 DPI, system at 144: 330 screen twips, 33 px; the specified top is
//     10800 - 330 - 580 = 9890 twips (989 px). 60 px bar: (1080 - 60 - 33) px =
//     987 px = 9870 twips.
TEST(PlaceStrip, NeverBelowTheWorkArea) {
    const struct {
        unsigned strip_dpi, system_dpi;
        int bar;
        float top, left;
    } cases[] = {
        {96, 96, 0, 15125.0f, 11452.5f},   {96, 96, 40, 15105.0f, 11452.5f},
        {96, 96, 48, 14985.0f, 11452.5f},  {144, 144, 0, 9725.0f, 6652.5f},
        {144, 144, 40, 9725.0f, 6652.5f},  {144, 144, 48, 9725.0f, 6652.5f},
        {144, 144, 60, 9700.0f, 6652.5f},  {144, 144, 72, 9580.0f, 6652.5f},
        {144, 96, 40, 14850.0f, 9978.75f}, {96, 144, 60, 9870.0f, 7635.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "strip " << c.strip_dpi << " DPI, system "
                                        << c.system_dpi << " DPI, " << c.bar << " px bar");
        const StripPlacement place =
            PlaceStrip(FullHd(c.bar), {kStripWidth, kStripHeight, c.strip_dpi}, c.system_dpi);
        EXPECT_FLOAT_EQ(place.top, c.top);
        EXPECT_FLOAT_EQ(place.left, c.left);
    }
}

// Every bar height from none to a third of the screen, at common DPIs: the
// strip's bottom pixel row is the work area's last one or above it, and it
// stands on the bar whenever the specified place would reach under it.
TEST(PlaceStrip, BottomRowNeverUnderAnyBar) {
    for (const unsigned dpi : {96u, 120u, 144u, 168u, 192u}) {
        const int height = Pixel(kStripHeight, dpi);
        const int specified_top = Pixel(1080.0 * 1440 / dpi - 495 - 580, dpi);
        for (int bar = 0; bar <= 360; ++bar) {
            SCOPED_TRACE(testing::Message() << dpi << " DPI, " << bar << " px bar");
            const StripPlacement place =
                PlaceStrip(FullHd(bar), {kStripWidth, kStripHeight, dpi}, dpi);
            const int top = Pixel(place.top, dpi);
            const int work_bottom = 1080 - bar;
            if (specified_top + height <= work_bottom) {
                EXPECT_EQ(top, specified_top);
            } else {
                EXPECT_EQ(top + height, work_bottom);
            }
        }
    }
}

// After the desktop changed, the strip stays while a piece of its full
// height at least 32 px wide lies in one work area; else it goes where
// start-up puts it, on the monitor nearest to it. Worked out by hand at a
// system DPI of 96 (15 twips a pixel); the strip at 96 DPI is 393 x 33 px,
// start-up's place on a 1920 x 1080 monitor Left 11452.5 (763.5 px, drawn
// at 764), Top 15125 (1008.3 px), or over a bar of b px (1080 - b - 33) px.
TEST(PlaceLostStrip, StaysWhileShownElseStartUpPlaceOnTheNearestMonitor) {
    // A monitor whose work area leaves out bars of `bar` px at its bottom
    // and `top_bar` px at its top.
    const auto monitor = [](int left, int top, int right, int bottom, int bar = 0,
                            int top_bar = 0) {
        return MonitorArea{{left, top, right, bottom}, {left, top + top_bar, right, bottom - bar}};
    };
    const MonitorArea primary = monitor(0, 0, 1920, 1080, 40);
    const PixelRect at_start{764, 1007, 1157, 1040};  // start-up's place over a 40 px bar
    const std::optional<StripPlacement> stays;
    const struct {
        const char* what;
        std::vector<MonitorArea> monitors;
        PixelRect strip;
        std::optional<StripPlacement> place;
        unsigned dpi = 96;
        float width = kStripWidth;
    } cases[] = {
        // clang-format off
        // The primary is 480 px away, the monitor on the left 2400.
        {"monitor on the right unplugged", {primary, monitor(-1920, 0, 0, 1080)},
         {2400, 1007, 2793, 1040}, StripPlacement{11452.5f, 15105.0f}},
        {"monitor on the left unplugged", {primary, monitor(1920, 0, 3840, 1080)},
         {-1500, 1007, -1107, 1040}, StripPlacement{11452.5f, 15105.0f}},
        // The right one is 147 px away, the primary 1380; its corner lies
        // 57600 twips right, and it has no bar.
        {"middle one of three monitors unplugged", {primary, monitor(3840, 0, 5760, 1080)},
         {3300, 1007, 3693, 1040}, StripPlacement{69052.5f, 15125.0f}},
        // 1280 x 720: Left 9600 - 2947.5; Top 10800 - 1075 = 9725 (648.3 px)
        // reaches under the 40 px bar, so (680 - 33) px.
        {"lower resolution", {monitor(0, 0, 1280, 720, 40)}, at_start,
         StripPlacement{6652.5f, 9705.0f}},
        {"taskbar grown from 40 to 48 px", {monitor(0, 0, 1920, 1080, 48)}, at_start,
         StripPlacement{11452.5f, 14985.0f}},
        {"taskbar moved to the top, over the strip", {monitor(0, 0, 1920, 1080, 0, 48)},
         {764, 10, 1157, 43}, StripPlacement{11452.5f, 15125.0f}},
        {"taskbar moved to the top, the strip at the bottom", {monitor(0, 0, 1920, 1080, 0, 48)},
         at_start, stays},
        {"dragged off the left edge, 32 px shown", {primary}, {-361, 500, 32, 533}, stays},
        {"dragged off the left edge, 31 px shown", {primary}, {-362, 500, 31, 533},
         StripPlacement{11452.5f, 15105.0f}},
        {"dragged partly below the screen", {monitor(0, 0, 1920, 1080)}, {764, 1060, 1157, 1093},
         StripPlacement{11452.5f, 15125.0f}},
        // 30000 twips, 2000 px, on 1280 x 720: Left 9600 - 15000.
        {"wider than the screen, shown", {monitor(0, 0, 1280, 720)}, {-360, 648, 1640, 681}, stays,
         96, 30000.0f},
        {"wider than the screen, below it", {monitor(0, 0, 1280, 720)}, {-360, 800, 1640, 833},
         StripPlacement{-5400.0f, 9725.0f}, 96, 30000.0f},
        // A DPI change: on a 150 % monitor of 2880 x 1620 px right of the
        // primary, the strip is 590 x 50 px (8842.5 x 742.5 screen twips)
        // at the rectangle Windows suggests. Reaching below that monitor it
        // goes back onto it: Left 28800 + 21600 - 4421.25, Top 24300 -
        // 742.5 - 580.
        {"after a DPI change, on the 150 % monitor", {primary, monitor(1920, 0, 4800, 1620)},
         {2500, 1500, 3090, 1550}, stays, 144},
        {"after a DPI change, below the 150 % monitor", {primary, monitor(1920, 0, 4800, 1620)},
         {2500, 1600, 3090, 1650}, StripPlacement{45978.75f, 22977.5f}, 144},
        {"no monitor", {}, {-5000, -5000, -4607, -4967}, stays},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto place = PlaceLostStrip(c.monitors, c.strip, {c.width, kStripHeight, c.dpi}, 96);
        ASSERT_EQ(place.has_value(), c.place.has_value());
        if (!place) continue;
        EXPECT_FLOAT_EQ(place->left, c.place->left);
        EXPECT_FLOAT_EQ(place->top, c.place->top);
    }
}

}  // namespace
}  // namespace korvane
