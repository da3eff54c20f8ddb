#include "strip_placement.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

constexpr float kStripWidth = 5895.0f;
constexpr float kStripHeight = 495.0f;

TEST(PlaceStrip, AtOneDpiTheDesignSizeGivesTheLaidOutTwips) {
    const StripPlacement place = PlaceStrip(1920, 1080, kStripWidth, kStripHeight, 96, 96);
    EXPECT_FLOAT_EQ(place.top, 16200.0f - 1075.0f);
    EXPECT_FLOAT_EQ(place.left, 14400.0f - 2947.5f);
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
            PlaceStrip(1920, 1080, kStripWidth, kStripHeight, c.strip_dpi, c.system_dpi);
        const ScreenTwips screen{c.system_dpi};
        const int top = screen.ToPixels(place.top);
        const int left = screen.ToPixels(place.left);
        const int height = TwipsToPixels(kStripHeight, c.strip_dpi);
        const int width = TwipsToPixels(kStripWidth, c.strip_dpi);
        const int gap = screen.ToPixels(kGapAboveScreenBottom);
        EXPECT_NEAR(top + height + gap, 1080, 1);
        EXPECT_NEAR(2 * left + width, 1920, 2);
        EXPECT_GE(top, 0);
    }
}

}  // namespace
}  // namespace korvane
