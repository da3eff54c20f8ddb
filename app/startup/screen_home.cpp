#include "screen_home.h"

#include <windows.h>

#include <vector>

#include "dpi.h"
#include "strip_placement.h"

namespace korvane {
namespace {

PixelRect FromRect(const RECT& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }

BOOL CALLBACK CollectMonitor(HMONITOR monitor, HDC, RECT*, LPARAM param) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info)) {
        reinterpret_cast<std::vector<MonitorArea>*>(param)->push_back(
            {FromRect(info.rcMonitor), FromRect(info.rcWork)});
    }
    return TRUE;
}

}  // namespace

void ScreenHome::ReturnIfLost() {
    if (returning_) return;
    RECT rect{};
    if (!GetWindowRect(strip_.hwnd(), &rect)) return;
    std::vector<MonitorArea> monitors;
    EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&monitors));
    const auto place = PlaceLostStrip(monitors, FromRect(rect),
                                      {strip_.Width(), strip_.Height(), strip_.Dpi()}, SystemDpi());
    if (!place) return;
    // In start-up's order.
    returning_ = true;
    strip_.SetTop(place->top);
    strip_.SetLeft(place->left);
    returning_ = false;
}

}  // namespace korvane
