// Entry point: the start-up routine, then the message loop.
#include <windows.h>

#include "module1.h"
#include "win_handles.h"
#include "window_base.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // COM on this, the user-interface thread, before anything calls the shell.
    const korvane::ComApartment com;
    try {
        Module1::Main();
    } catch (...) {
        korvane::FailFatally(L"程序启动失败。");
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (Module1::Form2().TranslateDialogMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
