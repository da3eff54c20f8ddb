#include "form2.h"

#include <windowsx.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "common_dialogs.h"
#include "dpi.h"
#include "import_text.h"
#include "twips.h"

namespace korvane {
namespace {

constexpr wchar_t kClassName[] = L"KorvanePanel";
constexpr wchar_t kTitle[] = L"Korvanev1.0";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr COLORREF kLinkColour = 0x00C00000;
constexpr COLORREF kLinkHoverColour = 0x000000FF;
constexpr float kDefaultFontPoints = 9.0f;
constexpr wchar_t kImportFilter[] = L"txt file(*.txt)|*.txt";
// Larger files are not imported: the text box could not show them usefully.
constexpr LONGLONG kLargestImport = 64ll << 20;

std::wstring Widen(const char* ascii) { return std::wstring(ascii, ascii + strlen(ascii)); }

std::u16string AnsiToText(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    std::u16string text(length, u'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(text.data()),
                        length);
    return text;
}

std::wstring WindowText(HWND hwnd) {
    std::wstring text(GetWindowTextLengthW(hwnd) + 1, L'\0');
    text.resize(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size())));
    return text;
}

// Sets the strip's state for the apply step.
class StripAdapter final : public StripControl {
public:
    explicit StripAdapter(Form1& strip) : strip_(strip) {}
    void SetCaptionText(const std::wstring& text) override { strip_.SetCaptionText(text); }
    void SetCaptionLeft(float twips) override { strip_.SetCaptionLeft(twips); }
    void SetCaptionFont(const CaptionFont& font) override { strip_.SetCaptionFont(font); }
    void SetCaptionColour(std::uint32_t colour) override { strip_.SetCaptionColour(colour); }
    void SetTimerInterval(std::uint32_t ms) override { strip_.SetTimerInterval(ms); }
    void SetTimerEnabled(bool enabled) override { strip_.SetTimerEnabled(enabled); }
    void SetSurfaceColour(std::uint32_t colour) override { strip_.SetSurfaceColour(colour); }

private:
    Form1& strip_;
};

}  // namespace

Form2::Form2(Form1& strip) : strip_(strip) {}

// --- Creation and the load states ---------------------------------------

// The load may wait for the network while messages are dispatched, so the
// strip can reach the panel again meanwhile: such a use finds the state
// kLoading and never starts a second load.
void Form2::EnsureLoaded() {
    if (state_ != LoadState::kNotCreated) return;
    state_ = LoadState::kLoading;
    CreateWindowAndControls();
    Form_Load();
    state_ = LoadState::kLoaded;
    if (show_pending_) ShowNow();
}

void Form2::Show() {
    show_pending_ = true;
    EnsureLoaded();
    // While loading, the end of the load shows the panel.
    if (state_ == LoadState::kLoaded && show_pending_) ShowNow();
}

void Form2::ShowNow() {
    show_pending_ = false;
    ShowWindow(hwnd(), SW_SHOW);
    SetForegroundWindow(hwnd());
}

std::uint32_t Form2::SwatchColour(int index) {
    EnsureLoaded();
    return swatches_[index - 1].Colour();
}

float Form2::OuterHeight() {
    EnsureLoaded();
    RECT rect{};
    GetWindowRect(hwnd(), &rect);
    return PixelsToTwips(rect.bottom - rect.top, dpi_);
}

