#include "text_box.h"

#include <richedit.h>
#include <windowsx.h>

#include <cwchar>

#include "system_library.h"

namespace korvane {
namespace {

// The context menu's commands.
enum MenuCommand : UINT { kUndo = 1, kCut, kCopy, kPaste, kDelete, kSelectAll };

// msftedit.dll from the system folder, loaded once for the process.
bool LoadRichEdit() {
    static const bool loaded = LoadSystemLibrary(L"msftedit.dll") != nullptr;
    return loaded;
}

// The clipboard, open while this lives, so that it is closed again however
// the code holding it ends.
class OpenClipboardScope {
public:
    explicit OpenClipboardScope(HWND owner) noexcept : open_(OpenClipboard(owner) != FALSE) {}
    OpenClipboardScope(const OpenClipboardScope&) = delete;
    OpenClipboardScope& operator=(const OpenClipboardScope&) = delete;
    ~OpenClipboardScope() {
        if (open_) CloseClipboard();
    }
    explicit operator bool() const noexcept { return open_; }

private:
    bool open_;
};

// A global memory block's contents, locked while this lives.
class GlobalLockScope {
public:
    explicit GlobalLockScope(HANDLE block) noexcept : block_(block), data_(GlobalLock(block)) {}
    GlobalLockScope(const GlobalLockScope&) = delete;
    GlobalLockScope& operator=(const GlobalLockScope&) = delete;
    ~GlobalLockScope() {
        if (data_) GlobalUnlock(block_);
    }
    const void* data() const noexcept { return data_; }

private:
    HANDLE block_;
    void* data_;
};

}  // namespace

HWND TextBox::Create(const CreateArgs& args) {
    kind_ = args.kind == Kind::kRichEdit && LoadRichEdit() ? Kind::kRichEdit : Kind::kPlainEdit;
    const bool rich = kind_ == Kind::kRichEdit;
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                  ES_WANTRETURN | args.extra_style;
    // The scroll bar stays, as the plain control's does; drops are refused.
    if (rich) style |= ES_DISABLENOSCROLL | ES_NOOLEDRAGDROP;
    const HWND control = CreateWindowExW(
        WS_EX_CLIENTEDGE, rich ? MSFTEDIT_CLASS : L"EDIT", L"", style, 0, 0, 0, 0, args.parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(args.id)), GetModuleHandleW(nullptr), nullptr);
    if (!control) return nullptr;
    if (rich) {
        // Plain text (no formatting, no pictures), set while the control is empty.
        SendMessageW(control, EM_SETTEXTMODE, TM_PLAINTEXT | TM_MULTILEVELUNDO | TM_MULTICODEPAGE,
                     0);
        SendMessageW(control, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
        // The panel's font wherever it has the characters; a script it lacks
        // (Arabic, Devanagari in a Chinese font) is shown in a font that has
        // it, at the panel font's size. No second font for ASCII.
        const LRESULT options = SendMessageW(control, EM_GETLANGOPTIONS, 0, 0);
        SendMessageW(control, EM_SETLANGOPTIONS, 0,
                     (options | IMF_AUTOFONT) & ~(IMF_AUTOFONTSIZEADJUST | IMF_DUALFONT));
    } else {
        SendMessageW(control, EM_SETLIMITTEXT, 0, 0);  // as long as memory allows
    }
    SubclassControl(control);
    return control;
}

bool TextBox::Modified() const { return SendMessageW(hwnd(), EM_GETMODIFY, 0, 0) != 0; }

std::wstring TextBox::Text() const {
    if (!Modified()) return set_text_;
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd())) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(hwnd(), text.data(), static_cast<int>(text.size()))));
    return text;
}

void TextBox::SetText(const std::wstring& text) {
    SetWindowTextW(hwnd(), text.c_str());
    SendMessageW(hwnd(), EM_SETMODIFY, FALSE, 0);
    set_text_ = text;
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
    return WindowBase::HandleMessage(message, wparam, lparam);
}

void TextBox::PastePlainText() {
    if (kind_ != Kind::kRichEdit) {
        WindowBase::HandleMessage(WM_PASTE, 0, 0);
        return;
    }
    // The clipboard's text alone, replacing the selection as one undo step.
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT)) return;
    std::wstring text;
    {
        const OpenClipboardScope clipboard(hwnd());
        if (!clipboard) return;
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            const GlobalLockScope locked(data);
            if (const auto* units = static_cast<const wchar_t*>(locked.data())) {
                text.assign(units, wcsnlen(units, GlobalSize(data) / sizeof(wchar_t)));
            }
        }
    }
    SendMessageW(hwnd(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

// The plain edit control's menu, with the same items and the same rules for
// which of them can be chosen.
void TextBox::ShowContextMenu(LPARAM where) {
    if (GetFocus() != hwnd()) SetFocus(hwnd());
    POINT at{GET_X_LPARAM(where), GET_Y_LPARAM(where)};
    if (at.x == -1 && at.y == -1) {  // from the keyboard (Shift+F10, the menu key): at the caret
        GetCaretPos(&at);
        ClientToScreen(hwnd(), &at);
    }
    DWORD start = 0, end = 0;
    SendMessageW(hwnd(), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    LONG_PTR length = GetWindowTextLengthW(hwnd());
    if (kind_ == Kind::kRichEdit) {
        GETTEXTLENGTHEX how{GTL_NUMCHARS | GTL_PRECISE, 1200};
        length = SendMessageW(hwnd(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how), 0);
    }
    const bool writable = (GetWindowLongW(hwnd(), GWL_STYLE) & ES_READONLY) == 0;
    const bool selected = start != end;
    const auto flag = [](bool enabled) { return MF_STRING | (enabled ? MF_ENABLED : MF_GRAYED); };
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, flag(writable && SendMessageW(hwnd(), EM_CANUNDO, 0, 0)), kUndo, L"撤销(&U)");
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
        menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd(), nullptr));
    DestroyMenu(menu);
    switch (command) {
        case kUndo:
            SendMessageW(hwnd(), EM_UNDO, 0, 0);
            break;
        case kCut:
            SendMessageW(hwnd(), WM_CUT, 0, 0);
            break;
        case kCopy:
            SendMessageW(hwnd(), WM_COPY, 0, 0);
            break;
        case kPaste:
            PastePlainText();
            break;
        case kDelete:
            SendMessageW(hwnd(), WM_CLEAR, 0, 0);
            break;
        case kSelectAll:
            SendMessageW(hwnd(), EM_SETSEL, 0, -1);
            break;
        default:
            break;
    }
}

}  // namespace korvane
