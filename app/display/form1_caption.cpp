// Form1's caption Label1: its font, its measured lines and the rectangle
// it covers on the surface.
#include "form1.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "caption_log_font.h"

namespace korvane {
namespace {

// Lines below the strip's height are never seen; the caption's rectangle
// stops here so that it fits a RECT.
constexpr std::int64_t kMaxCaptionBand = 1 << 20;

}  // namespace

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
    complex_lines_.Reset(CaptionLogFont(caption_font_, dpi_));
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
        // Nothing for a line that cannot be itemised: it is measured unit by unit.
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

}  // namespace korvane
