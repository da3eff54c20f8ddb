// Form2's display tab: the speed and width sliders.
#include "form2.h"

#include <commctrl.h>

namespace korvane {

int Form2::SliderValue(ControlId id) const {
    return static_cast<int>(SendMessageW(Control(id), TBM_GETPOS, 0, 0));
}

void Form2::Slider1_Scroll() { strip_.SetTimerInterval(IntervalForSpeed(SliderValue(kSlider1))); }

void Form2::Slider2_Scroll() { strip_.SetSurfaceWidth(static_cast<float>(SliderValue(kSlider2))); }

}  // namespace korvane
