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
};

}  // namespace korvane
