// Where the strip belongs on the desktop. Start-up, which places the strip,
// implements it; the strip asks again whenever the desktop changes under it
// (displays, the work area, its DPI), so that it is never left where no
// monitor shows it.
#pragma once

namespace korvane {

class StripHome {
public:
    virtual ~StripHome() = default;
    // Moves the strip back to start-up's place if no monitor shows it.
    virtual void ReturnIfLost() = 0;
};

}  // namespace korvane
