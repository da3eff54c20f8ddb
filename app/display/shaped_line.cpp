#include "shaped_line.h"

#include <algorithm>

namespace korvane {
namespace {

bool IsComplexUnit(wchar_t u) {
    return (u >= 0x0300 && u <= 0x036F) ||  // combining diacritical marks
           (u >= 0x0590 && u <= 0x08FF) ||  // Hebrew, Arabic, Syriac, Thaana, NKo, ...
           (u >= 0x0900 && u <= 0x0DFF) ||  // Indic scripts, Sinhala
           (u >= 0x0E00 && u <= 0x0FFF) ||  // Thai, Lao, Tibetan
           (u >= 0x1000 && u <= 0x109F) ||  // Myanmar
           (u >= 0x1780 && u <= 0x18AF) ||  // Khmer, Mongolian
           (u >= 0x1A00 && u <= 0x1CFF) ||  // Buginese to Vedic extensions
           (u >= 0x1DC0 && u <= 0x1DFF) ||  // combining marks supplement
           (u >= 0x200C && u <= 0x200F) ||  // ZWNJ, ZWJ, direction marks
           (u >= 0x202A && u <= 0x202E) ||  // embeddings and overrides
           (u >= 0x2066 && u <= 0x2069) ||  // isolates
           (u >= 0x20D0 && u <= 0x20FF) ||  // combining marks for symbols
           (u >= 0xA800 && u <= 0xABFF) ||  // Syloti Nagri to Meetei Mayek
           (u >= 0xFB1D && u <= 0xFDFF) ||  // Hebrew and Arabic presentation forms
           (u >= 0xFE00 && u <= 0xFE0F) ||  // variation selectors
           (u >= 0xFE20 && u <= 0xFE2F) ||  // combining half marks
           (u >= 0xFE70 && u <= 0xFEFE);    // Arabic presentation forms B
}

// Characters beyond the BMP that join, shape or combine: right-to-left and
// Brahmic scripts, regional indicators (flags), skin-tone modifiers and tags.
// Others, such as the ideographs of extension B, keep the per-unit path.
bool IsComplexCodePoint(char32_t c) {
    return (c >= 0x10800 && c <= 0x11FFF) || (c >= 0x1E800 && c <= 0x1EFFF) ||
           (c >= 0x1F1E6 && c <= 0x1F1FF) || (c >= 0x1F3FB && c <= 0x1F3FF) ||
           (c >= 0xE0000 && c <= 0xE01EF);
}

}  // namespace

bool NeedsShaping(std::wstring_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const wchar_t u = line[i];
        if (IsComplexUnit(u)) return true;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < line.size() && line[i + 1] >= 0xDC00 &&
            line[i + 1] <= 0xDFFF) {
            const char32_t c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                               (static_cast<char32_t>(line[i + 1]) - 0xDC00);
            if (IsComplexCodePoint(c)) return true;
            ++i;
        }
    }
    return false;
}

void ShapedLine::AddRun(const int* advances, std::size_t count) {
    runs_.push_back(Run{ends_.size()});
    std::int64_t running = Width();
    for (std::size_t i = 0; i < count; ++i) ends_.push_back(running += advances[i]);
}

std::vector<GlyphSlice> ShapedLine::Visible(std::int64_t left, std::int64_t right) const {
    std::vector<GlyphSlice> slices;
    if (right <= left || ends_.empty()) return slices;
    // The first glyph that ends right of `left`, the first that starts at
    // or right of `right`.
    std::size_t first = static_cast<std::size_t>(
        std::upper_bound(ends_.begin(), ends_.end(), left) - ends_.begin());
    if (first == ends_.size() || StartOf(first) >= right) return slices;
    // Glyph g starts where g - 1 ends.
    const auto ends_past =
        std::lower_bound(ends_.begin() + static_cast<std::ptrdiff_t>(first), ends_.end(), right);
    std::size_t last =
        std::min(static_cast<std::size_t>(ends_past - ends_.begin()) + 1, ends_.size());
    if (first >= last) return slices;
    // Marks without advance belong to the glyph beside them.
    while (first > 0 && ends_[first - 1] == StartOf(first - 1)) --first;
    while (last < ends_.size() && ends_[last] == StartOf(last)) ++last;
    const auto run_of = [&](std::size_t glyph) {
        return static_cast<std::size_t>(
                   std::upper_bound(runs_.begin(), runs_.end(), glyph,
                                    [](std::size_t g, const Run& r) { return g < r.first_glyph; }) -
                   runs_.begin()) -
               1;
    };
    for (std::size_t glyph = first; glyph < last;) {
        const std::size_t run = run_of(glyph);
        const std::size_t run_end =
            run + 1 < runs_.size() ? runs_[run + 1].first_glyph : ends_.size();
        const std::size_t end = std::min(last, run_end);
        slices.push_back(
            GlyphSlice{run, glyph - runs_[run].first_glyph, end - glyph, StartOf(glyph)});
        glyph = end;
    }
    return slices;
}

}  // namespace korvane
