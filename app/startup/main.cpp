// Entry point: the start-up routine, then the message loop.
#include <windows.h>

#include "detection_contract.h"
#include "module1.h"
#include "win_handles.h"
#include "window_base.h"

namespace {

// DLLs that are loaded by name come from the system folder (and folders
// added on purpose) only, never from the current folder or the program's
// folder. Windows 7 without KB2533623 lacks the call: there the current
// folder at least leaves the search.
void RestrictDllSearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (!set_default ||
        !set_default(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS)) {
        SetDllDirectoryW(L"");
    }
}

// While the update check waits for the network it dispatches messages itself
// and offers each one here first: the panel's dialog keys (Tab, arrows,
// Enter) keep working as in the message loop below.
LRESULT CALLBACK WaitMessageFilter(int code, WPARAM wparam, LPARAM lparam) {
    if (code == korvane::detection::kWaitMessageFilter &&
        Module1::Form2().TranslateDialogMessage(*reinterpret_cast<MSG*>(lparam))) {
        return TRUE;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    // COM on this, the user-interface thread, before anything calls the shell.
    const korvane::ComApartment com;
    const korvane::UniqueHook wait_filter(
        SetWindowsHookExW(WH_MSGFILTER, WaitMessageFilter, nullptr, GetCurrentThreadId()));
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
