#include "colour_swatch.h"

#include "win_handles.h"

namespace korvane {
namespace {
constexpr wchar_t kClassName[] = L"KorvaneColourSwatch";
}

void ColourSwatch::Create(const CreateArgs& args) {
    colour_ = args.colour;
    RegisterClassOnce(kClassName);
    WindowBase::CreateArgs window;
    window.class_name = kClassName;
    window.style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    window.parent = args.parent;
    window.id = args.id;
    CreateWindowFor(window);
}

void ColourSwatch::SetColour(COLORREF colour) {
    colour_ = colour;
    InvalidateRect(hwnd(), nullptr, FALSE);
}

void ColourSwatch::Paint() {
    PaintScope paint(hwnd());
    RECT rect{};
    GetClientRect(hwnd(), &rect);
    DrawEdge(paint.dc(), &rect, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    SetBkColor(paint.dc(), colour_);
    ExtTextOutW(paint.dc(), 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    if (GetFocus() == hwnd()) {
        // A focus ring in the colour's complement stays visible on any fill.
        InflateRect(&rect, -1, -1);
        SetTextColor(paint.dc(), RGB(255, 255, 255));
        SetBkColor(paint.dc(), RGB(0, 0, 0));
        DrawFocusRect(paint.dc(), &rect);
    }
}

void ColourSwatch::NotifyClick() {
    const HWND parent = GetParent(hwnd());
    const int id = GetDlgCtrlID(hwnd());
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(hwnd()));
}

LRESULT ColourSwatch::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            InvalidateRect(hwnd(), nullptr, FALSE);
            return 0;
        case WM_GETDLGCODE:
            return DLGC_WANTCHARS;
        case WM_LBUTTONDOWN:
            SetFocus(hwnd());
            SetCapture(hwnd());
            pressed_ = true;
            return 0;
        case WM_LBUTTONUP: {
            if (!pressed_) return 0;
            pressed_ = false;
            ReleaseCapture();
            POINT point{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
            RECT rect{};
            GetClientRect(hwnd(), &rect);
            if (PtInRect(&rect, point)) NotifyClick();
            return 0;
        }
        case WM_CAPTURECHANGED:
            pressed_ = false;
            return 0;
        case WM_KEYUP:
            if (wparam == VK_SPACE) NotifyClick();
            return 0;
        default:
            return WindowBase::HandleMessage(message, wparam, lparam);
    }
}

}  // namespace korvane
