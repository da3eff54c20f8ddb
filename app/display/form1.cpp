#include "form1.h"

#include <windowsx.h>

#include <algorithm>
#include <utility>

#include "colorstep.h"
#include "dpi.h"
#include "end_request.h"
#include "screen_position.h"

namespace korvane {
namespace {

constexpr wchar_t kClassName[] = L"KorvaneStrip";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kMeinitFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;
constexpr WPARAM kMoveByCaption = SC_MOVE | HTCAPTION;
// Lines below the strip's height are never seen; the caption's rectangle
// stops here so that it fits a RECT.
constexpr std::int64_t kMaxCaptionBand = 1 << 20;

}  // namespace

COLORREF ResolveColour(std::uint32_t colour) {
    if (colour & 0x80000000u) return GetSysColor(static_cast<int>(colour & 0xFFu));
    return colour & 0x00FFFFFFu;
}

Form1::Form1(PanelLink& panel) : panel_(panel) {}

void Form1::Create() {
    // A DC of its own: the caption is drawn on every step, and a shared DC
    // would be set up anew each time.
    RegisterClassOnce(kClassName, nullptr, CS_OWNDC);
    const unsigned system_dpi = SystemDpi();
    CreateArgs args;
    args.class_name = kClassName;
    args.title = L"Form1";
    args.style = WS_POPUP;
    args.ex_style = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
    args.x = TwipsToPixels(left_twips_, system_dpi);
    args.y = TwipsToPixels(top_twips_, system_dpi);
    args.width = TwipsToPixels(Width(), system_dpi);
    args.height = TwipsToPixels(kHeightTwips, system_dpi);
    CreateWindowFor(args);
    if (!hwnd()) FailFatally(L"无法创建窗口。");
    dpi_ = WindowDpi(hwnd());
    RecreateFont();
    RemeasureCaption();
    ApplyWindowSize();
    painted_caption_x_ = CaptionPixels(scroll_.caption_left, dpi_);
    ApplyTimer();
}

void Form1::Show() {
    ShowWindow(hwnd(), SW_SHOW);
    UpdateWindow(hwnd());
}

void Form1::meinit() { SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, kMeinitFlags); }

void Form1::resetcolor() {
    if (auto colour = NextCaptionColour(Module1::colorstep, panel_)) SetCaptionColour(*colour);
}

void Form1::Timer1_Timer() {
    UpdateLayout();
    // Re-assert the top placement unless nothing is above the visible strip,
    // where the call would change nothing but still costs a server round trip.
    // At faster speeds the look happens as often as at the laid-out 150 ms.
    const DWORD now = GetTickCount();
    if (now - last_top_check_ >= kTopCheckMs || timer_.interval_ms >= kTopCheckMs) {
        last_top_check_ = now;
        if (!IsWindowVisible(hwnd()) || GetWindow(hwnd(), GW_HWNDPREV) != nullptr) meinit();
    }
    if (AdvanceCaption(scroll_) == TickResult::kWrapped) resetcolor();
    // Repaint only when the caption lands on another pixel, and at the
    // fastest speeds at most once a frame: the next tick repaints the way
    // from the last painted place.
    if (timer_.interval_ms >= kFrameMs || now - last_repaint_ >= kFrameMs) RepaintMovedCaption();
}

void Form1::RepaintMovedCaption() {
    UpdateLayout();
    const std::int64_t x = CaptionPixels(scroll_.caption_left, dpi_);
    if (x == painted_caption_x_) return;
    const std::int64_t shift = x - painted_caption_x_;
    // The old and the new place together.
    RECT area = CaptionRect();
    painted_caption_x_ = x;
    const RECT moved_to = CaptionRect();
    UnionRect(&area, &area, &moved_to);
    last_repaint_ = GetTickCount();
    // Drawn at once from the buffer: a paint message would cost several more
    // round trips to the window server on every tick.
    RECT client{};
    GetClientRect(hwnd(), &client);
    if (!buffer_dc_ || buffer_size_.cx != client.right || buffer_size_.cy != client.bottom ||
        !IsWindowVisible(hwnd())) {
        InvalidateRect(hwnd(), &area, FALSE);
        return;
    }
    IntersectRect(&area, &area, &client);
    if (!ScrollBuffer(area, shift)) DrawIntoBuffer(area);
    WindowDc dc(hwnd());
    CopyFromBuffer(dc.get(), area);
}

