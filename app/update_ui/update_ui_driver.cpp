// Test driver for the update check: runs UpdateCheck and FrmMsgbox through
// the steps given on its command line, in order, and prints what the user
// would see, one line per fact in UTF-8, for update_ui_wine_test.py. Steps:
// focus (a window "KorvaneFocus" takes the focus), waitfile:PATH, register,
// create, source (through the registration or from the library beside the
// driver), windows (the version the process sees), load:N (CheckAtLoad with
// Check1 = N), request, nest:N (N clicks on the link, each during the wait of
// the check the one before started: CLICKS N once the last has returned, then
// the dialog when the first check is over), waitclosed.

#include <windows.h>

#include <string>
#include <string_view>

#include "frm_msgbox.h"
#include "update_check.h"
#include "test_driver.h"
#include "win_handles.h"

namespace {

using korvane::FrmMsgbox;
using korvane::UniqueWindow;

constexpr DWORD kWaitLimitMs = 120000;

using korvane::testing::PrintLine;
using korvane::testing::PrintLineAndReturn;

// Line breaks written as \r and \n, so that a message stays on one line.
std::wstring Escaped(std::wstring_view text) {
    std::wstring out;
    for (wchar_t c : text) out += c == L'\r' ? L"\\r" : c == L'\n' ? L"\\n" : std::wstring(1, c);
    return out;
}

// Dispatches messages until done() or the limit.
template <class Done>
bool PumpUntil(Done done) {
    const ULONGLONG deadline = GetTickCount64() + kWaitLimitMs;
    while (!done()) {
        if (GetTickCount64() > deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

HWND g_focus_window = nullptr;

void ShowFocusWindow() {
    g_focus_window =
        korvane::testing::NewWindow(L"KorvaneFocus", DefWindowProcW, WS_OVERLAPPEDWINDOW, 0,
                                    {40, 40, 360, 240}, nullptr, GetSysColorBrush(COLOR_WINDOW));
    ShowWindow(g_focus_window, SW_SHOW);
    SetForegroundWindow(g_focus_window);
    SetFocus(g_focus_window);
    PumpUntil([] { return true; });
    PrintLine(L"FOCUS");
}

void PrintDialog() {
    FrmMsgbox& dialog = FrmMsgbox::Instance();
    if (!dialog.IsLoaded()) {
        PrintLine(L"DIALOG none");
        return;
    }
    PrintLine(L"DIALOG " + dialog.Caption());
    PrintLine(L"LABEL1 " + Escaped(dialog.Label1Caption()));
    PrintLine(L"BUTTON " + dialog.Command1Caption());
    PrintLine(L"TAG " + dialog.Label1Tag());
    const RECT button = dialog.Command1ScreenRect();
    PrintLine(L"BUTTONAT " + std::to_wstring((button.left + button.right) / 2) + L" " +
              std::to_wstring((button.top + button.bottom) / 2));
    const HWND foreground = GetForegroundWindow();
    PrintLine(std::wstring(L"FOREGROUND ") + (!foreground                    ? L"none"
                                              : foreground == dialog.hwnd()  ? L"dialog"
                                              : foreground == g_focus_window ? L"focus"
                                                                             : L"other"));
}

// RtlGetVersion: the version Windows (or Wine's setting) reports, whatever
// the manifest says.
void PrintWindowsVersion() {
    const auto rtl_get_version = korvane::testing::Export<LONG(WINAPI*)(OSVERSIONINFOW*)>(
        GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    PrintLine(L"WINDOWS " + (!rtl_get_version || rtl_get_version(&info) != 0
                                 ? std::wstring(L"unknown")
                                 : std::to_wstring(info.dwMajorVersion) + L"." +
                                       std::to_wstring(info.dwMinorVersion)));
}

// The clicks of nest:N: a message to a window of the driver stands for each
// click, posted before the check it starts, so that the wait of that check
// dispatches the next one.
constexpr UINT kClick = WM_APP;
korvane::UpdateCheck* g_check = nullptr;
int g_clicks_wanted = 0;
int g_clicks_made = 0;

LRESULT CALLBACK ClickWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kClick) return DefWindowProcW(window, message, wParam, lParam);
    const int click = ++g_clicks_made;
    if (click < g_clicks_wanted) PostMessageW(window, kClick, 0, 0);
    g_check->CheckOnRequest();
    if (click == g_clicks_wanted) PrintLine(L"CLICKS " + std::to_wstring(click));
    return 0;
}

void NestedClicks(korvane::UpdateCheck& check, int count) {
    const UniqueWindow window(
        korvane::testing::NewWindow(L"KorvaneClicks", ClickWindowProc, 0, 0, {}, HWND_MESSAGE));
    g_check = &check;
    g_clicks_wanted = count;
    g_clicks_made = 0;
    // The first click, and with it every nested one, runs here.
    SendMessageW(window.get(), kClick, 0, 0);
}

int Run(korvane::UpdateCheck& check, int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view step = argv[i];
        if (step == L"focus") {
            ShowFocusWindow();
        } else if (step.starts_with(L"waitfile:")) {
            const std::wstring path(step.substr(9));
            if (!PumpUntil(
                    [&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }))
                return PrintLineAndReturn(L"TIMEOUT", 1);
            PrintLine(L"GO");
        } else if (step == L"register") {
            check.StartRegistration();
            PrintLine(L"REGISTERING");
        } else if (step == L"create") {
            check.CreateDetector();
            PrintLine(L"CREATED");
        } else if (step == L"source") {
            PrintLine(check.CreatedThroughRegistration() ? L"SOURCE registration"
                                                         : L"SOURCE library");
        } else if (step == L"windows") {
            PrintWindowsVersion();
        } else if (step.starts_with(L"load:")) {
            check.CheckAtLoad(std::stoi(std::wstring(step.substr(5))),
                              [](const std::wstring& caption) { PrintLine(L"LABEL9 " + caption); });
            PrintDialog();
        } else if (step == L"request") {
            check.CheckOnRequest();
            PrintDialog();
        } else if (step.starts_with(L"nest:")) {
            NestedClicks(check, std::stoi(std::wstring(step.substr(5))));
            PrintDialog();
        } else if (step == L"waitclosed") {
            if (!PumpUntil([] { return !FrmMsgbox::Instance().IsLoaded(); }))
                return PrintLineAndReturn(L"TIMEOUT", 1);
            PrintLine(L"CLOSED");
        } else {
            return PrintLineAndReturn(L"UNKNOWN " + std::wstring(step), 2);
        }
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const korvane::ComApartment com;
    korvane::UpdateCheck check;
    const int status = Run(check, argc, argv);
    PrintLine(L"END");
    return status;
}
