// Form2's window styles and link colours, which its files share.
#pragma once

#include <windows.h>

namespace korvane::form2_style {

inline constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
inline constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
inline constexpr COLORREF kLinkColour = 0x00C00000;
inline constexpr COLORREF kLinkHoverColour = 0x000000FF;

}  // namespace korvane::form2_style
