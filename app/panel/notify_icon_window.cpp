// The notification-area icon's hidden window: the icon, its tip (the start of
// the caption) and its menu, opened from the keyboard as from the mouse.
#include "notify_icon_window.h"

#include <windowsx.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "caption_name.h"
#include "form1.h"
#include "form2.h"
#include "program_end.h"
#include "scroll_engine.h"

namespace korvane {
namespace {

constexpr wchar_t kClassName[] = L"KorvaneNotifyIcon";
constexpr UINT kIconId = 1;
// What the shell sends for the icon: the event in the low word of lParam,
// the place to open the menu at in wParam.
constexpr UINT kCallbackMessage = WM_APP + 1;
enum MenuCommand : int { kPanelCommand = 1, kPlayCommand, kPauseCommand };
constexpr wchar_t kTipPrefix[] = L"Korvane: ";

}  // namespace

NotifyIconWindow::NotifyIconWindow(Form1& strip, Form2& panel) : strip_(strip), panel_(panel) {}

void NotifyIconWindow::Create() {
    RegisterClassOnce(kClassName);
    CreateArgs args;
    args.class_name = kClassName;
    args.style = WS_POPUP;
    args.ex_style = WS_EX_TOOLWINDOW;
    // A top-level window, never shown: a message-only window would not hear
    // the shell's broadcast when the taskbar is created again.
    CreateWindowFor(args);
    if (!hwnd()) return;
    // The shell's message reaches a copy that runs elevated only when let in.
    taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
    if (taskbar_created_) {
        ChangeWindowMessageFilterEx(hwnd(), taskbar_created_, MSGFLT_ALLOW, nullptr);
    }
    strip_.OnCaptionTextChanged([this] { UpdateTip(); });
    AtProgramEnd([this] { Remove(); });
    Add();
}

NOTIFYICONDATAW NotifyIconWindow::IconData(UINT flags) const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = hwnd();
    data.uID = kIconId;
    data.uFlags = flags;
    data.uCallbackMessage = kCallbackMessage;
    data.hIcon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    // "Korvane: " and as much of the caption's start as the tip holds.
    const std::size_t room = std::size(data.szTip) - 1;
    std::wstring tip = kTipPrefix;
    tip += CaptionName(strip_.CaptionText(), room - tip.size());
    std::copy(tip.begin(), tip.end(), data.szTip);
    return data;
}

// Also each time the taskbar announces itself: after Explorer restarted it
// has forgotten every icon; after a change of DPI it may still show this one,
// which is then only brought up to date.
void NotifyIconWindow::Add() {
    NOTIFYICONDATAW data = IconData(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    added_ =
        Shell_NotifyIconW(NIM_ADD, &data) != FALSE || Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    if (!added_) return;
    // Version 4: Enter or Space on the icon sends NIN_KEYSELECT, a click
    // NIN_SELECT, Shift+F10, the menu key or a right-click WM_CONTEXTMENU.
    data.uVersion = NOTIFYICON_VERSION_4;
    Shell_NotifyIconW(NIM_SETVERSION, &data);
}

void NotifyIconWindow::Remove() {
    if (!added_) return;
    NOTIFYICONDATAW data = IconData(0);
    Shell_NotifyIconW(NIM_DELETE, &data);
    added_ = false;
}

void NotifyIconWindow::UpdateTip() {
    if (!added_) return;
    NOTIFYICONDATAW data = IconData(NIF_TIP | NIF_SHOWTIP);
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void NotifyIconWindow::ShowMenu(POINT at) {
    // Enter on the icon may come as two NIN_KEYSELECTs; the second arrives
    // while the first one's menu is open.
    if (menu_open_) return;
    const HMENU menu = CreatePopupMenu();
    if (!menu) return;
    const auto enabled = [](bool on) { return MF_STRING | (on ? MF_ENABLED : MF_GRAYED); };
    AppendMenuW(menu, MF_STRING, kPanelCommand, L"控制面板");
    AppendMenuW(menu, enabled(panel_.PlayEnabled()), kPlayCommand, L"播放");
    AppendMenuW(menu, enabled(panel_.PauseEnabled()), kPauseCommand, L"暂停");
    menu_open_ = true;
    // The menu takes the keyboard, and closes on a click elsewhere, only
    // while its owner is the foreground window.
    SetForegroundWindow(hwnd());
    const UINT align = GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
    TrackPopupMenu(menu, align | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd(), nullptr);
    // Lets the foreground move on, so that the menu opens again next time.
    PostMessageW(hwnd(), WM_NULL, 0, 0);
    DestroyMenu(menu);
    menu_open_ = false;
}

void NotifyIconWindow::OnCommand(int id) {
    switch (id) {
        case kPanelCommand:
            // As a right-click on the strip outside the caption.
            strip_.Image1_MouseUp(kRightButton, 0, 0.0f, 0.0f);
            break;
        case kPlayCommand:
            panel_.PressPlay();
            break;
        case kPauseCommand:
            panel_.PressPause();
            break;
        default:
            break;
    }
}

LRESULT NotifyIconWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kCallbackMessage) {
        switch (LOWORD(lparam)) {
            case NIN_SELECT:
            case NIN_KEYSELECT:
            case WM_CONTEXTMENU:
                ShowMenu(POINT{GET_X_LPARAM(wparam), GET_Y_LPARAM(wparam)});
                break;
            default:
                break;
        }
        return 0;
    }
    if (taskbar_created_ && message == taskbar_created_) {
        Add();
        return 0;
    }
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wparam) == 0) OnCommand(LOWORD(wparam));
            return 0;
        case WM_DESTROY:
            Remove();
            return 0;
        default:
            return WindowBase::HandleMessage(message, wparam, lparam);
    }
}

}  // namespace korvane
