// Form2's font tab: the sample font, the colour swatches and "有新版本提示".
#include "caption_log_font.h"
#include "common_dialogs.h"
#include "form1.h"
#include "form2.h"

namespace korvane {

int Form2::Check1Value() const {
    return static_cast<int>(SendMessageW(Control(kCheck1), BM_GETCHECK, 0, 0));
}

void Form2::SetCheck1Value(int value) {
    SendMessageW(Control(kCheck1), BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

// A click gives 0 or 1 only: a greyed 2 read from test.ini becomes 1.
void Form2::Check1_Click() { SetCheck1Value(Check1Value() == BST_CHECKED ? 0 : 1); }

ColourSwatch& Form2::Swatch(ControlId id) {
    switch (id) {
        case kPicture1:
            return swatches_[0];
        case kPicture2:
            return swatches_[1];
        case kPicture3:
            return swatches_[2];
        default:
            return swatches_[3];
    }
}

std::uint32_t Form2::SwatchColour(int index) {
    EnsureLoaded();
    return swatches_[index - 1].Colour();
}

bool Form2::ChooseSwatchColour(ColourSwatch& swatch) {
    const auto colour = ChooseColourDialog(hwnd(), swatch.Colour());
    if (!colour) return false;
    swatch.SetColour(*colour);
    return true;
}

void Form2::Label3_Click() {
    const LOGFONTW initial = CaptionLogFont(sample_font_, dpi_);
    if (const auto choice = ChooseFontDialog(hwnd(), initial, dpi_)) {
        sample_font_.name = choice->font.lfFaceName;
        sample_font_.points = choice->points;
        sample_font_.italic = choice->font.lfItalic != 0;
        sample_font_.bold = choice->font.lfWeight >= FW_SEMIBOLD;
        sample_font_.underline = choice->font.lfUnderline != 0;
        sample_font_.charset = choice->font.lfCharSet;
        RecreateFonts();
        LayOut();
    }
    Apply(ApplyScope::kWithBackground);
}

void Form2::Picture1_Click() { ChooseSwatchColour(swatches_[0]); }

void Form2::Picture2_Click() { ChooseSwatchColour(swatches_[1]); }

void Form2::Picture3_Click() { ChooseSwatchColour(swatches_[2]); }

void Form2::Picture4_Click() {
    if (ChooseSwatchColour(swatches_[3])) strip_.SetSurfaceColour(swatches_[3].Colour());
}

}  // namespace korvane
