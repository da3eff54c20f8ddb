// What the strip needs of the control panel. The panel implements it; the
// strip never sees the panel's own types. Each call creates and loads the
// panel first if it does not exist yet (hidden, unless the call shows it).
#pragma once

#include <cstdint>

namespace korvane {

class PanelLink {
public:
    virtual ~PanelLink() = default;

    // Background colour (0x00BBGGRR) of text-colour swatch 1, 2 or 3.
    virtual std::uint32_t SwatchColour(int index) = 0;
    // Shows the panel modeless, without an owner.
    virtual void Show() = 0;
    // Outer height of the panel window in twips.
    virtual float OuterHeight() = 0;
    // Moves the panel; screen twips.
    virtual void SetLeft(float twips) = 0;
    virtual void SetTop(float twips) = 0;
};

}  // namespace korvane
