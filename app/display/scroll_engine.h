// The strip's portable rules: the scroll tick, the colour cycle, where the
// panel opens, and when the timer ticks, also while nobody can see it. The caption's position and
// width are twips in double precision: every 20-twip step stays exact however long the caption is,
// and below 2^24 twips the values are the ones single precision gives.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "panel_link.h"

namespace korvane {

inline constexpr double kScrollStepTwips = 20.0;
inline constexpr std::int16_t kLeftButton = 1;
inline constexpr std::int16_t kRightButton = 2;
inline constexpr std::int16_t kMiddleButton = 4;

struct ScrollState {
    double caption_left = 120.0;    // Label1.Left
    double caption_width = 0.0;     // Label1.Width
    double surface_width = 5895.0;  // Picture1.Width
};

// A caption width in twips from its width in pixels. Below 2^24 twips the
// value is rounded to single precision, the precision twips are held in,
// and the caption wraps on the tick that width gives; from 2^24 twips on,
// where single precision loses whole twips, the exact width is kept.
inline double CaptionWidthTwips(std::int64_t pixels, unsigned dpi) {
    const double twips = static_cast<double>(pixels) * 1440.0 / dpi;
    return twips < 16777216.0 ? static_cast<double>(static_cast<float>(twips)) : twips;
}

// Nearest pixel of a caption position, as TwipsToPixels rounds, in 64 bits:
// a caption of the longest importable text lies billions of pixels wide.
inline std::int64_t CaptionPixels(double twips, unsigned dpi) {
    return static_cast<std::int64_t>(std::floor(twips * dpi / 1440.0 + 0.5));
}

enum class TickResult { kStepped, kWrapped };

// One tick: the caption steps 20 twips left, or, once its right edge is
// left of the surface (strictly), it waits at the surface's right edge.
TickResult AdvanceCaption(ScrollState& state);

// The colour cycle: reads the swatch that colorstep selects and advances
// colorstep. Returns the colour for the caption, or nothing for a
// colorstep outside 0..2 (the panel is then not touched).
std::optional<std::uint32_t> NextCaptionColour(std::int16_t& colorstep, PanelLink& panel);

// Where the strip stands, in screen twips.
class StripPosition {
public:
    virtual ~StripPosition() = default;
    virtual float Left() const = 0;
    virtual float Top() const = 0;
};

// Right button released over the caption: panel left-aligned with the
// strip, its bottom 2600 twips above the strip. Other buttons do nothing.
// The panel is placed before it shows, with the strip's position read after
// the panel has loaded: loading may dispatch messages while the strip is
// dragged.
void OpenPanelFromCaption(std::int16_t button, const StripPosition& strip, PanelLink& panel);
// Right button released elsewhere on the strip: bottom 4000 twips above,
// left edge unchanged.
void OpenPanelFromStrip(std::int16_t button, const StripPosition& strip, PanelLink& panel);

// The scroll timer: an interval of 0 delivers no ticks although enabled.
struct TimerSettings {
    std::uint32_t interval_ms = 150;
    bool enabled = true;
    bool Ticking() const { return enabled && interval_ms > 0; }
};

// Whether nobody can see the strip: its session locked, disconnected from
// its console or remote connection, or its display off. Each condition
// counts only once its notifications are registered (`*_watched`), so
// that where registration fails the strip scrolls as it always did. Kept
// apart from Timer1's enabled flag, which stays the panel's Play and Pause.
struct UnseenState {
    bool session_watched = false;
    bool display_watched = false;
    bool locked = false;
    bool disconnected = false;
    bool display_off = false;

    // A session change (WM_WTSSESSION_CHANGE: a WTS_* event for a session);
    // only events for the strip's own session count.
    void OnSessionChange(std::uint32_t event, std::uint32_t session, std::uint32_t own_session);
    // The display's state from a power-setting notification: 0 off, 1 on,
    // 2 dimmed, which still shows the strip.
    void OnDisplayState(std::uint32_t state);
    bool Unseen() const {
        return (session_watched && (locked || disconnected)) || (display_watched && display_off);
    }
};

// The system timer runs while Timer1 ticks and somebody can see the strip.
inline bool TimerRuns(const TimerSettings& timer, const UnseenState& unseen) {
    return timer.Ticking() && !unseen.Unseen();
}

}  // namespace korvane
