// Form2's display tab: the speed and width sliders.
#include "form2.h"

#include "form1.h"

namespace korvane {

void Form2::Slider1_Scroll() { strip_.SetTimerInterval(IntervalForSpeed(slider1_.Value())); }

void Form2::Slider2_Scroll() { strip_.SetSurfaceWidth(static_cast<float>(slider2_.Value())); }

}  // namespace korvane
