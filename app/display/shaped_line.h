// A caption line that must be shaped: right-to-left scripts, joining
// scripts, clusters (Indic, emoji joined by ZWJ). Such a line is itemised
// once per change of text or font into runs in visual order, left to
// right: runs of glyphs where an item needs shaping, runs of characters
// (drawn one by one, with the font's own linking) where it does not, or
// where shaping it failed. A repaint finds the glyphs that meet the strip
// by a binary search over their running advances and draws only those,
// each where drawing the whole line puts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "caption_layout.h"
#include "text_pieces.h"

namespace korvane {

// Glyphs [first, first + count) of run `run`, the first of which starts
// `offset` pixels right of the line's left edge.
struct GlyphSlice {
    std::size_t run = 0;
    std::size_t first = 0;
    std::size_t count = 0;
    std::int64_t offset = 0;
};

// An item of a line (a run of one script and one direction) as itemising
// gives it; `complex` when its script needs shaping (Uniscribe's own
// judgement, as ScriptIsComplex gives it).
struct LineItem {
    TextSpan span;
    bool right_to_left = false;
    bool complex = true;
};

class ShapedLine {
public:
    // Shapes piece `piece` of the line's text and writes its glyphs'
    // advances, in visual order; false when shaping it failed.
    using ShapePiece =
        std::function<bool(TextSpan piece, bool right_to_left, std::vector<int>& advances)>;
    // Writes the running advance after each unit of `piece` (what
    // GetTextExtentExPoint gives).
    using MeasurePiece = std::function<void(TextSpan piece, int* ends)>;

    // Lays out the items of a line, given in visual order, left to right:
    // each item split into pieces (SplitIntoPieces), a right-to-left item's
    // pieces from its end; a left-to-right piece of a simple script without
    // a character NeedsShaping names is a run of characters, every other
    // piece is shaped, and one whose shaping fails is a run of characters
    // too, so nothing of it is lost.
    void Build(std::wstring_view text, const std::vector<LineItem>& visual_items,
               const ShapePiece& shape, const MeasurePiece& measure);

    // Appends the next run to the right, with the advance of each glyph;
    // for a run of characters, `text` is its units and `advances` theirs.
    void AddRun(const int* advances, std::size_t count, TextSpan text = {}, bool units = false);
    std::size_t RunCount() const { return runs_.size(); }
    // True for a run of characters, drawn unit by unit.
    bool Units(std::size_t run) const { return runs_[run].units; }
    TextSpan RunText(std::size_t run) const { return runs_[run].text; }
    std::int64_t Width() const { return ends_.empty() ? 0 : ends_.back(); }
    // Where glyph `glyph` of run `run` starts, pixels from the line's left edge.
    std::int64_t Start(std::size_t run, std::size_t glyph) const {
        return StartOf(runs_[run].first_glyph + glyph);
    }

    // The glyphs that meet [left, right), pixels from the line's left edge,
    // glyphs cut by either end and zero-width glyphs beside them included;
    // one slice per run, left to right.
    std::vector<GlyphSlice> Visible(std::int64_t left, std::int64_t right) const;

private:
    std::int64_t StartOf(std::size_t glyph) const { return glyph == 0 ? 0 : ends_[glyph - 1]; }

    struct Run {
        std::size_t first_glyph;
        TextSpan text;
        bool units;
    };
    std::vector<Run> runs_;
    std::vector<std::int64_t> ends_;  // running advance after each glyph
};

}  // namespace korvane