// A caption that spans most of the strip moves by a pixel or two a tick:
// the buffer already holds its picture, so the area is shifted left in the
// buffer and only the columns that come in on the right are drawn. Text
// drawn at whole pixels is the same wherever it stands, so the picture is
// the one a full redraw gives. False when the area must be drawn anew.
bool Form1::ScrollBuffer(const RECT& area, std::int64_t shift) {
    const LONG width = area.right - area.left;
    if (shift >= 0 || -shift >= width || width < buffer_size_.cx / 2) return false;
    // A pending paint means the buffer may not hold what the window shows.
    if (GetUpdateRect(hwnd(), nullptr, FALSE)) return false;
    const int step = static_cast<int>(-shift);
    HDC dc = buffer_dc_.get();
    BitBlt(dc, area.left, area.top, width - step, area.bottom - area.top, dc, area.left + step,
           area.top, SRCCOPY);
    DrawIntoBuffer(RECT{area.right - step, area.top, area.right, area.bottom});
    return true;
}

void Form1::Image1_MouseDown(std::int16_t button, std::int16_t, float, float) {
    // The left and middle buttons drag; the right button's release opens the
    // panel, and a move started by its press would swallow that release.
    if (button == kLeftButton) {
        ReleaseCapture();
        SendMessageA(hwnd(), WM_SYSCOMMAND, kMoveByCaption, 0);
    } else if (button == kMiddleButton) {
        // The system's move loop ends only on a left release, so the middle
        // button moves the window itself while it holds the capture.
        POINT cursor{};
        RECT rect{};
        GetCursorPos(&cursor);
        GetWindowRect(hwnd(), &rect);
        middle_drag_grip_ = POINT{cursor.x - rect.left, cursor.y - rect.top};
        SetCapture(hwnd());
    }
}

