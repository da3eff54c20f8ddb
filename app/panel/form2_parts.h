// What the files of Form2 share: the window's styles, the link colours and
// reading a control's text.
#pragma once

#include <windows.h>

#include <string>

namespace korvane::form2_parts {

inline constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
inline constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
inline constexpr COLORREF kLinkColour = 0x00C00000;
inline constexpr COLORREF kLinkHoverColour = 0x000000FF;

inline std::wstring WindowText(HWND hwnd) {
    std::wstring text(GetWindowTextLengthW(hwnd) + 1, L'\0');
    text.resize(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size())));
    return text;
}

}  // namespace korvane::form2_parts
