#include "scroll_engine.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "colorstep.h"
#include "end_request.h"
#include "twips.h"

namespace korvane {
namespace {

constexpr float kLaidOutWidth = 1290.0f;

// Ticks until the caption wraps; the wrap tick counts.
int TicksUntilWrap(ScrollState& state) {
    for (int tick = 1; tick < (1 << 27); ++tick) {
        if (AdvanceCaption(state) == TickResult::kWrapped) return tick;
    }
    return -1;
}

TEST(ScrollTick, LaidOutCaptionWrapsOnThe72ndTickThenEvery361) {
    ScrollState state{120.0f, kLaidOutWidth, 5895.0f};
    EXPECT_EQ(TicksUntilWrap(state), 72);
    EXPECT_EQ(state.caption_left, 5895.0f);  // waits exactly at the right edge
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(TicksUntilWrap(state), 361);
        EXPECT_EQ(state.caption_left, 5895.0f);
    }
}

// One tick from `state`: its result and where the caption stands after it.
void ExpectTick(ScrollState& state, TickResult result, double left) {
    EXPECT_EQ(AdvanceCaption(state), result);
    EXPECT_EQ(state.caption_left, left);
}

TEST(ScrollTick, AtTheEdgesAndWithAnEmptyCaption) {
    ScrollState at_zero{-100.0f, 100.0f, 5895.0f};  // right edge at 0: steps, then wraps
    ExpectTick(at_zero, TickResult::kStepped, -120.0);
    ExpectTick(at_zero, TickResult::kWrapped, 5895.0);
    ScrollState gone{-5000.0f, 1290.0f, 3000.0f};  // wraps on the next tick, without a step
    ExpectTick(gone, TickResult::kWrapped, 3000.0);
    ScrollState empty{40.0f, 0.0f, 5895.0f};
    EXPECT_EQ(TicksUntilWrap(empty), 4);  // 40, 20, 0 are not < 0; -20 wraps
}

TEST(ScrollTick, WrapTickFollowsTheFormulaForOddStartsAndWideCaptions) {
    // floor((w + x0) / 20) + 2, including a half-twip start.
    for (float x0 : {0.0f, 7.5f, 19.0f, 20.0f, 2947.5f, -1289.5f}) {
        ScrollState state{x0, kLaidOutWidth, 5895.0f};
        const int expected = static_cast<int>((kLaidOutWidth + x0) / 20.0f) + 2;
        EXPECT_EQ(TicksUntilWrap(state), expected) << "x0 = " << x0;
    }
    // A caption wider than the surface, its right edge exactly 0: one more
    // step, then wrap to the right edge; a whole pass lasts until the right
    // edge has crossed the left edge.
    ScrollState wide{-8000.0f, 8000.0f, 2000.0f};
    EXPECT_EQ(TicksUntilWrap(wide), 2);
    EXPECT_EQ(wide.caption_left, 2000.0f);
    EXPECT_EQ(TicksUntilWrap(wide), static_cast<int>((2000.0f + 8000.0f) / 20.0f) + 2);
}

TEST(ScrollTick, WidthChangeMidPassOnlyAffectsTheNextWrap) {
    ScrollState state{3000.0f, kLaidOutWidth, 5895.0f};
    for (int i = 0; i < 10; ++i) AdvanceCaption(state);
    EXPECT_EQ(state.caption_left, 2800.0f);
    state.surface_width = 2000.0f;  // narrower than the caption's position
    ExpectTick(state, TickResult::kStepped, 2780.0);
    TicksUntilWrap(state);
    EXPECT_EQ(state.caption_left, 2000.0f);
}

TEST(ScrollTick, StepsAndWrapStayExactFarFromZero) {
    // 20-twip steps from a half-twip start never drift: every value is exact.
    ScrollState state{2947.5f, kLaidOutWidth, 5895.0f};
    for (int i = 1; i <= 200; ++i) ExpectTick(state, TickResult::kStepped, 2947.5 - 20.0 * i);
    // Captions of 2^24 + 1 and 2^30 + 7 twips, the second about what a 64 MiB
    // import lays out: each tick moves exactly 20 twips, where single
    // precision would round 2^24 + 1 - 20 or not move at all at 2^30.
    for (const double width : {16777217.0, 1073741831.0}) {
        ScrollState wide{-width + 95.0, width, 5895.0};
        for (int tick = 1; tick <= 5; ++tick) {
            ASSERT_EQ(AdvanceCaption(wide), TickResult::kStepped);
            EXPECT_EQ(wide.caption_left, -width + 95.0 - 20.0 * tick);
        }
        ExpectTick(wide, TickResult::kWrapped, 5895.0);  // right edge at -5: the sixth tick
        // A whole pass: floor((W + w) / 20) + 2 ticks.
        EXPECT_EQ(TicksUntilWrap(wide), static_cast<int>((5895.0 + width) / 20.0) + 2);
    }
    // Widths are rounded to single precision below 2^24 twips only.
    EXPECT_EQ(CaptionWidthTwips(1, 110), static_cast<double>(1440.0f / 110.0f));
    EXPECT_EQ(CaptionWidthTwips(71582789, 96), 1073741835.0);
}

class FakePanel : public PanelLink {
public:
    std::uint32_t swatches[3] = {0x0000FF, 0x00FF00, 0xFF0000};
    float outer_height = 3000.0f, left = 6360.0f, top = 7470.0f;
    std::vector<std::string> calls;
    std::function<void()> on_load = [] {};  // the first use loads the panel

