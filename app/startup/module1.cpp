#include "module1.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "dpi.h"
#include "notify_icon_window.h"
#include "program_folder.h"
#include "screen_home.h"
#include "strip_placement.h"

namespace Module1 {
namespace {

// Only an ordinary file counts: not a folder, not hidden, not system.
bool IsOrdinaryFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return (attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

// The bottom edge of the work area (the screen less a taskbar or other bar
// docked at its bottom) of the monitor the strip is placed on: the one
// under the middle of the screen's bottom row, the primary monitor, whose
// size the screen metrics give.
int WorkAreaBottom(int screen_width, int screen_height) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    const HMONITOR strip_monitor =
        MonitorFromPoint(POINT{screen_width / 2, screen_height - 1}, MONITOR_DEFAULTTOPRIMARY);
    if (strip_monitor && GetMonitorInfoW(strip_monitor, &monitor)) return monitor.rcWork.bottom;
    RECT work{};
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) return work.bottom;
    return screen_height;
}

// The strip and the panel refer to each other: the panel is constructed
// first, and the strip reaches it only as its PanelLink. The strip's home
// takes it back to start-up's place when the desktop changes under it. The
// notification area's icon reaches both the strip and the panel.
struct Windows {
    korvane::Form2 panel;
    korvane::Form1 strip;
    korvane::ScreenHome home{strip};
    korvane::NotifyIconWindow notify_icon;
    Windows() : panel(*std::addressof(strip)), strip(panel), notify_icon(strip, panel) {
        strip.SetHome(&home);
    }
};

Windows& TheWindows() {
    static Windows windows;
    return windows;
}

}  // namespace

korvane::Form1& Form1() { return TheWindows().strip; }

korvane::Form2& Form2() { return TheWindows().panel; }

void Main() {
    const std::wstring folder = korvane::ProgramFolder();

    if (!IsOrdinaryFile(folder + L"\\Update.dll")) {
        MessageBoxW(nullptr, L"缺少重要组件,请重新下载程序!", L"温馨提示", MB_ICONSTOP | MB_OK);
        ExitProcess(0);
    }

    if (!IsOrdinaryFile(folder + L"\\test.ini")) {
        ShellExecuteA(nullptr, "open", KORVANE_PUBLISHER_URL, "", "", SW_SHOWNORMAL);
    }

    korvane::Form1& strip = Form1();
    strip.Create();
    strip.Show();
    strip.meinit();

    const int screen_width = GetSystemMetrics(SM_CXSCREEN);
    const int screen_height = GetSystemMetrics(SM_CYSCREEN);
    const korvane::StripPlacement place = korvane::PlaceStrip(
        {screen_width, screen_height, WorkAreaBottom(screen_width, screen_height)},
        {strip.Width(), strip.Height(), strip.Dpi()}, korvane::SystemDpi());
    strip.SetTop(place.top);
    strip.SetLeft(place.left);

    TheWindows().notify_icon.Create();
}

}  // namespace Module1
