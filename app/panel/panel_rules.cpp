#include "panel_rules.h"

#include <string>

namespace korvane {

std::uint32_t IntervalForSpeed(int position) {
    const int interval = 102 - position;
    return interval > 0 ? static_cast<std::uint32_t>(interval) : 0u;
}

void ApplyToStrip(const PanelChoices& choices, ApplyScope scope, StripControl& strip) {
    strip.SetCaptionText(choices.text);
    strip.SetCaptionLeft(kSwatchWidthTwips);
    strip.SetCaptionFont(choices.sample_font);
    strip.SetCaptionColour(choices.first_colour);
    strip.SetTimerInterval(IntervalForSpeed(choices.speed));
    strip.SetTimerEnabled(true);
    if (scope == ApplyScope::kWithBackground) strip.SetSurfaceColour(choices.background);
}

int Check1FromStored(std::string_view stored) {
    // The profile call trims blanks around values; be as forgiving here.
    while (!stored.empty() && (stored.front() == ' ' || stored.front() == '\t')) {
        stored.remove_prefix(1);
    }
    while (!stored.empty() && (stored.back() == ' ' || stored.back() == '\t')) {
        stored.remove_suffix(1);
    }
    // A whole decimal number; leading zeros are fine ("01" is 1).
    if (stored.empty()) return 1;
    int value = 0;
    for (const char c : stored) {
        if (c < '0' || c > '9') return 1;
        value = value * 10 + (c - '0');
        if (value > 2) return 1;
    }
    return value;
}

std::string Check1ToStored(int value) { return std::to_string(value); }

}  // namespace korvane
