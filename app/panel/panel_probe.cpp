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
//   panel_probe send MSG W L     sends the strip a message that Windows would
//                                send it (numbers as in C; L "session" is this
//                                probe's session, which is the strip's) and
//                                prints the strip's rectangle once it was handled:
//                                "LEFT TOP RIGHT BOTTOM"
//   panel_probe move X Y         moves the strip's top left corner to the pixel
//                                (X, Y) and prints its rectangle
//   panel_probe accessible       the strip's accessible object as a screen
//                                reader gets it: "ROLE STATE NAME"
//   panel_probe notify EVENT     sends the notification-area icon's window what
//                                the shell sends for EVENT (select, keyselect,
//                                contextmenu), anchored at the screen's bottom
//                                right corner
//   panel_probe namechanges      prints "name" for each name change that the
//                                strip announces to screen readers, "watching"
//                                once it listens, until stdin closes
// CLASS is the window class of the top-level window to look in: the panel's
// by default, "KorvaneFrmMsgbox" for the update notice.
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
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
DWORD g_main_thread = 0;

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

// Reads the commands from stdin while the window's thread pumps messages
// (the main thread's, without a window).
DWORD WINAPI ReadCommands(void* param) {
    const HWND window = static_cast<HWND>(param);
    const DWORD thread = window ? GetWindowThreadProcessId(window, nullptr) : g_main_thread;
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

// The strip's rectangle, printed after the strip has handled a message sent
// to it (MSG W L) or a move (X Y).
int SendToStrip(const Args& args) {
    const HWND strip = FindWindowW(L"KorvaneStrip", nullptr);
    if (!strip) return 1;
    const auto number = [](const wchar_t* text) { return std::wcstoll(text, nullptr, 0); };
    DWORD_PTR answer = 0;
    if (args.count == 3) {
        DWORD session = 0;
        const bool own = std::wcscmp(args[2], L"session") == 0;
        if (own) ProcessIdToSessionId(GetCurrentProcessId(), &session);
        if (!SendMessageTimeoutW(strip, static_cast<UINT>(number(args[0])),
                                 static_cast<WPARAM>(number(args[1])),
                                 own ? static_cast<LPARAM>(session) : number(args[2]), SMTO_NORMAL,
                                 10000, &answer)) {
            return 1;
        }
    } else if (!SetWindowPos(strip, nullptr, args.Int(0), args.Int(1), 0, 0,
                             SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE)) {
        return 1;
    }
    RECT rect{};
    GetWindowRect(strip, &rect);
    Print(std::to_wstring(rect.left) + L" " + std::to_wstring(rect.top) + L" " +
          std::to_wstring(rect.right) + L" " + std::to_wstring(rect.bottom));
    return 0;
}

// The strip's client object, read as a screen reader reads it, through the
// system's client side of the accessibility interfaces.
int Accessible(const Args&) {
    const HWND strip = FindWindowW(L"KorvaneStrip", nullptr);
    if (!strip || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(strip, static_cast<DWORD>(OBJID_CLIENT),
                                          __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object)))) {
        return 1;
    }
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT role{}, state{};
    BSTR name = nullptr;
    const bool read = SUCCEEDED(object->get_accRole(self, &role)) &&
                      SUCCEEDED(object->get_accState(self, &state)) &&
                      SUCCEEDED(object->get_accName(self, &name)) && role.vt == VT_I4 &&
                      state.vt == VT_I4;
    if (read) {
        Print(std::to_wstring(role.lVal) + L" " + std::to_wstring(state.lVal) + L" " +
              std::wstring(name ? name : L"", SysStringLen(name)));
    }
    SysFreeString(name);
    object->Release();
    return read ? 0 : 1;
}

HWND g_strip = nullptr;

void CALLBACK OnNameChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD,
                           DWORD) {
    if (window != g_strip || object != OBJID_CLIENT || child != CHILDID_SELF) return;
    PrintLine(L"name");
}

// Listens as a screen reader does, out of the strip's process.
int NameChanges(const Args&) {
    // The thread's message queue first: events that arrive before it exists
    // are dropped, and the first is due as soon as "watching" is read.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    g_strip = FindWindowW(L"KorvaneStrip", nullptr);
    DWORD process = 0;
    GetWindowThreadProcessId(g_strip, &process);
    const HWINEVENTHOOK hook =
        SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, OnNameChange,
                        process, 0, WINEVENT_OUTOFCONTEXT);
    if (!g_strip || !hook) return 1;
    PrintLine(L"watching");
    g_main_thread = GetCurrentThreadId();
    CloseHandle(CreateThread(nullptr, 0, ReadCommands, nullptr, 0, nullptr));
    korvane::testing::RunMessageLoop();
    UnhookWinEvent(hook);
    return 0;
}

// The icon's callback as the shell sends it with NOTIFYICON_VERSION_4: the
// event and the icon's id in lParam, the place to open a menu at in wParam.
int Notify(const Args& args) {
    constexpr UINT kCallbackMessage = WM_APP + 1;  // as the icon was added
    constexpr UINT kIconId = 1;
    const std::wstring event = args[0];
    UINT code = 0;
    if (event == L"select") code = NIN_SELECT;
    if (event == L"keyselect") code = NIN_KEYSELECT;
    if (event == L"contextmenu") code = WM_CONTEXTMENU;
    const HWND window = FindWindowW(L"KorvaneNotifyIcon", nullptr);
    if (!code || !window) return 1;
    const int x = GetSystemMetrics(SM_CXSCREEN) - 8;
    const int y = GetSystemMetrics(SM_CYSCREEN) - 8;
    return PostMessageW(window, kCallbackMessage, MAKEWPARAM(x, y), MAKELPARAM(code, kIconId)) ? 0
                                                                                               : 1;
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
            {L"send", 3, 3, SendToStrip},
            {L"move", 2, 2, SendToStrip},
            {L"accessible", 0, 0, Accessible},
            {L"namechanges", 0, 0, NameChanges},
            {L"notify", 1, 1, Notify},
        });
}
