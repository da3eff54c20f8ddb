// Test helper: text_box_probe rich|plain shows a text box as Text1 makes it,
// alone in a window "TextBoxProbe", the caret after its text; prints "focus"
// once the box has the keyboard, then "menu X Y caret X Y items N" (screen
// pixels) for the first context menu that opens, and closes it ("no menu"
// when none opened within 20 s).
#include <windows.h>

#include <string>
#include <string_view>

#include "text_box.h"
#include "test_driver.h"

namespace {

using korvane::testing::PrintLine;

constexpr UINT_PTR kTimer = 1;
constexpr DWORD kMenuDeadlineMs = 20000;
DWORD started = 0;
HWND edit = nullptr;
bool focused = false;

// The caret in screen pixels, as the system keeps it for the thread.
POINT CaretOnScreen() {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetCurrentThreadId(), &info);
    POINT at{info.rcCaret.left, info.rcCaret.top};
    ClientToScreen(info.hwndCaret, &at);
    return at;
}

// Every 50 ms: the focus, then the menu.
void CALLBACK OnTimer(HWND frame, UINT, UINT_PTR id, DWORD) {
    if (GetTickCount() - started > kMenuDeadlineMs) {
        PrintLine(L"no menu");
        KillTimer(frame, id);
        PostQuitMessage(1);
        return;
    }
    if (!focused && GetForegroundWindow() == frame && GetFocus() == edit) {
        focused = true;
        PrintLine(L"focus");
    }
    // Runs inside the menu's own message loop once the menu is open.
    const HWND menu = FindWindowW(L"#32768", nullptr);
    if (menu && IsWindowVisible(menu)) {
        RECT rect{};
        GetWindowRect(menu, &rect);
        const POINT caret = CaretOnScreen();
        const HMENU items = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
        PrintLine(L"menu " + std::to_wstring(rect.left) + L" " + std::to_wstring(rect.top) +
                  L" caret " + std::to_wstring(caret.x) + L" " + std::to_wstring(caret.y) +
                  L" items " + std::to_wstring(items ? GetMenuItemCount(items) : -1));
        KillTimer(frame, id);
        EndMenu();
        PostQuitMessage(0);
    }
}

// The frame hands the keyboard on to the box whenever it gets it.
LRESULT CALLBACK FrameProc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_SETFOCUS && edit) {
        SetFocus(edit);
        return 0;
    }
    return DefWindowProcW(frame, message, wparam, lparam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool rich = argc < 2 || std::wstring_view(argv[1]) != L"plain";
    const HWND frame = korvane::testing::NewWindow(
        L"TextBoxProbe", FrameProc, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, {100, 100, 500, 300});
    korvane::TextBox box;
    edit =
        box.Create({frame, 101,
                    rich ? korvane::TextBox::Kind::kRichEdit : korvane::TextBox::Kind::kPlainEdit});
    if (!frame || !edit) return 2;
    MoveWindow(edit, 20, 30, 300, 100, TRUE);
    box.SetText(L"abc def");
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 7, 7);
    started = GetTickCount();
    SetTimer(frame, kTimer, 50, OnTimer);
    return korvane::testing::RunMessageLoop();
}
