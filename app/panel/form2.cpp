// Form2's window: creating it and its controls, message routing and the
// keyboard order.
#include "form2.h"

#include <windowsx.h>
#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "dpi.h"
#include "form2_style.h"
#include "twips.h"
#include "wide_text.h"

namespace korvane {
namespace {

constexpr wchar_t kClassName[] = L"KorvanePanel";
constexpr wchar_t kTitle[] = L"Korvanev1.0";

}  // namespace

using namespace form2_style;

Form2::Form2(Form1& strip) : strip_(strip) {}

void Form2::CreateWindowAndControls() {
    static bool common_controls = [] {
        INITCOMMONCONTROLSEX icc{sizeof icc,
                                 ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
        return InitCommonControlsEx(&icc) != FALSE;
    }();
    (void)common_controls;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterClassOnce(kClassName, LoadIconW(instance, MAKEINTRESOURCEW(1)));
    const unsigned system_dpi = SystemDpi();
    CreateArgs args;
    args.class_name = kClassName;
    args.title = kTitle;
    args.style = kStyle;
    args.ex_style = kExStyle;
    args.x = TwipsToPixels(left_twips_, system_dpi);
    args.y = TwipsToPixels(top_twips_, system_dpi);
    CreateWindowFor(args);
    if (!hwnd()) FailFatally(L"无法创建窗口。");
    dpi_ = WindowDpi(hwnd());
    const HICON small_icon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                   GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));

    for (const ControlRow& row : kPanelLayout) CreateControl(row);
    // The tab control lies beneath the controls of its pages.
    SetWindowPos(Control(kSSTab1), HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    const HWND tabs = Control(kSSTab1);
    for (int i = 0; i < 3; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(kTabCaptions[i]);
        TabCtrl_InsertItem(tabs, i, &item);
    }
    SetCheck1Value(1);
    SetWindowTextW(Control(kLabel7), Widen(KORVANE_PUBLISHER_URL).c_str());
    SetPlayback(kPlaying);

    RecreateFonts();
    LayOut();
    ShowPage(0);
}

void Form2::CreateControl(const ControlRow& row) {
    const HWND parent = hwnd();
    const HMENU id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id));
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const wchar_t* caption = row.caption ? row.caption : L"";
    auto make = [&](DWORD ex_style, const wchar_t* cls, DWORD style) {
        return CreateWindowExW(ex_style, cls, caption, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                               parent, id, instance, nullptr);
    };
    HWND control = nullptr;
    switch (row.kind) {
        case ControlKind::kTabs:
            control = make(0, WC_TABCONTROLW, WS_TABSTOP | WS_CLIPSIBLINGS);
            break;
        case ControlKind::kTextBox:
            control = text1_.Create(TextBox::CreateArgs{parent, row.id});
            break;
        case ControlKind::kButton:
            control = make(0, WC_BUTTONW, WS_TABSTOP | BS_PUSHBUTTON);
            break;
        case ControlKind::kCheckBox:
            // Manual three-state: the box shows a stored 2 greyed, and a click
            // only ever gives 0 or 1.
            control = make(0, WC_BUTTONW, WS_TABSTOP | BS_3STATE);
            break;
        case ControlKind::kLabel:
            control =
                make(0, WC_STATICW, SS_NOTIFY | SS_NOPREFIX | (row.id == kLabel3 ? WS_BORDER : 0));
            break;
        case ControlKind::kLinkLabel: {
            LinkLabel& link = Link(row.id);
            link.Create({parent, row.id, caption, kLinkColour});
            link.on_mouse_move = [this, id = row.id] {
                if (id == kLabel7) Label7_MouseMove();
                if (id == kLabel9) Label9_MouseMove();
            };
            control = link.hwnd();
            break;
        }
        case ControlKind::kSlider: {
            Slider& slider = SliderOf(row.id);
            const bool speed = row.id == kSlider1;
            Slider::CreateArgs args;
            args.parent = parent;
            args.id = row.id;
            args.min = speed ? kSpeedMin : kWidthMin;
            args.max = speed ? kSpeedMax : kWidthMax;
            args.value = speed ? kSpeedLaidOut : kWidthMin;
            slider.Create(args);
            control = slider.hwnd();
            break;
        }
        case ControlKind::kSwatch: {
            ColourSwatch& swatch = Swatch(row.id);
            swatch.Create({parent, row.id, row.id == kPicture4 ? 0xFFFFFFu : 0x000000u});
            control = swatch.hwnd();
            break;
        }
    }
    if (!control) FailFatally(L"无法创建窗口。");
    controls_[row.id - kSSTab1] = control;
}

// --- Message routing --------------------------------------------------------

void Form2::OnCommand(int id, int code) {
    const bool clicked = code == BN_CLICKED;  // STN_CLICKED has the same value
    if (!clicked) return;
    switch (id) {
        case kCommand1:
            Command1_Click();
            break;
        case kCommand2:
            Command2_Click();
            break;
        case kCommand3:
            Command3_Click();
            break;
        case kCommand5:
            Command5_Click();
            break;
        case kCommand6:
            Command6_Click();
            break;
        case kLabel3:
            Label3_Click();
            break;
        case kLabel7:
            Label7_Click();
            break;
        case kLabel9:
            Label9_Click();
            break;
        case kPicture1:
            Picture1_Click();
            break;
        case kPicture2:
            Picture2_Click();
            break;
        case kPicture3:
            Picture3_Click();
            break;
        case kPicture4:
            Picture4_Click();
            break;
        case kCheck1:
            Check1_Click();
            break;
        default:
            break;
    }
}

