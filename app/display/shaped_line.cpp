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

bool IsHighSurrogate(wchar_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(wchar_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Units that attach to the character before them.
bool Attaches(wchar_t u) {
    return (u >= 0x0300 && u <= 0x036F) ||  // combining diacritical marks
           (u >= 0x0591 && u <= 0x05C7 && u != 0x05BE && u != 0x05C0 && u != 0x05C3 &&
            u != 0x05C6) ||                 // Hebrew points
           (u >= 0x064B && u <= 0x065F) ||  // Arabic vowel marks
           u == 0x0670 ||
           (u >= 0x06D6 && u <= 0x06ED && u != 0x06DD && u != 0x06DE) ||
           (u >= 0x1AB0 && u <= 0x1AFF) ||  // combining marks extended
           (u >= 0x1DC0 && u <= 0x1DFF) ||  // combining marks supplement
           u == 0x200C || u == 0x200D ||    // ZWNJ, ZWJ
           (u >= 0x20D0 && u <= 0x20FF) ||  // combining marks for symbols
           (u >= 0xFE00 && u <= 0xFE0F) ||  // variation selectors
           (u >= 0xFE20 && u <= 0xFE2F);    // combining half marks
}

// Brahmic scripts form clusters of several letters; inside a word of
// theirs only a space is taken as a boundary.
bool IsBrahmic(wchar_t u) {
    return (u >= 0x0900 && u <= 0x0DFF) || (u >= 0x0E00 && u <= 0x0FFF) ||
           (u >= 0x1000 && u <= 0x109F) || (u >= 0x1780 && u <= 0x17FF) ||
           (u >= 0xA800 && u <= 0xABFF);
}

}  // namespace

bool IsDefaultIgnorable(wchar_t u) {
    return u == 0x00AD || u == 0x034F || (u >= 0x200B && u <= 0x200F) ||
           (u >= 0x202A && u <= 0x202E) || (u >= 0x2060 && u <= 0x206F) ||
           (u >= 0xFE00 && u <= 0xFE0F) || u == 0xFEFF;
}

bool IsClusterBoundary(std::wstring_view text, std::size_t at) {
    if (at == 0 || at >= text.size()) return true;
    const wchar_t before = text[at - 1];
    const wchar_t after = text[at];
    if (IsLowSurrogate(after) && IsHighSurrogate(before)) return false;
    if (Attaches(after) || before == 0x200D) return false;
    // Emoji modifiers (U+1F3FB..U+1F3FF) and tags (U+E0020..U+E007F).
    if (after == 0xD83C && at + 1 < text.size() && text[at + 1] >= 0xDFFB &&
        text[at + 1] <= 0xDFFF) {
        return false;
    }
    if (after == 0xDB40) return false;
    return !(IsBrahmic(before) && IsBrahmic(after));
}

std::vector<TextSpan> SplitIntoPieces(std::wstring_view text, TextSpan span,
                                      std::size_t max_units) {
    std::vector<TextSpan> pieces;
    std::size_t start = span.start;
    const std::size_t end = span.start + span.length;
    while (end - start > max_units) {
        const std::size_t limit = start + max_units;
        std::size_t cut = 0;
        // After a space in the last quarter of the room.
        for (std::size_t at = limit; at > limit - max_units / 4 && !cut; --at) {
            if (text[at - 1] == L' ' && IsClusterBoundary(text, at)) cut = at;
        }
        for (std::size_t at = limit; at > start && !cut; --at) {
            if (IsClusterBoundary(text, at)) cut = at;
        }
        // No boundary within the room: the next one, however far.
        for (std::size_t at = limit + 1; at < end && !cut; ++at) {
            if (IsClusterBoundary(text, at)) cut = at;
        }
        if (!cut) break;
        pieces.push_back(TextSpan{start, cut - start});
        start = cut;
    }
    if (end > start || pieces.empty()) pieces.push_back(TextSpan{start, end - start});
    return pieces;
}

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

void ShapedLine::Build(std::wstring_view text, const std::vector<LineItem>& visual_items,
                       const ShapePiece& shape, const MeasurePiece& measure) {
    runs_.clear();
    ends_.clear();
    std::vector<int> advances;
    for (const LineItem& item : visual_items) {
        std::vector<TextSpan> pieces = SplitIntoPieces(text, item.span);
        if (item.right_to_left) std::reverse(pieces.begin(), pieces.end());
        for (const TextSpan& piece : pieces) {
            if (piece.length == 0) continue;
            advances.clear();
            const bool plain = !item.right_to_left && !item.complex &&
                               !NeedsShaping(text.substr(piece.start, piece.length));
            if (!plain && shape(piece, item.right_to_left, advances)) {
                AddRun(advances.data(), advances.size());
                continue;
            }
            // Unit by unit: each unit's advance from the running ones.
            std::vector<int> ends(piece.length);
            measure(piece, ends.data());
            advances.resize(piece.length);
            int before = 0;
            for (std::size_t k = 0; k < piece.length; ++k) {
                advances[k] = std::max(ends[k] - before, 0);
                before = std::max(ends[k], before);
            }
            AddRun(advances.data(), advances.size(), piece, true);
        }
    }
}

void ShapedLine::AddRun(const int* advances, std::size_t count, TextSpan text, bool units) {
    runs_.push_back(Run{ends_.size(), text, units});
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
