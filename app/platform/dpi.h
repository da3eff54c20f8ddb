// DPI of windows and of the system, and font heights at a DPI. Twips map
// to pixels through twips.h with the DPI found here.
#pragma once

#include <windows.h>

#include <cmath>

#include "twips.h"

namespace korvane {

inline constexpr unsigned kDefaultDpi = 96;

namespace dpi_detail {
template <class Fn>
Fn User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                  : nullptr;
}
inline unsigned ScreenDcDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<unsigned>(dpi) : kDefaultDpi;
}
}  // namespace dpi_detail

// System DPI: the one the screen size in twips is measured with. Resolved
// at run time so that the program still starts where the call is missing.
inline unsigned SystemDpi() {
    using Fn = UINT(WINAPI*)();
    static const Fn get_dpi_for_system = dpi_detail::User32Function<Fn>("GetDpiForSystem");
    const unsigned dpi = get_dpi_for_system ? get_dpi_for_system() : 0;
    return dpi ? dpi : dpi_detail::ScreenDcDpi();
}

// The one mapping of screen positions (twips.h).
inline ScreenTwips Screen() { return ScreenTwips{SystemDpi()}; }

// DPI of the monitor a per-monitor aware window is on.
inline unsigned WindowDpi(HWND hwnd) {
    using Fn = UINT(WINAPI*)(HWND);
    static const Fn get_dpi_for_window = dpi_detail::User32Function<Fn>("GetDpiForWindow");
    const unsigned dpi = (get_dpi_for_window && hwnd) ? get_dpi_for_window(hwnd) : 0;
    return dpi ? dpi : SystemDpi();
}

// Outer rectangle of a window whose client area is `client`, at a DPI.
inline RECT OuterRectForClient(RECT client, DWORD style, DWORD ex_style, unsigned dpi) {
    using Fn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const Fn adjust_for_dpi = dpi_detail::User32Function<Fn>("AdjustWindowRectExForDpi");
    if (!adjust_for_dpi || !adjust_for_dpi(&client, style, FALSE, ex_style, dpi)) {
        AdjustWindowRectEx(&client, style, FALSE, ex_style);
    }
    return client;
}

// LOGFONT height (negative: character height) of a point size at a DPI,
// e.g. 14.25 pt at 96 DPI gives -19.
inline LONG FontHeightForPoints(float points, unsigned dpi) {
    const int hundredths = static_cast<int>(std::lround(points * 100.0f));
    return -MulDiv(hundredths, static_cast<int>(dpi), 7200);
}

}  // namespace korvane
