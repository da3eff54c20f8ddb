// Form1 on a changing desktop: it goes back to start-up's place when a
// display, work-area or DPI change leaves it where no monitor shows it, and
// its timer rests while nobody can see it (the session locked or
// disconnected, or its display off).
#include "form1.h"

#include <wtsapi32.h>

#include "system_library.h"

namespace korvane {
namespace {

// The session registration can fail early at sign-in, before the services
// it needs have started: it is tried again a few times.
constexpr UINT_PTR kSessionRetryTimer = 2;
constexpr UINT kSessionRetryMs = 5000;
constexpr int kSessionTries = 6;

// The display's state for this session (Windows 8 on), and for the console
// where that one is missing. Written out: MinGW's are declared without a
// definition.
constexpr GUID kSessionDisplayStatus = {
    0x2b84c20e, 0xad23, 0x4ddf, {0x93, 0xdb, 0x05, 0xff, 0xbd, 0x7e, 0xfc, 0xa5}};
constexpr GUID kConsoleDisplayState = {
    0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};

// wtsapi32.dll from the system folder, looked up when first needed, so that
// no copy in the program's folder is ever loaded.
FARPROC SessionFunction(const char* name) {
    static const HMODULE wtsapi = LoadSystemLibrary(L"wtsapi32.dll");
    return wtsapi ? GetProcAddress(wtsapi, name) : nullptr;
}

}  // namespace

void Form1::WatchDesktop() {
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
        own_session_ = session;
        WatchSession();
    }
    for (const GUID* setting : {&kSessionDisplayStatus, &kConsoleDisplayState}) {
        display_notify_ =
            RegisterPowerSettingNotification(hwnd(), setting, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (display_notify_) {
            display_setting_ = *setting;
            break;
        }
    }
    unseen_.display_watched = display_notify_ != nullptr;
}

void Form1::WatchSession() {
    using RegisterFn = BOOL(WINAPI*)(HWND, DWORD);
    const auto register_session = reinterpret_cast<RegisterFn>(
        reinterpret_cast<void*>(SessionFunction("WTSRegisterSessionNotification")));
    if (!register_session) return;
    if (register_session(hwnd(), NOTIFY_FOR_THIS_SESSION)) {
        unseen_.session_watched = true;
        KillTimer(hwnd(), kSessionRetryTimer);
    } else if (++session_tries_ < kSessionTries) {
        SetTimer(hwnd(), kSessionRetryTimer, kSessionRetryMs, nullptr);
    } else {
        KillTimer(hwnd(), kSessionRetryTimer);
    }
}

void Form1::UnwatchDesktop() {
    KillTimer(hwnd(), kSessionRetryTimer);
    if (unseen_.session_watched) {
        using UnregisterFn = BOOL(WINAPI*)(HWND);
        const auto unregister_session = reinterpret_cast<UnregisterFn>(
            reinterpret_cast<void*>(SessionFunction("WTSUnRegisterSessionNotification")));
        if (unregister_session) unregister_session(hwnd());
    }
    if (display_notify_) UnregisterPowerSettingNotification(display_notify_);
    display_notify_ = nullptr;
    unseen_ = {};
}

bool Form1::OnDesktopMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    result = 0;
    switch (message) {
        case WM_TIMER:
            if (wparam != kSessionRetryTimer) return false;
            WatchSession();
            return true;
        case WM_WTSSESSION_CHANGE:
            unseen_.OnSessionChange(static_cast<std::uint32_t>(wparam),
                                    static_cast<std::uint32_t>(lparam), own_session_);
            ApplyTimer();
            return true;
        case WM_POWERBROADCAST: {
            if (wparam != PBT_POWERSETTINGCHANGE) return false;
            const auto* setting = reinterpret_cast<const POWERBROADCAST_SETTING*>(lparam);
            if (display_notify_ && setting && setting->PowerSetting == display_setting_ &&
                setting->DataLength >= sizeof(DWORD)) {
                DWORD state = 0;
                CopyMemory(&state, setting->Data, sizeof state);
                unseen_.OnDisplayState(state);
                ApplyTimer();
            }
            result = TRUE;
            return true;
        }
        case WM_DISPLAYCHANGE:
            DesktopChanged();
            return true;
        case WM_SETTINGCHANGE:
            if (wparam == SPI_SETWORKAREA) DesktopChanged();
            return false;
        default:
            return false;
    }
}

// A drag leaves the strip where the user lets go: a change that arrives
// meanwhile is looked at when the drag ends.
void Form1::DesktopChanged() {
    if (left_drag_ || middle_drag_grip_) {
        desktop_changed_in_drag_ = true;
    } else if (home_) {
        home_->ReturnIfLost();
    }
}

void Form1::DragEnded() {
    if (left_drag_ || middle_drag_grip_ || !desktop_changed_in_drag_) return;
    desktop_changed_in_drag_ = false;
    DesktopChanged();
}

}  // namespace korvane
