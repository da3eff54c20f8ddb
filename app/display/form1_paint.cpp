// Form1's painting: the surface and the caption drawn through the
// off-screen buffer, and the caption's moves repainted at once.
#include "form1.h"

namespace korvane {

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
    if (!buffer_.Fits(SIZE{client.right, client.bottom}) || !IsWindowVisible(hwnd())) {
        InvalidateRect(hwnd(), &area, FALSE);
        return;
    }
    IntersectRect(&area, &area, &client);
    if (!ScrollBuffer(area, shift)) DrawIntoBuffer(area);
    WindowDc dc(hwnd());
    buffer_.CopyTo(dc.get(), area);
}

// A caption that spans most of the strip moves by a pixel or two a tick:
// the buffer already holds its picture, so the area is shifted left in the
// buffer and only the columns that come in on the right are drawn. Text
// drawn at whole pixels is the same wherever it stands, so the picture is
// the one a full redraw gives. False when the area must be drawn anew.
bool Form1::ScrollBuffer(const RECT& area, std::int64_t shift) {
    const LONG width = area.right - area.left;
    if (shift >= 0 || -shift >= width || width < buffer_.size().cx / 2) return false;
    // A pending paint means the buffer may not hold what the window shows.
    if (GetUpdateRect(hwnd(), nullptr, FALSE)) return false;
    const int step = static_cast<int>(-shift);
    buffer_.ScrollLeft(area, step);
    DrawIntoBuffer(RECT{area.right - step, area.top, area.right, area.bottom});
    return true;
}

void Form1::Paint() {
    PaintScope paint(hwnd());
    RECT client{};
    GetClientRect(hwnd(), &client);
    const int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0) return;
    if (!buffer_.Ensure(paint.dc(), SIZE{width, height})) return;
    // The part that needs painting is drawn into the buffer, whose rest
    // still holds what it showed, then copied to the window.
    DrawIntoBuffer(paint.area());
    buffer_.CopyTo(paint.dc(), paint.area());
}

// Fills `area` of the buffer with the surface and draws the caption over it.
void Form1::DrawIntoBuffer(const RECT& area) {
    HDC dc = buffer_.dc();
    SetBkColor(dc, ResolveColour(surface_colour_));
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &area, nullptr, 0, nullptr);  // fills, no brush
    const RECT caption = CaptionRect();
    RECT overlap{};
    if (!caption_text_.empty() && IntersectRect(&overlap, &caption, &area)) {
        const int saved = SaveDC(dc);
        IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
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
    // Fonts are selected only where they are needed: a repaint that draws
    // only fallback glyphs selects one font, as one of a plain line does.
    HFONT current = nullptr;
    for (std::size_t line = 0; line < layout_.LineCount(); ++line) {
        const std::int64_t y = top + static_cast<std::int64_t>(line) * height;
        if (y >= area.bottom || height <= 0) break;
        if (y + height <= area.top) continue;
        if (layout_.Shaped(line)) {
            const TextSpan span = layout_.Line(line);
            complex_lines_.Draw(dc, font_.get(), current, line,
                                std::wstring_view(caption_text_).substr(span.start, span.length), x,
                                static_cast<int>(y), area.left - slice_margin_ - x,
                                area.right + slice_margin_ - x);
            continue;
        }
        const CaptionSlice slice = layout_.Visible(
            caption_text_, line, area.left - slice_margin_ - x, area.right + slice_margin_ - x);
        if (slice.count == 0) continue;
        if (current != font_.get()) SelectObject(dc, current = font_.get());
        ExtTextOutW(dc, static_cast<int>(x + slice.offset), static_cast<int>(y), 0, nullptr,
                    caption_text_.data() + layout_.Line(line).start + slice.first,
                    static_cast<UINT>(slice.count), nullptr);
    }
}

}  // namespace korvane
