#include "panel_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane {
namespace {

// Records what the panel sets on the strip, in order.
class RecordingStrip final : public StripControl {
public:
    std::vector<std::string> calls;
    std::wstring text;
    float left = 0;
    CaptionFont font;
    std::uint32_t colour = 0, interval = 0, surface = 0;
    bool enabled = false;

    void SetCaptionText(const std::wstring& t) override { text = t, calls.push_back("text"); }
    void SetCaptionLeft(float twips) override { left = twips, calls.push_back("left"); }
    void SetCaptionFont(const CaptionFont& f) override { font = f, calls.push_back("font"); }
    void SetCaptionColour(std::uint32_t c) override { colour = c, calls.push_back("colour"); }
    void SetTimerInterval(std::uint32_t ms) override { interval = ms, calls.push_back("interval"); }
    void SetTimerEnabled(bool on) override { enabled = on, calls.push_back("enabled"); }
    void SetSurfaceColour(std::uint32_t c) override { surface = c, calls.push_back("surface"); }
};

TEST(ApplyStep, LaidOutPanelGivesTheLaidOutCaptionAt52ms) {
    PanelChoices choices;
    choices.text = L"欢迎使用!";
    RecordingStrip strip;
    ApplyToStrip(choices, ApplyScope::kWithBackground, strip);
    EXPECT_EQ(strip.calls, (std::vector<std::string>{"text", "left", "font", "colour", "interval",
                                                     "enabled", "surface"}));
    EXPECT_EQ(strip.text, L"欢迎使用!");
    EXPECT_EQ(strip.left, 495.0f);
    EXPECT_EQ(strip.font, (CaptionFont{L"宋体", 12.0f}));  // not bold, italic ..., in GB2312
    EXPECT_EQ(strip.colour, 0x000000u);
    EXPECT_EQ(strip.interval, 52u);
    EXPECT_TRUE(strip.enabled);
    EXPECT_EQ(strip.surface, 0xFFFFFFu);
}

TEST(ApplyStep, ClosingLeavesTheBackgroundAlone) {
    PanelChoices choices;
    choices.background = 0x123456;
    RecordingStrip strip;
    strip.surface = 0xABCDEF;
    ApplyToStrip(choices, ApplyScope::kWithoutBackground, strip);
    EXPECT_EQ(strip.calls.back(), "enabled");
    EXPECT_EQ(strip.surface, 0xABCDEFu);
}

TEST(ApplyStep, FastestSpeedStillTicks) {
    // Every path, a font choice included, uses 102 - position: never 0 ms.
    EXPECT_EQ(IntervalForSpeed(kSpeedMin), 82u);
    EXPECT_EQ(IntervalForSpeed(kSpeedLaidOut), 52u);
    EXPECT_EQ(IntervalForSpeed(kSpeedMax), 2u);
    PanelChoices choices;
    choices.speed = kSpeedMax;
    RecordingStrip strip;
    ApplyToStrip(choices, ApplyScope::kWithBackground, strip);
    EXPECT_EQ(strip.interval, 2u);
}

TEST(Check1Setting, StoredValues) {
    for (const auto& [stored, value] :
         {std::pair{"0", 0}, {"1", 1}, {"2", 2}, {" 0 ", 0}, {"00", 0}}) {
        EXPECT_EQ(Check1FromStored(stored), value) << stored;
    }
    for (const char* other : {"", "3", "-1", "1.5", "abc", "0x1", "99999999999999999999"}) {
        EXPECT_EQ(Check1FromStored(other), 1) << other;
    }
    EXPECT_EQ(Check1ToStored(2), "2");
}

}  // namespace
}  // namespace korvane
