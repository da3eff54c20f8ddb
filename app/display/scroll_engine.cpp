#include "scroll_engine.h"

#include "colorstep.h"

namespace Module1 {
std::int16_t colorstep = 0;
}

namespace korvane {

TickResult AdvanceCaption(ScrollState& state) {
    // Positions are whole or half twips far below 2^53, so the sum and the
    // step are exact in double precision, with or without x87 excess
    // precision, and the sign test is the one single precision made.
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
    // Read first: reading may create the panel, which runs its load step.
    const std::uint32_t colour = panel.SwatchColour(swatch);
    colorstep = static_cast<std::int16_t>(swatch % 3);
    return colour;
}

void OpenPanelFromCaption(std::int16_t button, const StripPosition& strip, PanelLink& panel) {
    if (button != kRightButton) return;
    panel.Show();
    panel.SetLeft(strip.Left());
    panel.SetTop(static_cast<float>(strip.Top() - panel.OuterHeight() - 2600.0f));
}

void OpenPanelFromStrip(std::int16_t button, const StripPosition& strip, PanelLink& panel) {
    if (button != kRightButton) return;
    panel.Show();
    panel.SetTop(static_cast<float>(strip.Top() - panel.OuterHeight() - 4000.0f));
}

}  // namespace korvane