void Form2::SetLeft(float twips) {
    EnsureLoaded();
    left_twips_ = twips;
    RECT rect{};
    GetWindowRect(hwnd(), &rect);
    SetWindowPos(hwnd(), nullptr, Px(twips), rect.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form2::SetTop(float twips) {
    EnsureLoaded();
    top_twips_ = twips;
    RECT rect{};
    GetWindowRect(hwnd(), &rect);
    SetWindowPos(hwnd(), nullptr, rect.left, Px(twips), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int Form2::Px(float twips) const { return TwipsToPixels(twips, dpi_); }

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
    CreateWindowFor(kExStyle, kClassName, kTitle, kStyle, TwipsToPixels(left_twips_, system_dpi),
                    TwipsToPixels(top_twips_, system_dpi), 0, 0, nullptr);
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
    for (ControlId id : {kSlider1, kSlider2}) {
        const HWND slider = Control(id);
        const bool speed = id == kSlider1;
        SendMessageW(slider, TBM_SETRANGEMIN, FALSE, speed ? kSpeedMin : kWidthMin);
        SendMessageW(slider, TBM_SETRANGEMAX, FALSE, speed ? kSpeedMax : kWidthMax);
        SendMessageW(slider, TBM_SETLINESIZE, 0, 1);
        SendMessageW(slider, TBM_SETPAGESIZE, 0, 5);
        SendMessageW(slider, TBM_SETTICFREQ, 1, 0);
        SendMessageW(slider, TBM_SETPOS, TRUE, speed ? kSpeedLaidOut : kWidthMin);
    }
    swatches_[3].SetColour(0xFFFFFF);
    SetCheck1Value(1);
    SendMessageW(Control(kText1), EM_SETLIMITTEXT, 0, 0);  // as long as memory allows
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
            control = make(WS_EX_CLIENTEDGE, WC_EDITW,
                           WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN);
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
        case ControlKind::kLinkLabel:
            control = make(0, WC_STATICW, SS_NOTIFY | SS_NOPREFIX);
            break;
        case ControlKind::kSlider:
            control =
                make(0, TRACKBAR_CLASSW, WS_TABSTOP | TBS_HORZ | TBS_AUTOTICKS | TBS_FIXEDLENGTH);
            break;
        case ControlKind::kSwatch: {
            ColourSwatch& swatch = swatches_[row.id == kPicture1   ? 0
                                             : row.id == kPicture2 ? 1
                                             : row.id == kPicture3 ? 2
                                                                   : 3];
            swatch.Create(parent, row.id, 0x000000);
            control = swatch.hwnd();
            break;
        }
    }
    if (!control) FailFatally(L"无法创建窗口。");
    controls_[row.id - kSSTab1] = control;
}

// --- Fonts, layout and pages ----------------------------------------------

void Form2::RecreateFonts() {
    CaptionFont panel_font;
    panel_font.points = kDefaultFontPoints;
    LOGFONTW lf = CaptionLogFont(panel_font, dpi_);
    font_.reset(CreateFontIndirectW(&lf));
    lf = CaptionLogFont(sample_font_, dpi_);
    sample_hfont_.reset(CreateFontIndirectW(&lf));
    for (const ControlRow& row : kPanelLayout) {
        const HFONT font = row.id == kLabel3 ? sample_hfont_.get() : font_.get();
        SendMessageW(Control(row.id), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
}

void Form2::LayOut() {
    // The window: a fixed client area.
    RECT client{0, 0, Px(kPanelClientWidth), Px(kPanelClientHeight)};
    const RECT outer = OuterRectForClient(client, kStyle, kExStyle, dpi_);
    SetWindowPos(hwnd(), nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    for (const ControlRow& row : kPanelLayout) {
        const HWND control = Control(row.id);
        float left = row.left, top = row.top;
        if (row.page != Page::kPanel) left += kTabsLeft, top += kTabsTop;
        const int x = Px(left), y = Px(top);
        int width = Px(left + row.width) - x;
        int height = Px(top + row.height) - y;
        if (row.sized_to_text) {
            const std::wstring text = WindowText(control);
            WindowDc dc(control);
            SelectScope select(dc.get(), row.id == kLabel3 ? sample_hfont_.get() : font_.get());
            RECT extent{0, 0, 0, 0};
            DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent,
                      DT_CALCRECT | DT_NOPREFIX | DT_SINGLELINE);
            const int border = (GetWindowLongW(control, GWL_STYLE) & WS_BORDER) ? 2 : 0;
            width = extent.right + border;
            height = extent.bottom + border;
        }
        if (row.kind == ControlKind::kCheckBox) {
            // The box's laid-out height is a pixel short of its text.
            TEXTMETRICW metrics{};
            WindowDc dc(control);
            SelectScope select(dc.get(), font_.get());
            GetTextMetricsW(dc.get(), &metrics);
            height = std::max(height, static_cast<int>(metrics.tmHeight) + 4);
        }
        SetWindowPos(control, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
        if (row.kind == ControlKind::kSlider) {
            // A shorter thumb leaves room for the ticks under it.
            SendMessageW(control, TBM_SETTHUMBLENGTH, height * 3 / 5, 0);
        }
    }
    page_brush_.reset();  // the page is drawn anew at the new size
    InvalidateRect(hwnd(), nullptr, TRUE);
}

void Form2::ShowPage(int page) {
    TabCtrl_SetCurSel(Control(kSSTab1), page);
    for (const ControlRow& row : kPanelLayout) {
        if (row.page == Page::kPanel) continue;
        ShowWindow(Control(row.id), static_cast<int>(row.page) == page ? SW_SHOW : SW_HIDE);
    }
}

// Controls on a page paint their background with the tab control's own
// page, which themes draw in another colour than the panel's surface.
HBRUSH Form2::PageBackground(HWND control, HDC dc) {
    const HWND tabs = Control(kSSTab1);
    if (!control || control == tabs || GetParent(control) != hwnd()) return nullptr;
    const int id = GetDlgCtrlID(control);
    if (id < kSSTab1 || id >= kSSTab1 + static_cast<int>(kPanelLayout.size())) return nullptr;
    if (kPanelLayout[id - kSSTab1].page == Page::kPanel) return nullptr;
    RECT tabs_rect{};
    GetWindowRect(tabs, &tabs_rect);
    if (!page_brush_) {
        const int width = tabs_rect.right - tabs_rect.left;
        const int height = tabs_rect.bottom - tabs_rect.top;
        WindowDc screen(tabs);
        UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
        UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
        if (!bitmap || !memory) return nullptr;
        {
            SelectScope select(memory.get(), bitmap.get());
            const RECT all{0, 0, width, height};
            FillRect(memory.get(), &all, GetSysColorBrush(COLOR_BTNFACE));
            SendMessageW(tabs, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory.get()),
                         PRF_CLIENT | PRF_ERASEBKGND);
        }
        page_brush_.reset(CreatePatternBrush(bitmap.get()));
    }
    RECT control_rect{};
    GetWindowRect(control, &control_rect);
    SetBrushOrgEx(dc, tabs_rect.left - control_rect.left, tabs_rect.top - control_rect.top,
                  nullptr);
    SetBkMode(dc, TRANSPARENT);
    return page_brush_.get();
}

void Form2::OnDpiChanged(unsigned dpi, const RECT& suggested) {
    dpi_ = dpi ? dpi : kDefaultDpi;
    SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RecreateFonts();
    LayOut();
}

// --- Control state ----------------------------------------------------------

int Form2::Check1Value() const {
    return static_cast<int>(SendMessageW(Control(kCheck1), BM_GETCHECK, 0, 0));
}

void Form2::SetCheck1Value(int value) {
    SendMessageW(Control(kCheck1), BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

int Form2::SliderValue(ControlId id) const {
    return static_cast<int>(SendMessageW(Control(id), TBM_GETPOS, 0, 0));
}

void Form2::SetPlayback(const PlaybackState& state) {
    strip_.SetTimerEnabled(state.timer_enabled);
    EnableWindow(Control(kCommand3), state.play_enabled);
    EnableWindow(Control(kCommand5), state.pause_enabled);
}

void Form2::SetLinkColour(ControlId id, COLORREF colour) {
    COLORREF& current = id == kLabel7 ? label7_colour_ : label9_colour_;
    if (current == colour) return;  // no repaint, so no flicker on every move
    current = colour;
    InvalidateRect(Control(id), nullptr, TRUE);
}

PanelChoices Form2::Choices() const {
    PanelChoices choices;
    choices.text = WindowText(Control(kText1));
    choices.sample_font = sample_font_;
    choices.first_colour = swatches_[0].Colour();
    choices.background = swatches_[3].Colour();
    choices.speed = SliderValue(kSlider1);
    return choices;
}

void Form2::Apply(ApplyScope scope) {
    StripAdapter strip(strip_);
    ApplyToStrip(Choices(), scope, strip);
}

bool Form2::ChooseSwatchColour(ColourSwatch& swatch) {
    const auto colour = ChooseColourDialog(hwnd(), swatch.Colour());
    if (!colour) return false;
    swatch.SetColour(*colour);
    return true;
}

// --- Handlers ---------------------------------------------------------------

void Form2::Form_Load() {
    SetWindowTextW(Control(kText1), L"欢迎使用!");
    SetLinkColour(kLabel7, kLinkColour);
    SetLinkColour(kLabel9, kLinkColour);
    SendMessageW(Control(kSlider2), TBM_SETPOS, TRUE, std::lround(strip_.SurfaceWidth()));
    SetCheck1Value(settings_.ReadCheck1(Check1Value()));
    RegisterAndCheckForUpdates();
}

// Registration of the update library, creating its object and the check
// at load come last, in this order. The check waits for the network while
// messages are dispatched.
void Form2::RegisterAndCheckForUpdates() {
    update_check_.StartRegistration();
    update_check_.CreateDetector();
    update_check_.CheckAtLoad(Check1Value(), [this](const std::wstring& caption) {
        SetWindowTextW(Control(kLabel9), caption.c_str());
        LayOut();  // the link is sized to its text
    });
}

void Form2::Label9_Click() { update_check_.CheckOnRequest(); }

void Form2::Form_Unload(bool& cancel) {
    Apply(ApplyScope::kWithoutBackground);
    cancel = true;
    ShowWindow(hwnd(), SW_HIDE);
    settings_.WriteCheck1(Check1Value());
}

void Form2::Form_MouseMove() {
    SetLinkColour(kLabel7, kLinkColour);
    SetLinkColour(kLabel9, kLinkColour);
}

void Form2::Command1_Click() {
    Apply(ApplyScope::kWithBackground);
    ShowWindow(hwnd(), SW_HIDE);
}

void Form2::Command2_Click() {
    const auto path = OpenFileDialog(hwnd(), kImportFilter);
    if (!path) return;
    std::wstring text;
    try {
        text = LoadFile(*path);
    } catch (...) {
        return;  // import fails silently and leaves the box as it was
    }
    SetWindowTextW(Control(kText1), text.c_str());
}

std::wstring Form2::LoadFile(const std::wstring& path) {
    UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        throw std::runtime_error("cannot open");
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargestImport) {
        throw std::runtime_error("cannot read");
    }
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size())) {
        throw std::runtime_error("cannot read");
    }
    const std::u16string text = ImportedText(bytes, &AnsiToText);
    return std::wstring(text.begin(), text.end());
}

void Form2::Command3_Click() { SetPlayback(kPlaying); }

void Form2::Command5_Click() { SetPlayback(kPaused); }

void Form2::Command6_Click() { ExitProcess(0); }

void Form2::Label3_Click() {
    const LOGFONTW initial = CaptionLogFont(sample_font_, dpi_);
    if (const auto choice = ChooseFontDialog(hwnd(), initial, dpi_)) {
        sample_font_.name = choice->font.lfFaceName;
        sample_font_.points = choice->points;
        sample_font_.italic = choice->font.lfItalic != 0;
        sample_font_.bold = choice->font.lfWeight >= FW_SEMIBOLD;
        sample_font_.underline = choice->font.lfUnderline != 0;
        sample_font_.charset = choice->font.lfCharSet;
        RecreateFonts();
        LayOut();
    }
    Apply(ApplyScope::kWithBackground);
}

void Form2::Label7_Click() {
    ShellExecuteA(hwnd(), "open", KORVANE_PUBLISHER_URL, "", "", SW_SHOWNORMAL);
}

void Form2::Label7_MouseMove() { SetLinkColour(kLabel7, kLinkHoverColour); }

void Form2::Label9_MouseMove() { SetLinkColour(kLabel9, kLinkHoverColour); }

void Form2::Picture1_Click() { ChooseSwatchColour(swatches_[0]); }

void Form2::Picture2_Click() { ChooseSwatchColour(swatches_[1]); }

void Form2::Picture3_Click() { ChooseSwatchColour(swatches_[2]); }

void Form2::Picture4_Click() {
    if (ChooseSwatchColour(swatches_[3])) strip_.SetSurfaceColour(swatches_[3].Colour());
}

void Form2::Slider1_Scroll() { strip_.SetTimerInterval(IntervalForSpeed(SliderValue(kSlider1))); }

void Form2::Slider2_Scroll() { strip_.SetSurfaceWidth(static_cast<float>(SliderValue(kSlider2))); }

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
            SetCheck1Value(Check1Value() == BST_CHECKED ? 0 : 1);
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
            if (reinterpret_cast<HWND>(lparam) == Control(kSlider1)) Slider1_Scroll();
            if (reinterpret_cast<HWND>(lparam) == Control(kSlider2)) Slider2_Scroll();
            return 0;
        case WM_CTLCOLORSTATIC: {
            const auto control = reinterpret_cast<HWND>(lparam);
            const auto dc = reinterpret_cast<HDC>(wparam);
            if (control == Control(kLabel7) || control == Control(kLabel9)) {
                SetTextColor(dc, control == Control(kLabel7) ? label7_colour_ : label9_colour_);
                SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            }
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
        case WM_SETCURSOR: {
            const auto over = reinterpret_cast<HWND>(wparam);
            const bool link = over == Control(kLabel7) || over == Control(kLabel9);
            if (HIWORD(lparam) == WM_MOUSEMOVE) {
                if (over == Control(kLabel7)) Label7_MouseMove();
                if (over == Control(kLabel9)) Label9_MouseMove();
            }
            if (link) {
                SetCursor(LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
            return WindowBase::HandleMessage(message, wparam, lparam);
        }
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
