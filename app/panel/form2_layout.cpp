// Form2's fonts, layout, tab pages, DPI changes and its place on the screen.
#include "form2.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

#include "caption_log_font.h"
#include "dpi.h"
#include "form2_style.h"
#include "screen_position.h"
#include "twips.h"
#include "wide_text.h"

namespace korvane {
namespace {

constexpr float kDefaultFontPoints = 9.0f;

}  // namespace

using namespace form2_style;

int Form2::Px(float twips) const { return TwipsToPixels(twips, dpi_); }

// The controls take the new fonts before the old ones are deleted.
void Form2::RecreateFonts() {
    CaptionFont panel_font;
    panel_font.points = kDefaultFontPoints;
    LOGFONTW lf = CaptionLogFont(panel_font, dpi_);
    UniqueFont font(CreateFontIndirectW(&lf));
    lf = CaptionLogFont(sample_font_, dpi_);
    UniqueFont sample_font(CreateFontIndirectW(&lf));
    for (const ControlRow& row : kPanelLayout) {
        const HFONT font_of_row = row.id == kLabel3 ? sample_font.get() : font.get();
        SendMessageW(Control(row.id), WM_SETFONT, reinterpret_cast<WPARAM>(font_of_row), FALSE);
    }
    font_ = std::move(font);
    sample_hfont_ = std::move(sample_font);
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
        // Drawn anew whole: its font was set without a redraw, and a control
        // that grew would repaint only its new part, beside the old text.
        InvalidateRect(control, nullptr, TRUE);
        if (row.kind == ControlKind::kSlider) SliderOf(row.id).SetThumbLength(height * 3 / 5);
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

// Positions and the outer height are screen twips: the strip reads and the
// panel places with the same mapping, whatever their monitors' DPIs.
float Form2::OuterHeight() {
    const bool loads_now = state_ == LoadState::kNotCreated;
    EnsureLoaded();
    // A right-click handled while this load waited has placed and shown the
    // panel: the placement of the click that started the load is older and
    // is dropped, up to that click's Show().
    if (loads_now && shown_during_load_) stale_placement_ = true;
    shown_during_load_ = false;
    RECT rect{};
    GetWindowRect(hwnd(), &rect);
    return Screen().FromPixels(rect.bottom - rect.top);
}

void Form2::SetLeft(float twips) {
    EnsureLoaded();
    if (stale_placement_) return;
    left_twips_ = twips;
    MoveToScreenTwips(hwnd(), ScreenEdge::kLeft, twips);
}

void Form2::SetTop(float twips) {
    EnsureLoaded();
    if (stale_placement_) return;
    top_twips_ = twips;
    MoveToScreenTwips(hwnd(), ScreenEdge::kTop, twips);
}

}  // namespace korvane
