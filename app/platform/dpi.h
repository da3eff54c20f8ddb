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
// GetDpiForMonitor from shcore.dll (Windows 8.1 on), loaded from the system
// folder once for the process; null where there is no such library.
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
inline GetDpiForMonitorFn ShcoreGetDpiForMonitor() {
    static const GetDpiForMonitorFn function = []() -> GetDpiForMonitorFn {
        // Every Windows that has shcore.dll takes the search flag.
        HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!shcore) return nullptr;
        return reinterpret_cast<GetDpiForMonitorFn>(
            reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
    }();
    return function;
}
inline constexpr int kMdtEffectiveDpi = 0;  // MONITOR_DPI_TYPE's MDT_EFFECTIVE_DPI
// The effective DPI of the monitor a window is on, 0 where it is not known.
inline unsigned MonitorDpi(HWND hwnd) {
    const GetDpiForMonitorFn get_dpi_for_monitor = ShcoreGetDpiForMonitor();
    if (!get_dpi_for_monitor || !hwnd) return 0;
    HMONITOR monitor = MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST);
    UINT dpi_x = 0, dpi_y = 0;
    if (!monitor || FAILED(get_dpi_for_monitor(monitor, kMdtEffectiveDpi, &dpi_x, &dpi_y))) {
        return 0;
    }
    return dpi_y;
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

// DPI of the monitor a per-monitor aware window is on: GetDpiForWindow from
// Windows 10 1607 on, the monitor's DPI on Windows 8.1 and the Windows 10
// before it, the system DPI on Windows 7, where every monitor has that one.
inline unsigned WindowDpi(HWND hwnd) {
    using Fn = UINT(WINAPI*)(HWND);
    static const Fn get_dpi_for_window = dpi_detail::User32Function<Fn>("GetDpiForWindow");
    unsigned dpi = 0;
    if (get_dpi_for_window) {
        dpi = hwnd ? get_dpi_for_window(hwnd) : 0;
    } else {
        dpi = dpi_detail::MonitorDpi(hwnd);
    }
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
