// The caption's layout, kept from one change of text or font to the next:
// its lines and the advance of every UTF-16 unit. A repaint then finds the
// units that meet the strip by a binary search over the running advances
// and draws only those, so its cost follows the strip's width, not the
// caption's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace korvane {

// A run of UTF-16 units of the caption text.
struct TextSpan {
    std::size_t start = 0;
    std::size_t length = 0;
};

// Units [first, first + count) of one line, the first of which starts
// `offset` pixels right of the line's left edge.
struct CaptionSlice {
    std::size_t first = 0;
    std::size_t count = 0;
    std::int64_t offset = 0;
};

class CaptionLayout {
public:
    // Writes the running advance, in pixels, after each of `count` units
    // (what GetTextExtentExPoint gives). Called with at most kMeasureChunk
    // units at a time.
    using Measure = std::function<void(const wchar_t* units, int count, int* ends)>;
    static constexpr int kMeasureChunk = 1024;

    // Shapes line `line` (units `span`) as a whole when it needs that, and
    // returns its width in pixels; nothing for a line measured unit by unit.
    using ShapeLine = std::function<std::optional<std::int64_t>(std::size_t line, TextSpan span)>;

    // Lays out `text` as DrawText does without word breaks: CR LF, CR and LF
    // each end a line; every other unit is drawn with its own advance,
    // except on lines that `shape` takes, which are drawn whole.
    void Build(std::wstring_view text, int line_height, const Measure& measure,
               const ShapeLine& shape = {});

    std::size_t LineCount() const { return lines_.size(); }
    TextSpan Line(std::size_t line) const { return lines_[line].span; }
    // True for a line that `shape` took: Visible() has nothing of it.
    bool Shaped(std::size_t line) const { return lines_[line].shaped; }
    int LineHeight() const { return line_height_; }
    // The widest line and all lines together, pixels.
    std::int64_t Width() const { return width_; }
    std::int64_t Height() const { return static_cast<std::int64_t>(lines_.size()) * line_height_; }

    // The units of `line` that meet [left, right), pixels from the line's
    // left edge, glyphs cut by either end included; a surrogate pair is
    // never split. Empty when nothing of the line lies there.
    CaptionSlice Visible(std::wstring_view text, std::size_t line, std::int64_t left,
                         std::int64_t right) const;

private:
    struct LaidOutLine {
        TextSpan span;
        std::int64_t origin;  // running advance before the line's first unit
        bool shaped;
    };
    static constexpr unsigned kBlockBits = 10;
    // Running advance after unit `unit` over the whole text (breaks add 0).
    std::int64_t After(std::size_t unit) const {
        return blocks_[unit >> kBlockBits] + offsets_[unit];
    }

    std::vector<LaidOutLine> lines_;
    // The running advance is kept as a 64-bit base every 2^kBlockBits
    // units plus a 32-bit offset from it per unit: exact for any length.
    std::vector<std::int64_t> blocks_;
    std::vector<std::uint32_t> offsets_;
    std::int64_t width_ = 0;
    int line_height_ = 0;
};

}  // namespace korvane
