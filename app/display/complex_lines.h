// The caption's lines that are shaped (see shaped_line.h), with Uniscribe,
// in the font selected into a DC: itemised, ordered by their bidirectional
// levels, shaped and placed once per change of text or font, then drawn a
// few glyphs at a time.
//
// Where the selected font lacks a piece's script or characters, the piece
// is shaped and drawn in a fallback font, as Windows' own text drawing
// does (fallback_fonts.h). Every run is drawn on the selected font's
// baseline and clipped to its line, so no tick or repaint leaves ink
// outside the caption's band.
#pragma once

#include <windows.h>
#include <usp10.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fallback_fonts.h"
#include "shaped_line.h"

namespace korvane {

class ComplexLines {
public:
    // Forgets every line, the fallback fonts and the fonts' cached tables;
    // the lines that follow are shaped in `selected_font`, which the caller
    // selects into the DCs it passes, and in fallbacks at its height.
    void Reset(const LOGFONTW& selected_font);
    void Clear();
    // Shapes `text` as line `line` in the font selected into `dc`; returns
    // its width in pixels, or nothing when the line cannot be itemised (it
    // is then drawn unit by unit like any plain line).
    std::optional<std::int64_t> Shape(HDC dc, std::size_t line, std::wstring_view text);
    // Draws the glyphs of line `line` (whose text is `text`) that meet
    // [left, right), pixels from the line's left edge, with that edge at x
    // and its top at y, in `selected` (the font the line was shaped in) and
    // the fallbacks. `current` is the font selected into `dc`, or null when
    // not known; a font is selected only where another is needed, and the
    // last one stays selected (a tick that draws only fallback glyphs
    // selects one font, as a plain line's does).
    void Draw(HDC dc, HFONT selected, HFONT& current, std::size_t line, std::wstring_view text,
              std::int64_t x, int y, std::int64_t left, std::int64_t right) const;

    // The face of each font the lines are drawn in beside the selected one.
    std::vector<std::wstring> FallbackFaces() const { return fonts_.FallbackFaces(); }

private:
    struct GlyphRun {
        SCRIPT_ANALYSIS analysis{};
        std::size_t font = 0;
        std::size_t first_glyph = 0;  // into the line's glyph arrays
    };
    struct Line {
        ShapedLine layout;
        std::vector<GlyphRun> runs;  // by run of `layout`; unused for runs of characters
        std::vector<WORD> glyphs;
        std::vector<int> advances;
        std::vector<GOFFSET> offsets;
    };

    bool ShapePiece(HDC dc, Line& line, std::wstring_view piece, SCRIPT_ANALYSIS analysis,
                    std::vector<int>& advances);

    std::map<std::size_t, Line> lines_;
    FallbackFonts fonts_;
};

}  // namespace korvane
