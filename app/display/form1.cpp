// Form1's window: its creation, message routing and DPI changes, the scroll
// timer Timer1, and the property setters. The caption, painting and mouse
// input live in form1_caption.cpp, form1_paint.cpp and form1_input.cpp.
#include "form1.h"

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

}  // namespace

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
    // The installer runs without elevation; a copy that runs elevated must
    // still take its end request, which Windows otherwise drops as a message
    // from a lower integrity level.
    ChangeWindowMessageFilterEx(hwnd(), EndRequestMessage(), MSGFLT_ALLOW, nullptr);
    dpi_ = WindowDpi(hwnd());
    RecreateFont();
    RemeasureCaption();
    ApplyWindowSize();
    painted_caption_x_ = CaptionPixels(scroll_.caption_left, dpi_);
    ApplyTimer();
    WatchDesktop();
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
    CaptionTextChanged();
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

// Window, surface and drag area share the width.
void Form1::ApplyWindowSize() {
    SetWindowPos(hwnd(), nullptr, 0, 0, Px(scroll_.surface_width), Px(kHeightTwips),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd(), nullptr, FALSE);
}

void Form1::ApplyTimer() {
    const bool run = TimerRuns(timer_, unseen_);
    if (!run) RepaintMovedCaption();  // a paused caption shows where it stands
    if (run) {
        SetTimer(hwnd(), kTimer1, timer_.interval_ms, nullptr);
    } else if (timer_running_) {
        KillTimer(hwnd(), kTimer1);
    }
    timer_running_ = run;
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
    DesktopChanged();
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    // Asked to end, or the session ends: end as the panel's Exit does.
    if (IsEndRequest(message, EndRequestMessage()) || (message == WM_ENDSESSION && wparam)) {
        EndProgram();
    }
    if (LRESULT result; OnDesktopMessage(message, wparam, lparam, result)) return result;
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
            DragEnded();
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(LOWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
            return 0;
        case WM_SYSCOLORCHANGE:
            InvalidateRect(hwnd(), nullptr, FALSE);
            return 0;
        case WM_GETOBJECT:
            return OnGetObject(wparam, lparam);
        case WM_CLOSE:
            return 0;  // the strip is never closed; the panel's Exit ends the program
        case WM_DESTROY:
            UnwatchDesktop();
            KillTimer(hwnd(), kTimer1);
            timer_running_ = false;
            return 0;
        default:
            return WindowBase::HandleMessage(message, wparam, lparam);
    }
}

}  // namespace korvane
