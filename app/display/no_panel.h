// A panel that does nothing, for a strip driven on its own by the test and
// benchmark programs.
#pragma once

#include <cstdint>

#include "panel_link.h"

namespace korvane {

class NoPanel final : public PanelLink {
public:
    std::uint32_t SwatchColour(int) override { return 0; }
    void Show() override {}
    float OuterHeight() override { return 0.0f; }
    void SetLeft(float) override {}
    void SetTop(float) override {}
};

}  // namespace korvane
