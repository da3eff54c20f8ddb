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

namespace korvane {

// True when `line` holds a character that drawing it piece by piece would
// get wrong: right-to-left text, joining or shaping scripts, combining
// marks, joiners (emoji sequences), variation selectors, and beyond the BMP
// flags, skin tones and joining scripts. Chinese (extension B included) and
// Latin text keeps the per-unit path.
bool NeedsShaping(std::wstring_view line);

// True for a character that is drawn as nothing of its own: joiners,
// direction marks and variation selectors. A font that lacks one still
// draws the text around it.
bool IsDefaultIgnorable(wchar_t unit);

// True when a cluster may end before unit `at` of `text`: never inside a
// surrogate pair, before a combining mark, joiner, variation selector or
// emoji modifier, or after a joiner.
bool IsClusterBoundary(std::wstring_view text, std::size_t at);

// The most units that one shaped piece holds: its glyphs stay far inside
// what a WORD cluster map can address, and shaping stays linear in the
// line's length (Wine's Uniscribe shapes a run of Arabic in time that grows
// faster than its length: 1 MiB took about 2 s in pieces of 4096 units).
inline constexpr std::size_t kMaxPieceUnits = 512;

// Splits `span` of `text` into pieces of at most `max_units` units: after
// the last space in the last quarter of the room if there is one, else at
// the last cluster boundary; a piece is longer only where no boundary lies
// within the room.
std::vector<TextSpan> SplitIntoPieces(std::wstring_view text, TextSpan span,
                                      std::size_t max_units = kMaxPieceUnits);

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
