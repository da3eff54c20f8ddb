// Form2's text tab: OK and the apply step it shares with closing. Import
// is in form2_import.cpp.
#include "form2.h"
#include "form2_parts.h"

namespace korvane {
namespace {

// Sets the strip's state for the apply step.
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

}  // namespace

using namespace form2_parts;

PanelChoices Form2::Choices() const {
    PanelChoices choices;
    choices.text = WindowText(Control(kText1));
    choices.sample_font = sample_font_;
    choices.first_colour = swatches_[0].Colour();
    choices.background = swatches_[3].Colour();
    choices.speed = SliderValue(kSlider1);
    return choices;
}

void Form2::Apply(ApplyScope scope) {
    StripAdapter strip(strip_);
    ApplyToStrip(Choices(), scope, strip);
}

void Form2::Command1_Click() {
    Apply(ApplyScope::kWithBackground);
    Hide();
}

}  // namespace korvane