    std::uint32_t SwatchColour(int index) override {
        calls.push_back("swatch" + std::to_string(index));
        return swatches[index - 1];
    }
    void Show() override { calls.push_back("show"); }
    float OuterHeight() override {
        if (calls.empty()) on_load();
        calls.push_back("height");
        return outer_height;
    }
    void SetLeft(float twips) override { calls.push_back("left"), left = twips; }
    void SetTop(float twips) override { calls.push_back("top"), top = twips; }
};

TEST(ColourCycle, CyclesThroughTheSwatchesReadAtEachCall) {
    EXPECT_EQ(Module1::colorstep, 0);  // the process-wide step starts at zero
    FakePanel panel;
    std::int16_t step = 0;
    EXPECT_EQ(NextCaptionColour(step, panel), 0x0000FFu);
    EXPECT_EQ(NextCaptionColour(step, panel), 0x00FF00u);
    EXPECT_EQ(NextCaptionColour(step, panel), 0xFF0000u);
    EXPECT_EQ(step, 0);
    EXPECT_EQ(NextCaptionColour(step, panel), 0x0000FFu);
    EXPECT_EQ(step, 1);
    EXPECT_EQ(panel.calls, (std::vector<std::string>{"swatch1", "swatch2", "swatch3", "swatch1"}));
    panel.swatches[1] = 0x123456;  // changed since the last call
    EXPECT_EQ(NextCaptionColour(step, panel), 0x123456u);
}

TEST(ColourCycle, StepOutsideZeroToTwoDoesNothingAndLeavesThePanelAlone) {
    FakePanel panel;
    for (std::int16_t bad : {std::int16_t{3}, std::int16_t{-1}, std::int16_t{32767}}) {
        std::int16_t step = bad;
        EXPECT_EQ(NextCaptionColour(step, panel), std::nullopt);
        EXPECT_EQ(step, bad);
    }
    EXPECT_TRUE(panel.calls.empty());
}

struct FakeStrip final : StripPosition {
    float left = 0, top = 0;
    float Left() const override { return left; }
    float Top() const override { return top; }
};

TEST(PanelOpening, PlacedThenShownOnlyForTheRightButton) {
    FakePanel from_caption, from_strip, untouched;
    FakeStrip strip;
    // From the caption: the panel loads, during which the strip is dragged
    // here; it is aligned left, placed 2600 above and only then shown.
    from_caption.on_load = [&] { strip.left = 6652.5f, strip.top = 10925.0f; };
    OpenPanelFromCaption(kRightButton, strip, from_caption);
    EXPECT_EQ(from_caption.calls, (std::vector<std::string>{"height", "left", "top", "show"}));
    EXPECT_EQ(from_caption.left, 6652.5f);
    EXPECT_EQ(from_caption.top, 10925.0f - 3000.0f - 2600.0f);
    // From the strip: the left kept, 4000 above even off the screen.
    strip.top = 500.0f;
    OpenPanelFromStrip(kRightButton, strip, from_strip);
    EXPECT_EQ(from_strip.calls, (std::vector<std::string>{"height", "top", "show"}));
    EXPECT_EQ(from_strip.left, 6360.0f);
    EXPECT_EQ(from_strip.top, 500.0f - 3000.0f - 4000.0f);
    // Other buttons do nothing.
    for (std::int16_t button : {std::int16_t{1}, std::int16_t{4}, std::int16_t{3}}) {
        OpenPanelFromCaption(button, strip, untouched);
        OpenPanelFromStrip(button, strip, untouched);
    }
    EXPECT_TRUE(untouched.calls.empty());
}

// The strip on a 144-DPI monitor, the panel on a 96-DPI one, and a system
// DPI of 96 or 144: both map screen positions with the system DPI, so the
// panel lands on the strip's pixels whatever the monitors' scales.
TEST(PanelOpening, ScreenPixelsRoundTripAcrossMonitorsOfDifferentDpi) {
    for (unsigned system_dpi : {96u, 144u}) {
        const ScreenTwips screen{system_dpi};
        for (int x = -3840; x <= 7680; x += 7) {
            const int y = 1400 + x / 8;
            FakeStrip strip;
            strip.left = screen.FromPixels(x), strip.top = screen.FromPixels(y);
            FakePanel panel;
            const int panel_height = 259;  // outer pixels at the panel's own DPI
            panel.outer_height = screen.FromPixels(panel_height);
            OpenPanelFromCaption(kRightButton, strip, panel);
            ASSERT_EQ(screen.ToPixels(panel.left), x) << system_dpi;
            const int gap = y - (screen.ToPixels(panel.top) + panel_height);
            ASSERT_EQ(gap, screen.ToPixels(2600.0f)) << system_dpi << " at x " << x;
        }
    }
}

// Whether the system timer runs, step after step: Timer1 enabled with an
// interval above 0, and the strip seen. The events are Windows' own values:
// WTS_SESSION_LOCK 7, WTS_SESSION_UNLOCK 8, WTS_CONSOLE_CONNECT 1,
// WTS_CONSOLE_DISCONNECT 2, WTS_REMOTE_CONNECT 3, WTS_REMOTE_DISCONNECT 4;
// the display's state 0 off, 1 on, 2 dimmed. The strip's session is 1.
TEST(ScrollTimer, RunsWhileEnabledWithAnIntervalAndSeen) {
    TimerSettings timer;
    UnseenState unseen;
    const auto session = [&](std::uint32_t event, std::uint32_t id = 1) {
        return [&unseen, event, id] { unseen.OnSessionChange(event, id, 1); };
    };
    const auto display = [&](std::uint32_t state) {
        return [&unseen, state] { unseen.OnDisplayState(state); };
    };
    const struct {
        const char* step;
        std::function<void()> apply;
        bool runs;
    } steps[] = {
        {"laid out", [] {}, true},
        {"interval 0", [&] { timer.interval_ms = 0; }, false},
        {"interval 52", [&] { timer.interval_ms = 52; }, true},
        // Nothing registered (Wine, or a failed registration): never unseen.
        {"locked, unregistered", session(7), true},
        {"display off, unregistered", display(0), true},
        {"registered", [&] { unseen.session_watched = unseen.display_watched = true; }, true},
        {"display off", display(0), false},
        {"display dimmed", display(2), true},
        {"display off again", display(0), false},
        {"Pause while unseen", [&] { timer.enabled = false; }, false},
        {"Play while unseen", [&] { timer.enabled = true; }, false},
        {"display on", display(1), true},
        {"another session locked", session(7, 2), true},
        {"locked", session(7), false},
        {"display off and on while locked", [&] { display(0)(), display(1)(); }, false},
        {"unlocked", session(8), true},
        {"console disconnected", session(2), false},
        {"connected remotely", session(3), true},
        {"remote disconnected", session(4), false},
        {"console connected", session(1), true},
        {"paused", [&] { timer.enabled = false; }, false},
    };
    for (const auto& s : steps) {
        s.apply();
        EXPECT_EQ(TimerRuns(timer, unseen), s.runs) << s.step;
    }
}

TEST(TwipMapping, FifteenTwipsPerPixelAt96AndScaledAtOtherDpis) {
    EXPECT_EQ(TwipsToPixels(5895.0f, 96), 393);
    EXPECT_EQ(TwipsToPixels(495.0f, 96), 33);
    EXPECT_EQ(TwipsToPixels(5895.0f, 144), 590);  // 589.5 rounds up
    EXPECT_EQ(TwipsToPixels(6652.5f, 96), 444);   // 443.5
    EXPECT_EQ(TwipsToPixels(-22.5f, 96), -1);     // -1.5: halves go up
    EXPECT_EQ(TwipsToPixels(-7.5f, 96), 0);
    EXPECT_EQ(PixelsToTwips(86, 96), 1290.0f);
    EXPECT_EQ(PixelsToTwips(129, 144), 1290.0f);
}

TEST(EndRequest, OnlyARegisteredMessageEndsTheProgram) {
    EXPECT_TRUE(IsEndRequest(0xC123, 0xC123));
    EXPECT_FALSE(IsEndRequest(0xC124, 0xC123));
    // Registration failed: WM_NULL (0) and every other message go on.
    EXPECT_FALSE(IsEndRequest(0, 0));
    EXPECT_FALSE(IsEndRequest(0x0010, 0x0010));
}

}  // namespace
}  // namespace korvane