void Form1::FollowMiddleDrag() {
    POINT cursor{};
    GetCursorPos(&cursor);
    SetWindowPos(hwnd(), nullptr, cursor.x - middle_drag_grip_->x, cursor.y - middle_drag_grip_->y,
                 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1::Image1_MouseUp(std::int16_t button, std::int16_t, float, float) {
    OpenPanelFromStrip(button, *this, panel_);
}

void Form1::Label1_MouseUp(std::int16_t button, std::int16_t, float, float) {
    OpenPanelFromCaption(button, *this, panel_);
}

float Form1::Left() const {
    const ScreenTwips screen = Screen();
    RECT rect;
    if (!GetWindowRect(hwnd(), &rect) || rect.left == screen.ToPixels(left_twips_)) {
        return left_twips_;
    }
    return screen.FromPixels(rect.left);
}

float Form1::Top() const {
    const ScreenTwips screen = Screen();
    RECT rect;
    if (!GetWindowRect(hwnd(), &rect) || rect.top == screen.ToPixels(top_twips_)) return top_twips_;
    return screen.FromPixels(rect.top);
}

void Form1::SetLeft(float twips) {
    left_twips_ = twips;
    MoveToScreenTwips(hwnd(), ScreenEdge::kLeft, twips);
}

void Form1::SetTop(float twips) {
    top_twips_ = twips;
    MoveToScreenTwips(hwnd(), ScreenEdge::kTop, twips);
}

void Form1::SetCaptionText(std::wstring text) {
    if (text == caption_text_) return;
    InvalidateCaption();
    caption_text_ = std::move(text);
    layout_stale_ = true;
}

void Form1::SetCaptionLeft(double twips) {
    scroll_.caption_left = twips;
    InvalidateCaption();
    painted_caption_x_ = CaptionPixels(twips, dpi_);
    InvalidateCaption();
}

void Form1::SetCaptionFont(const CaptionFont& font) {
    if (font == caption_font_) return;
    InvalidateCaption();
    caption_font_ = font;
    RecreateFont();
    layout_stale_ = true;
}

void Form1::SetCaptionColour(std::uint32_t colour) {
    caption_colour_ = colour;
    InvalidateCaption();
}

void Form1::SetSurfaceColour(std::uint32_t colour) {
    surface_colour_ = colour;
    InvalidateRect(hwnd(), nullptr, FALSE);
}

void Form1::SetSurfaceWidth(float twips) {
    scroll_.surface_width = twips;
    ApplyWindowSize();
}

void Form1::SetTimerInterval(std::uint32_t milliseconds) {
    timer_.interval_ms = milliseconds;
    ApplyTimer();
}

void Form1::SetTimerEnabled(bool enabled) {
    timer_.enabled = enabled;
    ApplyTimer();
}

RECT Form1::CaptionRect() const {
    const std::int64_t low = -slice_margin_;
    const std::int64_t high = static_cast<std::int64_t>(Px(scroll_.surface_width)) + slice_margin_;
    const auto clip = [&](std::int64_t v) { return static_cast<LONG>(std::clamp(v, low, high)); };
    const std::int64_t x = painted_caption_x_;
    const int y = Px(kCaptionTopTwips);
    const std::int64_t height = std::min<std::int64_t>(layout_.Height(), kMaxCaptionBand);
    return RECT{clip(x), y, clip(x + layout_.Width()), y + static_cast<LONG>(height)};
}

void Form1::InvalidateCaption() {
    const RECT rect = CaptionRect();
    InvalidateRect(hwnd(), &rect, FALSE);
}

LOGFONTW CaptionLogFont(const CaptionFont& font, unsigned dpi) {
    LOGFONTW lf{};
    lf.lfHeight = FontHeightForPoints(font.points, dpi);
    lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = font.italic;
    lf.lfUnderline = font.underline;
    lf.lfStrikeOut = font.strikethrough;
    lf.lfCharSet = font.charset;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    lstrcpynW(lf.lfFaceName, font.name.c_str(), LF_FACESIZE);
    return lf;
}

void Form1::RecreateFont() {
    const LOGFONTW lf = CaptionLogFont(caption_font_, dpi_);
    UniqueFont font(CreateFontIndirectW(&lf));
    if (font) font_ = std::move(font);
}

// The caption is always as large as its text in its font: its lines, one
// font height apart, and the advance of every character, measured once per
// change of text or font.
void Form1::RemeasureCaption() {
    WindowDc dc(hwnd());
    SelectScope select(dc.get(), font_.get());
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc.get(), &metrics);
    complex_lines_.Clear();
    const auto measure = [&](const wchar_t* units, int count, int* ends) {
        SIZE size{};
        if (!GetTextExtentExPointW(dc.get(), units, count, 0, nullptr, ends, &size)) {
            std::fill(ends, ends + count, 0);
        }
    };
    const auto shape = [&](std::size_t line, TextSpan span) -> std::optional<std::int64_t> {
        const std::wstring_view text =
            std::wstring_view(caption_text_).substr(span.start, span.length);
        if (!NeedsShaping(text)) return std::nullopt;
        return complex_lines_.Shape(dc.get(), line, text);
    };
    layout_.Build(caption_text_, metrics.tmHeight, measure, shape);
    slice_margin_ = metrics.tmMaxCharWidth + metrics.tmOverhang;
    scroll_.caption_width = CaptionWidthTwips(layout_.Width(), dpi_);
    caption_height_twips_ =
        static_cast<float>(static_cast<double>(layout_.Height()) * kTwipsPerInch / dpi_);
}

void Form1::UpdateLayout() {
    if (!layout_stale_) return;
    layout_stale_ = false;
    RemeasureCaption();
    InvalidateCaption();
}

// Window, surface and drag area share the width.
void Form1::ApplyWindowSize() {
    SetWindowPos(hwnd(), nullptr, 0, 0, Px(scroll_.surface_width), Px(kHeightTwips),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd(), nullptr, FALSE);
}

void Form1::ApplyTimer() {
    const bool run = timer_.Ticking();
    if (!run) RepaintMovedCaption();  // a paused caption shows where it stands
    if (run) {
        SetTimer(hwnd(), kTimer1, timer_.interval_ms, nullptr);
    } else if (timer_running_) {
        KillTimer(hwnd(), kTimer1);
    }
    timer_running_ = run;
}

void Form1::Paint() {
    PaintScope paint(hwnd());
    RECT client{};
    GetClientRect(hwnd(), &client);
    const int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0) return;
    if (!buffer_dc_ || buffer_size_.cx != width || buffer_size_.cy != height) {
        buffer_dc_.reset();
        buffer_bitmap_.reset(CreateCompatibleBitmap(paint.dc(), width, height));
        buffer_dc_.reset(CreateCompatibleDC(paint.dc()));
        if (!buffer_dc_ || !buffer_bitmap_) {
            buffer_dc_.reset();
            return;
        }
        // The buffer DC keeps its bitmap selected for its whole life.
        SelectObject(buffer_dc_.get(), buffer_bitmap_.get());
        buffer_size_ = SIZE{width, height};
    }
    DrawThroughBuffer(paint.dc(), paint.area());
}

// Draws the part of the surface that needs painting into the buffer, whose
// rest still holds what it showed, then copies that part to `target`.
void Form1::DrawThroughBuffer(HDC target, const RECT& area) {
    DrawIntoBuffer(area);
    CopyFromBuffer(target, area);
}

void Form1::CopyFromBuffer(HDC target, const RECT& area) {
    BitBlt(target, area.left, area.top, area.right - area.left, area.bottom - area.top,
           buffer_dc_.get(), area.left, area.top, SRCCOPY);
}

