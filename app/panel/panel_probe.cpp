// Test helper: reads the running panel's controls from outside and prints
// the answer as UTF-8, byte for byte.
//   panel_probe visible [CLASS]  1 shown, 0 hidden, none when not created
//   panel_probe text ID [CLASS]  a control's text
//   panel_probe value ID         a check box's state, a slider's position or
//                                the tab control's page
//   panel_probe enabled ID       1 when a control is enabled, 0 when not
//   panel_probe focus            the id of the panel's control that has the focus
//   panel_probe dialog           the title of the window that the panel is
//                                waiting on (an open, font or colour dialog,
//                                a message box), none when there is none
//   panel_probe endsession       ends the session for the panel's program as
//                                signing out does: WM_QUERYENDSESSION to each
//                                of its top-level windows, then WM_ENDSESSION;
//                                prints "refused" when one of them refuses
//   panel_probe hold PATH        holds PATH open for writing, as an editor or a
//                                logger does, until stdin closes
//   panel_probe topmost X Y W H  shows a magenta always-on-top window at that
//                                pixel rectangle, as another program's topmost
//                                window would; prints "shown", puts itself at
//                                the top of the topmost band again on each line
//                                "raise" read from stdin (printing "raised"),
//                                and ends when stdin closes
// CLASS is the window class of the top-level window to look in: the panel's
// by default, "KorvaneFrmMsgbox" for the update notice.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "test_driver.h"

namespace {

using korvane::testing::Args;
using korvane::testing::Print;
using korvane::testing::PrintLine;

constexpr UINT kRaise = WM_APP + 1;

std::wstring TextOf(HWND window) {
    const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(
        SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
    return text;
}

// Runs `read` on the top-level window of class `cls` (the panel's unless
// given); 1 when there is none.
int OnPanel(const std::function<void(HWND)>& read, const wchar_t* cls = nullptr) {
    const HWND panel = FindWindowW(cls ? cls : L"KorvanePanel", nullptr);
    if (!panel) return 1;
    read(panel);
    return 0;
}

// Runs `read` on the control whose id is the first argument; 1 when there
// is none.
int OnControl(const Args& args, const std::function<void(HWND)>& read,
              const wchar_t* cls = nullptr) {
    int found = 1;
    OnPanel(
        [&](HWND panel) {
            const HWND control = GetDlgItem(panel, args.Int(0));
            if (control) read(control);
            found = control ? 0 : 1;
        },
        cls);
    return found;
}

void PrintValue(HWND control) {
    wchar_t cls[64] = {};
    GetClassNameW(control, cls, 64);
    UINT message = BM_GETCHECK;
    if (std::wcscmp(cls, TRACKBAR_CLASSW) == 0) message = TBM_GETPOS;
    if (std::wcscmp(cls, WC_TABCONTROLW) == 0) message = TCM_GETCURSEL;
    Print(std::to_wstring(SendMessageW(control, message, 0, 0)));
}

void PrintFocus(HWND panel) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(panel, nullptr), &info);
    Print(std::to_wstring(info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0));
}

// The visible top-level window that `owner` owns: a modal dialog is owned by
// the window it disables.
struct OwnedSearch {
    HWND owner;
    HWND found;
};

// A named callback: a lambda has no stdcall conversion on 32-bit Windows.
BOOL CALLBACK FindOwned(HWND window, LPARAM param) {
    auto* s = reinterpret_cast<OwnedSearch*>(param);
    if (GetWindow(window, GW_OWNER) != s->owner || !IsWindowVisible(window)) return TRUE;
    s->found = window;
    return FALSE;
}

void PrintDialog(HWND owner) {
    OwnedSearch search{owner, nullptr};
    EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&search));
    Print(search.found ? TextOf(search.found) : L"none");
}

// Signing out: every top-level window of the program is asked, then told.
struct ProcessWindows {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM param) {
    auto* w = reinterpret_cast<ProcessWindows*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == w->process) w->found.push_back(window);
    return TRUE;
}

void EndSession(HWND panel) {
    ProcessWindows windows{0, {}};
    GetWindowThreadProcessId(panel, &windows.process);
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&windows));
    constexpr UINT kWait = 5000;
    bool agreed = true;
    for (const HWND window : windows.found) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, kWait,
                            &answer);
        agreed = agreed && answer != 0;
    }
    for (const HWND window : windows.found) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_ENDSESSION, agreed, ENDSESSION_LOGOFF, SMTO_NORMAL, kWait,
                            &answer);
    }
    Print(agreed ? L"ended" : L"refused");
}

void RaiseTopmost(HWND window) {
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

LRESULT CALLBACK TopmostProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kRaise) {
        RaiseTopmost(window);
        PrintLine(L"raised");
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// Reads the commands from stdin while the window's thread pumps messages.
DWORD WINAPI ReadCommands(void* param) {
    const HWND window = static_cast<HWND>(param);
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strncmp(line, "raise", 5) == 0) PostMessageW(window, kRaise, 0, 0);
    }
    PostThreadMessageW(thread, WM_QUIT, 0, 0);
    return 0;
}

int ShowTopmost(const Args& args) {
    const int x = args.Int(0), y = args.Int(1);
    const HWND window = korvane::testing::NewWindow(
        L"KorvaneTestTopmost", TopmostProc, WS_POPUP,
        WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE,
        {x, y, x + args.Int(2), y + args.Int(3)}, nullptr, CreateSolidBrush(RGB(255, 0, 255)));
    if (!window) return 1;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    RaiseTopmost(window);
    PrintLine(L"shown");
    CloseHandle(CreateThread(nullptr, 0, ReadCommands, window, 0, nullptr));
    korvane::testing::RunMessageLoop();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    return korvane::testing::RunCommand(
        argc, argv,
        {
            {L"visible", 0, 1,
             [](const Args& args) {
                 if (OnPanel([](HWND w) { Print(IsWindowVisible(w) ? L"1" : L"0"); }, args[0]))
                     Print(L"none");
                 return 0;
             }},
            {L"text", 1, 2,
             [](const Args& args) {
                 return OnControl(
                     args, [](HWND c) { Print(TextOf(c)); }, args[1]);
             }},
            {L"value", 1, 1, [](const Args& args) { return OnControl(args, PrintValue); }},
            {L"enabled", 1, 1,
             [](const Args& args) {
                 return OnControl(args, [](HWND c) { Print(IsWindowEnabled(c) ? L"1" : L"0"); });
             }},
            {L"focus", 0, 0, [](const Args&) { return OnPanel(PrintFocus); }},
            {L"dialog", 0, 0, [](const Args&) { return OnPanel(PrintDialog); }},
            {L"endsession", 0, 0, [](const Args&) { return OnPanel(EndSession); }},
            {L"hold", 1, 1,
             [](const Args& args) {
                 return korvane::testing::HoldFile(
                     args[0], GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
             }},
            {L"topmost", 4, 4, ShowTopmost},
        });
}
