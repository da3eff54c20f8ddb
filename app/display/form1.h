// Form1: the borderless, always-on-top strip. Its surface Picture1 fills
// the window; the drag area Image1 covers the surface; the transparent
// caption Label1 lies on top and is moved by the timer Timer1.
// The window, timer and setters are in form1.cpp; the caption's font and
// measure in form1_caption.cpp; painting in form1_paint.cpp; mouse input
// and drags in form1_input.cpp; display changes and the session's state in
// form1_desktop.cpp; what screen readers get in form1_accessible.cpp.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "caption_font.h"
#include "caption_layout.h"
#include "complex_lines.h"
#include "panel_link.h"
#include "scroll_engine.h"
#include "strip_buffer.h"
#include "strip_home.h"
#include "system_colour.h"
#include "twips.h"
#include "win_handles.h"
#include "window_base.h"

namespace korvane {

class Form1 final : public WindowBase, public StripPosition {
public:
    // The panel is reached only through `panel`, which must outlive the strip.
    explicit Form1(PanelLink& panel);

    // Creates the window (hidden) with its laid-out state; the timer starts.
    void Create();
    // Shows the window modeless.
    void Show();
    // Where the strip goes back to when the desktop changes under it;
    // `home` must outlive the strip. Without one the strip stays put.
    void SetHome(StripHome* home) { home_ = home; }

    void meinit();
    void resetcolor();
    void Timer1_Timer();
    void Image1_MouseDown(std::int16_t button, std::int16_t shift, float x, float y);
    void Image1_MouseUp(std::int16_t button, std::int16_t shift, float x, float y);
    void Label1_MouseUp(std::int16_t button, std::int16_t shift, float x, float y);

    // Outer position and size, screen twips.
    float Left() const override;
    float Top() const override;
    void SetLeft(float twips);
    void SetTop(float twips);
    float Width() const { return static_cast<float>(scroll_.surface_width); }
    float Height() const { return kHeightTwips; }
    // DPI the window maps its twips with.
    unsigned Dpi() const { return dpi_; }

    // Label1.
    const std::wstring& CaptionText() const { return caption_text_; }
    void SetCaptionText(std::wstring text);
    double CaptionLeft() const { return scroll_.caption_left; }
    void SetCaptionLeft(double twips);
    double CaptionWidth() {
        UpdateLayout();
        return scroll_.caption_width;
    }
    float CaptionHeight() {
        UpdateLayout();
        return caption_height_twips_;
    }
    const CaptionFont& CaptionFontSettings() const { return caption_font_; }
    void SetCaptionFont(const CaptionFont& font);
    std::uint32_t CaptionColour() const { return caption_colour_; }
    void SetCaptionColour(std::uint32_t colour);

    // Picture1. Setting the width sets the window's, the surface's and the
    // drag area's width together.
    std::uint32_t SurfaceColour() const { return surface_colour_; }
    void SetSurfaceColour(std::uint32_t colour);
    float SurfaceWidth() const { return static_cast<float>(scroll_.surface_width); }
    void SetSurfaceWidth(float twips);

    // Timer1.
    std::uint32_t TimerInterval() const { return timer_.interval_ms; }
    void SetTimerInterval(std::uint32_t milliseconds);
    bool TimerEnabled() const { return timer_.enabled; }
    void SetTimerEnabled(bool enabled);

    // Called after each change of the caption's text.
    void OnCaptionTextChanged(std::function<void()> listener) {
        caption_text_listener_ = std::move(listener);
    }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    static constexpr float kHeightTwips = 495.0f;
    static constexpr float kCaptionTopTwips = 105.0f;

    int Px(float twips) const { return TwipsToPixels(twips, dpi_); }
    // The caption's laid-out rectangle, clipped to the strip widened by the
    // slice margin on either side.
    RECT CaptionRect() const;
    void InvalidateCaption();
    void RepaintMovedCaption();
    void RemeasureCaption();
    // Measures the caption when its text or font changed since it was last
    // measured: the apply step sets both, and measures once.
    void UpdateLayout();
    void RecreateFont();
    void ApplyWindowSize();
    void ApplyTimer();
    void Paint();
    void DrawIntoBuffer(const RECT& area);
    bool ScrollBuffer(const RECT& area, std::int64_t shift);
    void DrawCaption(HDC dc, const RECT& area) const;
    void OnMouse(UINT message, WPARAM wparam, LPARAM lparam);
    void FollowMiddleDrag();
    void OnDpiChanged(unsigned dpi, const RECT& suggested);

    // The desktop around the strip (form1_desktop.cpp).
    void WatchDesktop();
    void WatchSession();
    void UnwatchDesktop();
    bool OnDesktopMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);
    void DesktopChanged();
    void DragEnded();

    PanelLink& panel_;
    unsigned dpi_ = 96;
    ScrollState scroll_{120.0, 0.0, 5895.0};
    TimerSettings timer_;
    bool timer_running_ = false;
    static constexpr DWORD kTopCheckMs = 150;
    static constexpr DWORD kFrameMs = 25;
    DWORD last_top_check_ = 0;
    DWORD last_repaint_ = 0;

    std::wstring caption_text_ = L"欢迎使用!";
    CaptionFont caption_font_;
    std::uint32_t caption_colour_ = kSystemButtonTextColour;
    std::uint32_t surface_colour_ = kSystemWindowColour;
    float caption_height_twips_ = 0.0f;
    CaptionLayout layout_;
    ComplexLines complex_lines_;  // the lines of layout_ that are shaped
    bool layout_stale_ = false;
    // Glyphs may reach beyond their advance (italics, overhangs): the slice
    // drawn reaches this far past the area on either side.
    int slice_margin_ = 0;
    std::int64_t painted_caption_x_ = 0;
    UniqueFont font_;

    // Screen position last set in twips; kept while the window stays at its
    // pixel mapping, so half twips survive a read back.
    float left_twips_ = 6465.0f;
    float top_twips_ = 5970.0f;

    // While the middle button drags: the pointer's offset from the window's
    // top left corner.
    std::optional<POINT> middle_drag_grip_;
    bool left_drag_ = false;  // while the system moves the strip with the left button

    StripHome* home_ = nullptr;
    bool desktop_changed_in_drag_ = false;
    UnseenState unseen_;
    std::uint32_t own_session_ = 0;
    int session_tries_ = 0;
    HPOWERNOTIFY display_notify_ = nullptr;
    GUID display_setting_{};

    StripBuffer buffer_;

    // Screen readers: the caption as the window's accessible object, and a
    // name change announced with each change of its text.
    LRESULT OnGetObject(WPARAM wparam, LPARAM lparam);
    void CaptionTextChanged();
    std::function<void()> caption_text_listener_;
};

}  // namespace korvane
