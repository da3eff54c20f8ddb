// The caption's lines that are shaped as a whole (see shaped_line.h),
// shaped with Uniscribe in the font selected into a DC: itemised, ordered
// by their bidirectional levels, shaped and placed once per change of text
// or font, then drawn a few glyphs at a time.
#pragma once

#include <windows.h>
#include <usp10.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include "shaped_line.h"

namespace korvane {

class ComplexLines {
public:
    ComplexLines() = default;
    ComplexLines(const ComplexLines&) = delete;
    ComplexLines& operator=(const ComplexLines&) = delete;
    ~ComplexLines() { Clear(); }

    // Forgets every line and the font's cached tables.
    void Clear();
    // Shapes `text` as line `line` in the font selected into `dc`; returns
    // its width in pixels.
    std::int64_t Shape(HDC dc, std::size_t line, std::wstring_view text);
    // Draws the glyphs of line `line` that meet [left, right), pixels from
    // the line's left edge, with that edge at x and its top at y.
    void Draw(HDC dc, std::size_t line, std::int64_t x, int y, std::int64_t left,
              std::int64_t right) const;

private:
    struct Run {
        SCRIPT_ANALYSIS analysis;
        std::size_t first_glyph;  // into the line's glyph arrays
    };
    struct Line {
        ShapedLine layout;
        std::vector<Run> runs;  // in visual order
        std::vector<WORD> glyphs;
        std::vector<int> advances;
        std::vector<GOFFSET> offsets;
    };

    std::map<std::size_t, Line> lines_;
    mutable SCRIPT_CACHE cache_ = nullptr;
};

}  // namespace korvane
