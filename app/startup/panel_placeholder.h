// Stands in for the control panel until the panel exists: its swatches
// have the panel's laid-out colour (black) and showing it does nothing.
// The panel replaces this class; start-up is the one place that wires it.
#pragma once

#include "panel_link.h"

namespace korvane {

class PanelPlaceholder final : public PanelLink {
public:
    std::uint32_t SwatchColour(int) override { return 0x000000; }
    void Show() override {}
    float OuterHeight() override { return 0.0f; }
    void SetLeft(float) override {}
    void SetTop(float) override {}
};

}  // namespace korvane
