#include "text_box.h"

#include <richedit.h>

#include <cwchar>

namespace korvane {
namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// The context menu's commands.
enum MenuCommand : UINT { kUndo = 1, kCut, kCopy, kPaste, kDelete, kSelectAll };

// msftedit.dll from the system folder, loaded once for the process. Windows 7
// without KB2533623 refuses the search flag; the full path does the same.
bool LoadRichEdit() {
    static const bool loaded = [] {
        if (LoadLibraryExW(L"msftedit.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
        wchar_t path[MAX_PATH];
        const UINT length = GetSystemDirectoryW(path, MAX_PATH);
        if (length == 0 || length + 14 >= MAX_PATH) return false;
        lstrcpyW(path + length, L"\\msftedit.dll");
        return LoadLibraryW(path) != nullptr;
    }();
    return loaded;
}

constexpr wchar_t kPropName[] = L"KorvaneTextBox";

}  // namespace

HWND TextBox::Create(const CreateArgs& args) {
    kind_ = args.kind == Kind::kRichEdit && LoadRichEdit() ? Kind::kRichEdit : Kind::kPlainEdit;
    const bool rich = kind_ == Kind::kRichEdit;
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                  ES_WANTRETURN | args.extra_style;
    // The scroll bar stays, as the plain control's does; drops are refused.
    if (rich) style |= ES_DISABLENOSCROLL | ES_NOOLEDRAGDROP;
    hwnd_ = CreateWindowExW(WS_EX_CLIENTEDGE, rich ? MSFTEDIT_CLASS : L"EDIT", L"", style, 0, 0, 0,
                            0, args.parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(args.id)),
                            GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_) return nullptr;
    if (rich) {
        // Plain text (one font, no pictures), set while the control is empty.
        SendMessageW(hwnd_, EM_SETTEXTMODE, TM_PLAINTEXT | TM_MULTILEVELUNDO | TM_MULTICODEPAGE, 0);
        SendMessageW(hwnd_, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
        // Keep the panel's font for every script and for typed input.
        const LRESULT options = SendMessageW(hwnd_, EM_GETLANGOPTIONS, 0, 0);
        SendMessageW(hwnd_, EM_SETLANGOPTIONS, 0,
                     options & ~(IMF_AUTOFONT | IMF_AUTOFONTSIZEADJUST | IMF_DUALFONT));
    } else {
        SendMessageW(hwnd_, EM_SETLIMITTEXT, 0, 0);  // as long as memory allows
    }
    SetPropW(hwnd_, kPropName, this);
    control_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TextBox::Proc)));
    return hwnd_;
}

bool TextBox::Modified() const { return SendMessageW(hwnd_, EM_GETMODIFY, 0, 0) != 0; }

std::wstring TextBox::Text() const {
    if (!Modified()) return set_text_;
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd_)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(hwnd_, text.data(), static_cast<int>(text.size()))));
    return text;
}

void TextBox::SetText(const std::wstring& text) {
    SetWindowTextW(hwnd_, text.c_str());
    SendMessageW(hwnd_, EM_SETMODIFY, FALSE, 0);
    set_text_ = text;
}

LRESULT CALLBACK TextBox::Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = static_cast<TextBox*>(GetPropW(hwnd, kPropName));
    if (message == WM_NCDESTROY) {
        RemovePropW(hwnd, kPropName);
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->control_proc_));
        self->hwnd_ = nullptr;
        return CallWindowProcW(self->control_proc_, hwnd, message, wparam, lparam);
    }
    return self->HandleMessage(message, wparam, lparam);
}

LRESULT TextBox::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    const bool rich = kind_ == Kind::kRichEdit;
    switch (message) {
        case WM_CONTEXTMENU:
            ShowContextMenu(lparam);
            return 0;
        case WM_PASTE:
            if (rich) {
                PastePlainText();
                return 0;
            }
            break;
        case WM_KEYDOWN: {
            // Ctrl+V and Shift+Insert paste text alone, as the menu does.
            const bool ctrl = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
            const bool alt = GetKeyState(VK_MENU) < 0;
            if (rich && !alt &&
                ((ctrl && !shift && wparam == 'V') || (shift && !ctrl && wparam == VK_INSERT))) {
                PastePlainText();
                return 0;
            }
            break;
        }
        default:
            break;
    }
    return CallWindowProcW(control_proc_, hwnd_, message, wparam, lparam);
}

void TextBox::PastePlainText() {
    if (kind_ != Kind::kRichEdit) {
        CallWindowProcW(control_proc_, hwnd_, WM_PASTE, 0, 0);
        return;
    }
    // The clipboard's text alone, replacing the selection as one undo step.
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !OpenClipboard(hwnd_)) return;
    std::wstring text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* units = static_cast<const wchar_t*>(GlobalLock(data))) {
            text.assign(units, wcsnlen(units, GlobalSize(data) / sizeof(wchar_t)));
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    SendMessageW(hwnd_, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

// The plain edit control's menu, with the same items and the same rules for
// which of them can be chosen.
void TextBox::ShowContextMenu(LPARAM where) {
    if (GetFocus() != hwnd_) SetFocus(hwnd_);
    POINT at{static_cast<short>(LOWORD(where)), static_cast<short>(HIWORD(where))};
    if (where == -1) {  // from the keyboard: at the caret
        GetCaretPos(&at);
        ClientToScreen(hwnd_, &at);
    }
    DWORD start = 0, end = 0;
    SendMessageW(hwnd_, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    LONG_PTR length = GetWindowTextLengthW(hwnd_);
    if (kind_ == Kind::kRichEdit) {
        GETTEXTLENGTHEX how{GTL_NUMCHARS | GTL_PRECISE, 1200};
        length = SendMessageW(hwnd_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how), 0);
    }
    const bool writable = (GetWindowLongW(hwnd_, GWL_STYLE) & ES_READONLY) == 0;
    const bool selected = start != end;
    const auto flag = [](bool enabled) { return MF_STRING | (enabled ? MF_ENABLED : MF_GRAYED); };
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, flag(writable && SendMessageW(hwnd_, EM_CANUNDO, 0, 0)), kUndo, L"撤销(&U)");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, flag(writable && selected), kCut, L"剪切(&T)");
    AppendMenuW(menu, flag(selected), kCopy, L"复制(&C)");
    AppendMenuW(menu, flag(writable && IsClipboardFormatAvailable(CF_UNICODETEXT)), kPaste,
                L"粘贴(&P)");
    AppendMenuW(menu, flag(writable && selected), kDelete, L"删除(&D)");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, flag(length > 0 && (start > 0 || static_cast<LONG_PTR>(end) < length)),
                kSelectAll, L"全选(&A)");
    const UINT command = static_cast<UINT>(TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd_, nullptr));
    DestroyMenu(menu);
    switch (command) {
        case kUndo:
            SendMessageW(hwnd_, EM_UNDO, 0, 0);
            break;
        case kCut:
            SendMessageW(hwnd_, WM_CUT, 0, 0);
            break;
        case kCopy:
            SendMessageW(hwnd_, WM_COPY, 0, 0);
            break;
        case kPaste:
            PastePlainText();
            break;
        case kDelete:
            SendMessageW(hwnd_, WM_CLEAR, 0, 0);
            break;
        case kSelectAll:
            SendMessageW(hwnd_, EM_SETSEL, 0, -1);
            break;
        default:
            break;
    }
}

}  // namespace korvane