// Fills `area` of the buffer with the surface and draws the caption over it.
void Form1::DrawIntoBuffer(const RECT& area) {
    HDC dc = buffer_dc_.get();
    SetBkColor(dc, ResolveColour(surface_colour_));
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &area, nullptr, 0, nullptr);  // fills, no brush
    const RECT caption = CaptionRect();
    RECT overlap{};
    if (!caption_text_.empty() && IntersectRect(&overlap, &caption, &area)) {
        const int saved = SaveDC(dc);
        IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
        SelectObject(dc, font_.get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, ResolveColour(caption_colour_));
        DrawCaption(dc, area);
        RestoreDC(dc, saved);
    }
}

// Draws, line by line, only the characters that meet `area` (and the
// margin beside it), each where drawing the whole caption puts it.
void Form1::DrawCaption(HDC dc, const RECT& area) const {
    const std::int64_t x = painted_caption_x_;
    const int top = Px(kCaptionTopTwips);
    const int height = layout_.LineHeight();
    for (std::size_t line = 0; line < layout_.LineCount(); ++line) {
        const std::int64_t y = top + static_cast<std::int64_t>(line) * height;
        if (y >= area.bottom || height <= 0) break;
        if (y + height <= area.top) continue;
        if (layout_.Shaped(line)) {
            complex_lines_.Draw(dc, line, x, static_cast<int>(y), area.left - slice_margin_ - x,
                                area.right + slice_margin_ - x);
            continue;
        }
        const CaptionSlice slice = layout_.Visible(
            caption_text_, line, area.left - slice_margin_ - x, area.right + slice_margin_ - x);
        if (slice.count == 0) continue;
        ExtTextOutW(dc, static_cast<int>(x + slice.offset), static_cast<int>(y), 0, nullptr,
                    caption_text_.data() + layout_.Line(line).start + slice.first,
                    static_cast<UINT>(slice.count), nullptr);
    }
}

void Form1::OnMouse(UINT message, WPARAM wparam, LPARAM lparam) {
    UpdateLayout();
    const POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    std::int16_t button = 1;
    if (message == WM_RBUTTONDOWN || message == WM_RBUTTONUP) button = 2;
    if (message == WM_MBUTTONDOWN || message == WM_MBUTTONUP) button = 4;
    const std::int16_t shift =
        static_cast<std::int16_t>(((wparam & MK_SHIFT) ? 1 : 0) | ((wparam & MK_CONTROL) ? 2 : 0) |
                                  ((GetKeyState(VK_MENU) < 0) ? 4 : 0));
    const float x = PixelsToTwips(point.x, dpi_);
    const float y = PixelsToTwips(point.y, dpi_);
    const RECT caption = CaptionRect();
    const bool on_caption = PtInRect(&caption, point) != FALSE;
    const bool down =
        message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
    if (message == WM_MBUTTONUP && middle_drag_grip_) ReleaseCapture();  // ends the drag
    if (down) {
        if (!on_caption) Image1_MouseDown(button, shift, x, y);  // the caption never drags
    } else if (on_caption) {
        Label1_MouseUp(button, shift, x - scroll_.caption_left, y - kCaptionTopTwips);
    } else {
        Image1_MouseUp(button, shift, x, y);
    }
}

void Form1::OnDpiChanged(unsigned dpi, const RECT& suggested) {
    dpi_ = dpi ? dpi : kDefaultDpi;
    RecreateFont();
    layout_stale_ = false;
    RemeasureCaption();
    painted_caption_x_ = CaptionPixels(scroll_.caption_left, dpi_);
    SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, Px(scroll_.surface_width),
                 Px(kHeightTwips), SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd(), nullptr, FALSE);
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    // Asked to end, or the session ends: end as the panel's Exit does.
    if (IsEndRequest(message, EndRequestMessage()) || (message == WM_ENDSESSION && wparam)) {
        ExitProcess(0);
    }
    switch (message) {
        case WM_ERASEBKGND:
            return 1;  // the buffer covers everything
        case WM_PAINT:
            UpdateLayout();  // before the paint takes the area to draw
            Paint();
            return 0;
        case WM_TIMER:
            if (wparam == kTimer1) Timer1_Timer();
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            OnMouse(message, wparam, lparam);
            return 0;
        case WM_MOUSEMOVE:
            if (middle_drag_grip_) FollowMiddleDrag();
            return 0;
        case WM_CAPTURECHANGED:
            middle_drag_grip_.reset();
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(LOWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
            return 0;
        case WM_SYSCOLORCHANGE:
            InvalidateRect(hwnd(), nullptr, FALSE);
            return 0;
        case WM_CLOSE:
            return 0;  // the strip is never closed; the panel's Exit ends the program
        case WM_DESTROY:
            KillTimer(hwnd(), kTimer1);
            timer_running_ = false;
            return 0;
        default:
            return WindowBase::HandleMessage(message, wparam, lparam);
    }
}

}  // namespace korvane
