// A caption line that must be shaped as a whole: right-to-left scripts,
// joining scripts, clusters (Indic, emoji joined by ZWJ). Such a line is
// shaped once per change of text or font into runs of glyphs in visual
// order, left to right; a repaint finds the glyphs that meet the strip by
// a binary search over their running advances and draws only those, each
// where drawing the whole line puts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace korvane {

// True when `line` holds a character that drawing it piece by piece would
// get wrong: right-to-left text, joining or shaping scripts, combining
// marks, joiners (emoji sequences), variation selectors, and beyond the BMP
// flags, skin tones and joining scripts. Chinese (extension B included) and
// Latin text keeps the per-unit path.
bool NeedsShaping(std::wstring_view line);

// Glyphs [first, first + count) of run `run`, the first of which starts
// `offset` pixels right of the line's left edge.
struct GlyphSlice {
    std::size_t run = 0;
    std::size_t first = 0;
    std::size_t count = 0;
    std::int64_t offset = 0;
};

class ShapedLine {
public:
    // Appends the next run to the right, with the advance of each glyph.
    void AddRun(const int* advances, std::size_t count);
    std::size_t RunCount() const { return runs_.size(); }
    std::int64_t Width() const { return ends_.empty() ? 0 : ends_.back(); }

    // The glyphs that meet [left, right), pixels from the line's left edge,
    // glyphs cut by either end and zero-width glyphs beside them included;
    // one slice per run, left to right.
    std::vector<GlyphSlice> Visible(std::int64_t left, std::int64_t right) const;

private:
    std::int64_t StartOf(std::size_t glyph) const { return glyph == 0 ? 0 : ends_[glyph - 1]; }

    struct Run {
        std::size_t first_glyph;
    };
    std::vector<Run> runs_;
    std::vector<std::int64_t> ends_;  // running advance after each glyph
};

}  // namespace korvane
