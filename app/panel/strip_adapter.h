// The strip as the apply step sets it: each call goes to Form1.
#pragma once

#include <cstdint>
#include <string>

#include "form1.h"
#include "panel_rules.h"

namespace korvane {

class StripAdapter final : public StripControl {
public:
    explicit StripAdapter(Form1& strip) : strip_(strip) {}
    void SetCaptionText(const std::wstring& text) override { strip_.SetCaptionText(text); }
    void SetCaptionLeft(float twips) override { strip_.SetCaptionLeft(twips); }
    void SetCaptionFont(const CaptionFont& font) override { strip_.SetCaptionFont(font); }
    void SetCaptionColour(std::uint32_t colour) override { strip_.SetCaptionColour(colour); }
    void SetTimerInterval(std::uint32_t ms) override { strip_.SetTimerInterval(ms); }
    void SetTimerEnabled(bool enabled) override { strip_.SetTimerEnabled(enabled); }
    void SetSurfaceColour(std::uint32_t colour) override { strip_.SetSurfaceColour(colour); }

private:
    Form1& strip_;
};

}  // namespace korvane
