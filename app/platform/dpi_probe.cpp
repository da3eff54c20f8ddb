// Test helper: prints "monitor M window W system S", the DPI answers of dpi.h
// for a window of its own: M through shcore's GetDpiForMonitor (0 where it is
// missing; the answer on Windows 8.1 and early Windows 10), W and S what
// WindowDpi and SystemDpi give.
#include <windows.h>

#include <cstdio>

#include "dpi.h"
#include "test_driver.h"

int main() {
    // Per-monitor aware where the call exists, as the program's manifest
    // makes it; else system aware.
    const auto set_context = korvane::testing::Export<BOOL(WINAPI*)(HANDLE)>(
        GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext");
    const HANDLE kPerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
    if (!set_context || !set_context(kPerMonitorAwareV2)) SetProcessDPIAware();
    const HWND window = CreateWindowExW(0, L"STATIC", L"dpi_probe", WS_POPUP, 0, 0, 10, 10, nullptr,
                                        nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window) return 1;
    std::printf("monitor %u window %u system %u\n", korvane::dpi_detail::MonitorDpi(window),
                korvane::WindowDpi(window), korvane::SystemDpi());
    DestroyWindow(window);
    return 0;
}
