// Form1's mouse input: the buttons on the surface Image1 and on the caption
// Label1, and the drags that move the strip.
#include "form1.h"

#include <windowsx.h>

namespace korvane {
namespace {

constexpr WPARAM kMoveByCaption = SC_MOVE | HTCAPTION;

}  // namespace

void Form1::OnMouse(UINT message, WPARAM wparam, LPARAM lparam) {
    UpdateLayout();
    const POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    std::int16_t button = 1;
    if (message == WM_RBUTTONDOWN || message == WM_RBUTTONUP) button = 2;
    if (message == WM_MBUTTONDOWN || message == WM_MBUTTONUP) button = 4;
    const std::int16_t shift =
        static_cast<std::int16_t>(((wparam & MK_SHIFT) ? 1 : 0) | ((wparam & MK_CONTROL) ? 2 : 0) |
                                  ((GetKeyState(VK_MENU) < 0) ? 4 : 0));
    const float x = PixelsToTwips(point.x, dpi_);
    const float y = PixelsToTwips(point.y, dpi_);
    const RECT caption = CaptionRect();
    const bool on_caption = PtInRect(&caption, point) != FALSE;
    const bool down =
        message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
    if (message == WM_MBUTTONUP && middle_drag_grip_) ReleaseCapture();  // ends the drag
    if (down) {
        if (!on_caption) Image1_MouseDown(button, shift, x, y);  // the caption never drags
    } else if (on_caption) {
        Label1_MouseUp(button, shift, x - scroll_.caption_left, y - kCaptionTopTwips);
    } else {
        Image1_MouseUp(button, shift, x, y);
    }
}

void Form1::Image1_MouseDown(std::int16_t button, std::int16_t, float, float) {
    // The left and middle buttons drag; the right button's release opens the
    // panel, and a move started by its press would swallow that release.
    if (button == kLeftButton) {
        ReleaseCapture();
        left_drag_ = true;  // the move loop returns when the button is released
        SendMessageA(hwnd(), WM_SYSCOMMAND, kMoveByCaption, 0);
        left_drag_ = false;
        DragEnded();
    } else if (button == kMiddleButton) {
        // The system's move loop ends only on a left release, so the middle
        // button moves the window itself while it holds the capture.
        POINT cursor{};
        RECT rect{};
        GetCursorPos(&cursor);
        GetWindowRect(hwnd(), &rect);
        middle_drag_grip_ = POINT{cursor.x - rect.left, cursor.y - rect.top};
        SetCapture(hwnd());
    }
}

void Form1::FollowMiddleDrag() {
    POINT cursor{};
    GetCursorPos(&cursor);
    SetWindowPos(hwnd(), nullptr, cursor.x - middle_drag_grip_->x, cursor.y - middle_drag_grip_->y,
                 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1::Image1_MouseUp(std::int16_t button, std::int16_t, float, float) {
    OpenPanelFromStrip(button, *this, panel_);
}

void Form1::Label1_MouseUp(std::int16_t button, std::int16_t, float, float) {
    OpenPanelFromCaption(button, *this, panel_);
}

}  // namespace korvane
