// The panel's window-free rules: the apply step, the scroll interval, play
// and pause, and the stored notification setting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "caption_font.h"

namespace korvane {

// The sample label's font as laid out: "宋体" 12 pt, regular.
inline const CaptionFont kSampleLaidOutFont{L"宋体", 12.0f};

// The state of the strip that the panel sets.
class StripControl {
public:
    virtual ~StripControl() = default;
    virtual void SetCaptionText(const std::wstring& text) = 0;
    virtual void SetCaptionLeft(float twips) = 0;
    virtual void SetCaptionFont(const CaptionFont& font) = 0;
    virtual void SetCaptionColour(std::uint32_t colour) = 0;
    virtual void SetTimerInterval(std::uint32_t milliseconds) = 0;
    virtual void SetTimerEnabled(bool enabled) = 0;
    virtual void SetSurfaceColour(std::uint32_t colour) = 0;
};

// What the apply step reads from the panel's controls.
struct PanelChoices {
    std::wstring text;                             // Text1
    CaptionFont sample_font = kSampleLaidOutFont;  // Label3
    std::uint32_t first_colour = 0;                // Picture1
    std::uint32_t background = 0xFFFFFF;           // Picture4
    int speed = 50;                                // Slider1
};

inline constexpr int kSpeedMin = 20;
inline constexpr int kSpeedMax = 100;
inline constexpr int kSpeedLaidOut = 50;
inline constexpr int kWidthMin = 2000;
inline constexpr int kWidthMax = 21700;
// The caption restarts this far from the strip's left edge: the width of
// the first swatch.
inline constexpr float kSwatchWidthTwips = 495.0f;

// Interval of the scroll timer for a speed slider position: 20 gives 82 ms,
// 100 gives 2 ms.
std::uint32_t IntervalForSpeed(int position);

// Closing the panel leaves the strip's background alone; OK and a font
// choice apply it too.
enum class ApplyScope { kWithoutBackground, kWithBackground };

// Copies the panel's choices to the strip, in order: text, left position,
// font, colour, interval, timer on, and the background when asked.
void ApplyToStrip(const PanelChoices& choices, ApplyScope scope, StripControl& strip);

// Play and Pause: the timer and the two buttons change together.
struct PlaybackState {
    bool timer_enabled;
    bool play_enabled;   // Command3
    bool pause_enabled;  // Command5
};
inline constexpr PlaybackState kPlaying{true, false, true};
inline constexpr PlaybackState kPaused{false, true, false};

// "Check1" as stored in test.ini: 0, 1 or 2 (greyed); anything else
// counts as 1.
int Check1FromStored(std::string_view stored);
std::string Check1ToStored(int value);

}  // namespace korvane
