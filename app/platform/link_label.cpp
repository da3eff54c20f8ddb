#include "link_label.h"

#include "wide_text.h"
#include "win_handles.h"

namespace korvane {
namespace {
constexpr wchar_t kClassName[] = L"KorvaneLinkLabel";
// As a left-aligned static control without prefixes draws its text.
constexpr UINT kTextFormat = DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK | DT_NOPREFIX;
}  // namespace

void LinkLabel::Create(const CreateArgs& args) {
    colour_ = args.colour;
    // Double clicks arrive as their own message, so that a quick second
    // click is not a second click on the link.
    RegisterClassOnce(kClassName, nullptr, CS_DBLCLKS);
    WindowBase::CreateArgs window;
    window.class_name = kClassName;
    window.title = args.text;
    window.style = WS_CHILD | WS_VISIBLE;
    window.parent = args.parent;
    window.id = args.id;
    CreateWindowFor(window);
}

void LinkLabel::SetColour(COLORREF colour) {
    if (colour_ == colour) return;
    colour_ = colour;
    InvalidateRect(hwnd(), nullptr, TRUE);
}

void LinkLabel::Paint() {
    PaintScope paint(hwnd());
    RECT rect{};
    GetClientRect(hwnd(), &rect);
    FillRect(paint.dc(), &rect, GetSysColorBrush(COLOR_BTNFACE));
    const std::wstring text = WindowText(hwnd());
    SelectScope select(paint.dc(), font_);  // without a font, the DC's own
    SetTextColor(paint.dc(), colour_);
    SetBkColor(paint.dc(), GetSysColor(COLOR_BTNFACE));
    DrawTextW(paint.dc(), text.c_str(), static_cast<int>(text.size()), &rect, kTextFormat);
}

LRESULT LinkLabel::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_SETFONT:
            font_ = reinterpret_cast<HFONT>(wparam);
            if (LOWORD(lparam)) InvalidateRect(hwnd(), nullptr, TRUE);
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(font_);
        case WM_SETTEXT: {
            const LRESULT result = WindowBase::HandleMessage(message, wparam, lparam);
            InvalidateRect(hwnd(), nullptr, TRUE);
            return result;
        }
        case WM_GETDLGCODE:
            return DLGC_STATIC;
        case WM_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        case WM_MOUSEMOVE:
            if (on_mouse_move) on_mouse_move();
            return 0;
        case WM_LBUTTONDOWN:
            SendMessageW(GetParent(hwnd()), WM_COMMAND,
                         MAKEWPARAM(GetDlgCtrlID(hwnd()), STN_CLICKED),
                         reinterpret_cast<LPARAM>(hwnd()));
            return 0;
        case WM_LBUTTONDBLCLK:
            return 0;
        default:
            return WindowBase::HandleMessage(message, wparam, lparam);
    }
}

}  // namespace korvane