void Form2::MoveFocus(bool backwards) {
    std::vector<const ControlRow*> order;
    for (const ControlRow& row : kPanelLayout) {
        if (row.tab_index >= 0) order.push_back(&row);
    }
    std::sort(order.begin(), order.end(),
              [](const ControlRow* a, const ControlRow* b) { return a->tab_index < b->tab_index; });
    const int count = static_cast<int>(order.size());
    int current = -1;
    const HWND focus = GetFocus();
    for (int i = 0; i < count; ++i) {
        const HWND control = Control(order[i]->id);
        if (focus == control || IsChild(control, focus)) current = i;
    }
    for (int step = 1; step <= count; ++step) {
        int next = current < 0 ? (backwards ? count - step : step - 1)
                               : (current + (backwards ? -step : step) + count * 2) % count;
        next = (next % count + count) % count;
        const HWND control = Control(order[next]->id);
        if (!IsWindowVisible(control) || !IsWindowEnabled(control)) continue;
        SetFocus(control);
        if (order[next]->kind == ControlKind::kTextBox) SendMessageW(control, EM_SETSEL, 0, -1);
        return;
    }
}

bool Form2::TranslateDialogMessage(MSG& message) {
    if (!hwnd() || (message.hwnd != hwnd() && !IsChild(hwnd(), message.hwnd))) return false;
    // Esc neither closes the panel nor applies anything. Dialog navigation
    // would send it as IDCANCEL, and the multi-line Text1 turns it into a
    // WM_CLOSE of the panel, which is the close button's apply and hide.
    if ((message.message == WM_KEYDOWN || message.message == WM_CHAR) &&
        message.wParam == VK_ESCAPE) {
        return true;
    }
    if (message.message == WM_KEYDOWN && message.wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0 &&
        GetKeyState(VK_MENU) >= 0) {
        MoveFocus(GetKeyState(VK_SHIFT) < 0);
        return true;
    }
    return IsDialogMessageW(hwnd(), &message) != FALSE;
}

LRESULT Form2::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_ERASEBKGND: {
            RECT rect{};
            GetClientRect(hwnd(), &rect);
            FillRect(reinterpret_cast<HDC>(wparam), &rect, GetSysColorBrush(COLOR_BTNFACE));
            return 1;
        }
        case WM_COMMAND:
            OnCommand(LOWORD(wparam), HIWORD(wparam));
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lparam);
            if (header->idFrom == kSSTab1 && header->code == TCN_SELCHANGE) {
                ShowPage(TabCtrl_GetCurSel(Control(kSSTab1)));
            }
            return 0;
        }
        case WM_HSCROLL:
            if (reinterpret_cast<HWND>(lparam) == slider1_.hwnd()) Slider1_Scroll();
            if (reinterpret_cast<HWND>(lparam) == slider2_.hwnd()) Slider2_Scroll();
            return 0;
        case WM_CTLCOLORSTATIC: {
            const auto control = reinterpret_cast<HWND>(lparam);
            const auto dc = reinterpret_cast<HDC>(wparam);
            if (HBRUSH brush = PageBackground(control, dc)) return reinterpret_cast<LRESULT>(brush);
            return WindowBase::HandleMessage(message, wparam, lparam);
        }
        case WM_CTLCOLORBTN: {
            // The corners around a push button on a page.
            const auto control = reinterpret_cast<HWND>(lparam);
            if (HBRUSH brush = PageBackground(control, reinterpret_cast<HDC>(wparam))) {
                return reinterpret_cast<LRESULT>(brush);
            }
            return WindowBase::HandleMessage(message, wparam, lparam);
        }
        case WM_THEMECHANGED:
        case WM_SYSCOLORCHANGE:
            page_brush_.reset();
            InvalidateRect(hwnd(), nullptr, TRUE);
            return WindowBase::HandleMessage(message, wparam, lparam);
        case WM_MOUSEMOVE:
            Form_MouseMove();
            return 0;
        case WM_CLOSE: {
            bool cancel = false;
            Form_Unload(cancel);
            if (!cancel) DestroyWindow(hwnd());
            return 0;
        }
        case WM_DPICHANGED:
            OnDpiChanged(LOWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
            return 0;
        case WM_ACTIVATE:
            // Like a dialog: the focus returns to the control that had it, or
            // goes to the first in the keyboard order.
            if (LOWORD(wparam) == WA_INACTIVE) {
                const HWND focus = GetFocus();
                if (focus && IsChild(hwnd(), focus)) last_focus_ = focus;
            } else if (!HIWORD(wparam)) {
                const bool usable =
                    last_focus_ && IsWindowVisible(last_focus_) && IsWindowEnabled(last_focus_);
                SetFocus(usable ? last_focus_ : Control(kSSTab1));
            }
            return 0;
        default:
            return WindowBase::HandleMessage(message, wparam, lparam);
    }
}

}  // namespace korvane
