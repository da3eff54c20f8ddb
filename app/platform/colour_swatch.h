// A bordered colour swatch: a child window filled with one colour. It takes
// the focus, and a click or the space bar sends BN_CLICKED to its parent.
#pragma once

#include <windows.h>

#include "window_base.h"

namespace korvane {

class ColourSwatch final : public WindowBase {
public:
    struct CreateArgs {
        HWND parent = nullptr;
        int id = 0;
        COLORREF colour = 0;
    };

    void Create(const CreateArgs& args);
    COLORREF Colour() const { return colour_; }
    void SetColour(COLORREF colour);

protected:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    void Paint();
    void NotifyClick();

    COLORREF colour_ = 0;
    bool pressed_ = false;
};

}  // namespace korvane
