// Form2's text tab: OK and the apply step it shares with closing. Import
// is in form2_import.cpp.
#include "form2.h"
#include "strip_adapter.h"

namespace korvane {

PanelChoices Form2::Choices() const {
    PanelChoices choices;
    choices.text = text1_.Text();
    choices.sample_font = sample_font_;
    choices.first_colour = swatches_[0].Colour();
    choices.background = swatches_[3].Colour();
    choices.speed = slider1_.Value();
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
