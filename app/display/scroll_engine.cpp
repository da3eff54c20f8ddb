#include "scroll_engine.h"

#include "colorstep.h"

namespace Module1 {
std::int16_t colorstep = 0;
}

namespace korvane {

TickResult AdvanceCaption(ScrollState& state) {
    // Every position a caption reaches lies far below 2^53 twips, so the
    // 20-twip step is exact in double precision, with or without x87 excess
    // precision; the right edge has the sign of the exact sum, as it had in
    // single precision.
    const double right_edge = state.caption_width + state.caption_left;
    if (right_edge < 0.0) {
        state.caption_left = state.surface_width;
        return TickResult::kWrapped;
    }
    state.caption_left -= kScrollStepTwips;
    return TickResult::kStepped;
}

std::optional<std::uint32_t> NextCaptionColour(std::int16_t& colorstep, PanelLink& panel) {
    if (colorstep < 0 || colorstep > 2) return std::nullopt;
    const int swatch = colorstep + 1;
    // Read first: reading may create the panel, which runs its load sequence.
    const std::uint32_t colour = panel.SwatchColour(swatch);
    colorstep = static_cast<std::int16_t>(swatch % 3);
    return colour;
}

// The panel's height is read first: that loads the panel, and the strip can
// be dragged meanwhile. The panel is placed while hidden, then shown.
void OpenPanelFromCaption(std::int16_t button, const StripPosition& strip, PanelLink& panel) {
    if (button != kRightButton) return;
    const float height = panel.OuterHeight();
    panel.SetLeft(strip.Left());
    panel.SetTop(static_cast<float>(strip.Top() - height - 2600.0f));
    panel.Show();
}

void OpenPanelFromStrip(std::int16_t button, const StripPosition& strip, PanelLink& panel) {
    if (button != kRightButton) return;
    const float height = panel.OuterHeight();
    panel.SetTop(static_cast<float>(strip.Top() - height - 4000.0f));
    panel.Show();
}

// The WTS_* events of WM_WTSSESSION_CHANGE that change what the strip's
// session shows.
enum : std::uint32_t {
    kConsoleConnect = 0x1,
    kConsoleDisconnect = 0x2,
    kRemoteConnect = 0x3,
    kRemoteDisconnect = 0x4,
    kSessionLock = 0x7,
    kSessionUnlock = 0x8,
};

void UnseenState::OnSessionChange(std::uint32_t event, std::uint32_t session,
                                  std::uint32_t own_session) {
    if (!session_watched || session != own_session) return;
    if (event == kSessionLock || event == kSessionUnlock) locked = event == kSessionLock;
    if (event == kConsoleDisconnect || event == kRemoteDisconnect) disconnected = true;
    if (event == kConsoleConnect || event == kRemoteConnect) disconnected = false;
}

void UnseenState::OnDisplayState(std::uint32_t state) {
    if (display_watched) display_off = state == 0;
}

}  // namespace korvane
