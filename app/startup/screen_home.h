// The strip's home on a changing desktop: start-up's place, worked out
// again on the monitors as they are now (PlaceLostStrip).
#pragma once

#include "form1.h"
#include "strip_home.h"

namespace korvane {

class ScreenHome final : public StripHome {
public:
    explicit ScreenHome(Form1& strip) : strip_(strip) {}
    void ReturnIfLost() override;

private:
    Form1& strip_;
    // Moving the strip onto a monitor of another DPI changes its DPI on the
    // way, which asks again: that inner call is left out.
    bool returning_ = false;
};

}  // namespace korvane
