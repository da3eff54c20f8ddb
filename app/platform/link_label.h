// A label used as a link: one line of text in a colour of its own on the
// button face, with the hand cursor. A click sends BN_CLICKED (STN_CLICKED)
// to its parent; every mouse move over it calls on_mouse_move. It takes no
// focus.
#pragma once

#include <windows.h>

#include <functional>

#include "window_base.h"

namespace korvane {

class LinkLabel final : public WindowBase {
public:
    struct CreateArgs {
        HWND parent = nullptr;
        int id = 0;
        const wchar_t* text = L"";
        COLORREF colour = 0;
    };

    void Create(const CreateArgs& args);
    COLORREF Colour() const { return colour_; }
    // Repaints only when the colour changes, so that hovering does not flicker.
    void SetColour(COLORREF colour);

    std::function<void()> on_mouse_move;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    void Paint();

    COLORREF colour_ = 0;
    HFONT font_ = nullptr;  // owned by the parent
};

}  // namespace korvane
