#include "shaped_line.h"

#include <algorithm>

namespace korvane {

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
