// Test helper: reads the running panel's controls from outside and prints
// the answer as UTF-8.
//   panel_probe visible        1 shown, 0 hidden, none when not created
//   panel_probe text ID        a control's text
//   panel_probe value ID       a check box's state or a slider's position
//   panel_probe focus          the id of the panel's control that has the focus
//   panel_probe hold PATH      holds PATH open for writing, as an editor or a
//                              logger does, until stdin closes
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "utf8_output.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0) {
        const HANDLE file = CreateFileA(argv[2], GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 1;
        std::printf("held\n");
        std::fflush(stdout);
        std::getchar();
        CloseHandle(file);
        return 0;
    }
    const HWND panel = FindWindowW(L"KorvanePanel", nullptr);
    const std::string what = argv[1];
    if (what == "visible") {
        std::printf("%s", !panel ? "none" : IsWindowVisible(panel) ? "1" : "0");
        return 0;
    }
    if (!panel) return 1;
    if (what == "focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(panel, nullptr), &info);
        std::printf("%d", info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0);
        return 0;
    }
    if (argc < 3) return 1;
    const HWND control = GetDlgItem(panel, std::atoi(argv[2]));
    if (!control) return 1;
    if (what == "text") {
        const LRESULT length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        text.resize(
            SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
        const std::string utf8 = korvane::testing::Utf8(text);
        std::fwrite(utf8.data(), 1, utf8.size(), stdout);
        return 0;
    }
    if (what == "value") {
        wchar_t cls[64] = {};
        GetClassNameW(control, cls, 64);
        const bool slider = std::wcscmp(cls, TRACKBAR_CLASSW) == 0;
        std::printf("%ld", static_cast<long>(
                               SendMessageW(control, slider ? TBM_GETPOS : BM_GETCHECK, 0, 0)));
        return 0;
    }
    return 2;
}
