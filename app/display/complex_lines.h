// The caption's lines that are shaped (see shaped_line.h), with Uniscribe,
// in the font selected into a DC: itemised, ordered by their bidirectional
// levels, shaped and placed once per change of text or font, then drawn a
// few glyphs at a time.
//
// Where the selected font lacks a piece's script or characters, the piece
// is shaped and drawn in a fallback font, as Windows' own text drawing
// does: the fonts linked to the selected face (FontLink\SystemLink), then
// fonts that ship with Windows for the piece's script, then any installed
// font that has its characters. Each fallback font is created at the
// selected font's height once per change of text or font, and kept until
// the next; a repaint creates nothing.
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

#include "shaped_line.h"
#include "win_handles.h"

namespace korvane {

class ComplexLines {
public:
    ComplexLines() = default;
    ComplexLines(const ComplexLines&) = delete;
    ComplexLines& operator=(const ComplexLines&) = delete;
    ~ComplexLines() { Clear(); }

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
    std::vector<std::wstring> FallbackFaces() const;

private:
    // A font that pieces are shaped in: 0 is the one selected into the DC.
    struct Font {
        std::wstring face;
        BYTE charset = DEFAULT_CHARSET;
        UniqueFont handle;
        mutable SCRIPT_CACHE cache = nullptr;
        WORD default_glyph = 0;
        bool usable = false;  // created as the named face, with glyph tables
    };
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
    // The glyphs of one shaping.
    struct Shaping {
        HRESULT result = E_FAIL;
        std::vector<WORD> glyphs;
        std::vector<WORD> clusters;
        std::vector<SCRIPT_VISATTR> attributes;
        SCRIPT_ANALYSIS analysis{};
    };

    bool ShapePiece(HDC dc, Line& line, std::wstring_view piece, SCRIPT_ANALYSIS analysis,
                    std::vector<int>& advances);
    Shaping ShapeIn(HDC dc, std::size_t font, std::wstring_view piece,
                    const SCRIPT_ANALYSIS& analysis) const;
    bool Covers(std::size_t font, std::wstring_view piece, const Shaping& shaping) const;
    // The first font after the selected one that covers `piece`, or nothing.
    std::optional<std::size_t> FindFallback(HDC dc, std::wstring_view piece,
                                            const SCRIPT_ANALYSIS& analysis, Shaping& shaping);
    std::size_t FontFor(HDC dc, const std::wstring& face, BYTE charset);
    const std::vector<std::wstring>& LinkedFaces();
    const std::vector<std::wstring>& InstalledFaces(HDC dc);

    LOGFONTW selected_font_{};
    std::map<std::size_t, Line> lines_;
    std::vector<Font> fonts_;
    // The fallback last found for a script, or nothing when none was found:
    // the search runs once per script and change of text or font.
    std::map<WORD, std::optional<std::size_t>> fallback_for_script_;
    std::optional<std::vector<std::wstring>> linked_faces_;
    std::optional<std::vector<std::wstring>> installed_faces_;
};

}  // namespace korvane
