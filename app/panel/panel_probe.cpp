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
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "utf8_output.h"

namespace {

constexpr UINT kRaise = WM_APP + 1;
DWORD g_main_thread = 0;

void Print(const std::wstring& text) {
    const std::string utf8 = korvane::testing::Utf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

std::wstring TextOf(HWND window) {
    const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(
        SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
    return text;
}

HWND TopLevel(int argc, char** argv, int class_arg) {
    const std::string cls = argc > class_arg ? argv[class_arg] : "KorvanePanel";
    return FindWindowA(cls.c_str(), nullptr);
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

HWND OwnedDialog(HWND owner) {
    OwnedSearch search{owner, nullptr};
    EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
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

int EndSession(HWND panel) {
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
    std::printf("%s", agreed ? "ended" : "refused");
    return 0;
}

int Hold(const char* path) {
    const HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::printf("held\n");
    std::fflush(stdout);
    std::getchar();
    CloseHandle(file);
    return 0;
}

void RaiseTopmost(HWND window) {
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

LRESULT CALLBACK TopmostProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kRaise) {
        RaiseTopmost(window);
        std::printf("raised\n");
        std::fflush(stdout);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// Reads the commands from stdin while the window's thread pumps messages
// (the calling thread's, without a window).
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

int ShowTopmost(int x, int y, int width, int height) {
    WNDCLASSW cls{};
    cls.lpfnWndProc = TopmostProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.hbrBackground = CreateSolidBrush(RGB(255, 0, 255));
    cls.lpszClassName = L"KorvaneTestTopmost";
    if (!RegisterClassW(&cls)) return 1;
    const HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE,
                                        cls.lpszClassName, L"topmost", WS_POPUP, x, y, width,
                                        height, nullptr, nullptr, cls.hInstance, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    RaiseTopmost(window);
    std::printf("shown\n");
    std::fflush(stdout);
    CloseHandle(CreateThread(nullptr, 0, ReadCommands, window, 0, nullptr));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}

// The strip's client object, read as a screen reader reads it, through the
// system's client side of the accessibility interfaces.
int Accessible() {
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
        std::printf("%ld %ld ", static_cast<long>(role.lVal), static_cast<long>(state.lVal));
        Print(std::wstring(name ? name : L"", SysStringLen(name)));
    }
    SysFreeString(name);
    object->Release();
    return read ? 0 : 1;
}

HWND g_strip = nullptr;

void CALLBACK OnNameChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD,
                           DWORD) {
    if (window != g_strip || object != OBJID_CLIENT || child != CHILDID_SELF) return;
    std::printf("name\n");
    std::fflush(stdout);
}

// Listens as a screen reader does, out of the strip's process.
int NameChanges() {
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
    std::printf("watching\n");
    std::fflush(stdout);
    CloseHandle(CreateThread(nullptr, 0, ReadCommands, nullptr, 0, nullptr));
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    UnhookWinEvent(hook);
    return 0;
}

// The icon's callback as the shell sends it with NOTIFYICON_VERSION_4: the
// event and the icon's id in lParam, the place to open a menu at in wParam.
int Notify(const std::string& event) {
    constexpr UINT kCallbackMessage = WM_APP + 1;  // as the icon was added
    constexpr UINT kIconId = 1;
    UINT code = 0;
    if (event == "select") code = NIN_SELECT;
    if (event == "keyselect") code = NIN_KEYSELECT;
    if (event == "contextmenu") code = WM_CONTEXTMENU;
    const HWND window = FindWindowW(L"KorvaneNotifyIcon", nullptr);
    if (!code || !window) return 1;
    const int x = GetSystemMetrics(SM_CXSCREEN) - 8;
    const int y = GetSystemMetrics(SM_CYSCREEN) - 8;
    return PostMessageW(window, kCallbackMessage, MAKEWPARAM(x, y), MAKELPARAM(code, kIconId)) ? 0
                                                                                               : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    // Texts go out as they are: a CR LF inside one stays CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string what = argv[1];
    if (what == "hold" && argc == 3) return Hold(argv[2]);
    if (what == "topmost" && argc == 6) {
        return ShowTopmost(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                           std::atoi(argv[5]));
    }
    g_main_thread = GetCurrentThreadId();
    if (what == "accessible") return Accessible();
    if (what == "namechanges") return NameChanges();
    if (what == "notify" && argc == 3) return Notify(argv[2]);
    if (what == "visible") {
        const HWND window = TopLevel(argc, argv, 2);
        std::printf("%s", !window ? "none" : IsWindowVisible(window) ? "1" : "0");
        return 0;
    }
    const HWND panel = TopLevel(argc, argv, what == "text" ? 3 : argc);
    if (!panel) return 1;
    if (what == "focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(panel, nullptr), &info);
        std::printf("%d", info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0);
        return 0;
    }
    if (what == "endsession") return EndSession(panel);
    if (what == "dialog") {
        const HWND dialog = OwnedDialog(panel);
        if (dialog) {
            Print(TextOf(dialog));
        } else {
            std::printf("none");
        }
        return 0;
    }
    if (argc < 3) return 1;
    const HWND control = GetDlgItem(panel, std::atoi(argv[2]));
    if (!control) return 1;
    if (what == "text") {
        Print(TextOf(control));
        return 0;
    }
    if (what == "enabled") {
        std::printf("%d", IsWindowEnabled(control) ? 1 : 0);
        return 0;
    }
    if (what == "value") {
        wchar_t cls[64] = {};
        GetClassNameW(control, cls, 64);
        UINT message = BM_GETCHECK;
        if (std::wcscmp(cls, TRACKBAR_CLASSW) == 0) message = TBM_GETPOS;
        if (std::wcscmp(cls, WC_TABCONTROLW) == 0) message = TCM_GETCURSEL;
        std::printf("%ld", static_cast<long>(SendMessageW(control, message, 0, 0)));
        return 0;
    }
    return 2;
}
