#include "complex_lines.h"

#include <algorithm>
#include <utility>

#include "utf16.h"

namespace korvane {

void ComplexLines::Reset(const LOGFONTW& selected_font) {
    Clear();
    fonts_.Reset(selected_font);
}

void ComplexLines::Clear() {
    lines_.clear();
    fonts_.Clear();
}

std::optional<std::int64_t> ComplexLines::Shape(HDC dc, std::size_t index, std::wstring_view text) {
    Line& line = lines_[index];
    line = Line{};
    if (text.empty()) return 0;
    if (!fonts_.Begun()) fonts_.Begin(dc);
    const int length = static_cast<int>(text.size());
    // Items: runs of one script and one direction, in a left-to-right
    // paragraph (without a control and a state no bidirectional levels are
    // resolved). Room for an item every 16 characters at first: each try
    // itemises the whole line again.
    std::vector<SCRIPT_ITEM> items(text.size() / 16 + 64);
    int item_count = 0;
    const SCRIPT_CONTROL control{};
    const SCRIPT_STATE state{};
    for (;;) {
        const HRESULT hr = ScriptItemize(text.data(), length, static_cast<int>(items.size()) - 1,
                                         &control, &state, items.data(), &item_count);
        if (hr == S_OK && item_count > 0) break;
        if (hr != E_OUTOFMEMORY || items.size() > text.size() + 2) {
            lines_.erase(index);
            return std::nullopt;
        }
        items.resize(items.size() * 4);
    }
    std::vector<BYTE> levels(static_cast<std::size_t>(item_count));
    for (int i = 0; i < item_count; ++i) levels[i] = static_cast<BYTE>(items[i].a.s.uBidiLevel);
    std::vector<int> visual_to_logical(static_cast<std::size_t>(item_count));
    ScriptLayout(item_count, levels.data(), visual_to_logical.data(), nullptr);
    std::vector<LineItem> visual;
    for (const int item : visual_to_logical) {
        const std::size_t start = static_cast<std::size_t>(items[item].iCharPos);
        const std::size_t end = static_cast<std::size_t>(items[item + 1].iCharPos);
        visual.push_back(LineItem{TextSpan{start, end - start}, items[item].a.fRTL != 0,
                                  PropertiesOf(items[item].a).fComplex != 0});
    }
    // The item that holds a piece.
    const auto analysis_of = [&](TextSpan piece) {
        const auto after = std::upper_bound(
            items.begin(), items.begin() + item_count, static_cast<int>(piece.start),
            [](int position, const SCRIPT_ITEM& item) { return position < item.iCharPos; });
        return (after - 1)->a;
    };
    const auto shape = [&](TextSpan piece, bool, std::vector<int>& advances) {
        return ShapePiece(dc, line, text.substr(piece.start, piece.length), analysis_of(piece),
                          advances);
    };
    const auto measure = [&](TextSpan piece, int* ends) {
        SIZE size{};
        if (!GetTextExtentExPointW(dc, text.data() + piece.start, static_cast<int>(piece.length), 0,
                                   nullptr, ends, &size)) {
            std::fill(ends, ends + piece.length, 0);
        }
    };
    line.layout.Build(text, visual, shape, measure);
    return line.layout.Width();
}

bool ComplexLines::ShapePiece(HDC dc, Line& line, std::wstring_view piece, SCRIPT_ANALYSIS analysis,
                              std::vector<int>& advances) {
    FallbackFonts::Shaping shaping;
    const std::size_t font = fonts_.ShapeInChosen(dc, piece, analysis, shaping);
    if (font == 0 && shaping.result == USP_E_SCRIPT_NOT_IN_FONT) {
        // No font has the script: the selected font's own glyphs, boxes
        // where it has none, as Windows draws them.
        analysis.eScript = SCRIPT_UNDEFINED;
        shaping = fonts_.ShapeIn(dc, fonts_.Selected(), piece, analysis);
    }
    if (shaping.result != S_OK || shaping.glyphs.empty()) return false;

    const std::size_t first = line.glyphs.size();
    const std::size_t count = shaping.glyphs.size();
    advances.assign(count, 0);
    std::vector<GOFFSET> offsets(count);
    ABC abc{};
    const FallbackFonts::Font& in = fonts_.At(font);
    const HGDIOBJ previous = in.handle ? SelectObject(dc, in.handle.get()) : nullptr;
    const HRESULT placed = ScriptPlace(dc, &in.cache, shaping.glyphs.data(),
                                       static_cast<int>(count), shaping.attributes.data(),
                                       &shaping.analysis, advances.data(), offsets.data(), &abc);
    if (previous) SelectObject(dc, previous);
    if (placed != S_OK) return false;
    line.glyphs.insert(line.glyphs.end(), shaping.glyphs.begin(), shaping.glyphs.end());
    line.advances.insert(line.advances.end(), advances.begin(), advances.end());
    line.offsets.insert(line.offsets.end(), offsets.begin(), offsets.end());
    line.runs.resize(line.layout.RunCount() + 1);
    line.runs.back() = GlyphRun{shaping.analysis, font, first};
    return true;
}

void ComplexLines::Draw(HDC dc, HFONT selected, HFONT& current, std::size_t index,
                        std::wstring_view text, std::int64_t x, int y, std::int64_t left,
                        std::int64_t right) const {
    const auto found = lines_.find(index);
    if (found == lines_.end()) return;
    const Line& line = found->second;
    const auto use = [&](HFONT font) {
        if (font != current) SelectObject(dc, font);
        current = font;
    };
    // The line's band, which no run's ink leaves.
    const FallbackFonts::Font& in_selected = fonts_.Selected();
    constexpr std::int64_t kFar = 1 << 27;
    const RECT band{static_cast<LONG>(std::clamp(x + left, -kFar, kFar)), y,
                    static_cast<LONG>(std::clamp(x + right, -kFar, kFar)),
                    y + in_selected.ascent + in_selected.descent};
    for (const GlyphSlice& slice : line.layout.Visible(left, right)) {
        if (line.layout.Units(slice.run)) {
            use(selected);
            // Characters, drawn as a plain line's are, whole surrogate pairs.
            const TextSpan run = line.layout.RunText(slice.run);
            std::size_t first = slice.first, count = slice.count;
            KeepPairsWhole(text.substr(run.start, run.length), first, count);
            ExtTextOutW(dc, static_cast<int>(x + line.layout.Start(slice.run, first)), y,
                        ETO_CLIPPED, &band, text.data() + run.start + first,
                        static_cast<UINT>(count), nullptr);
            continue;
        }
        const GlyphRun& run = line.runs[slice.run];
        const FallbackFonts::Font& font = fonts_.At(run.font);
        use(run.font ? font.handle.get() : selected);
        // On the selected font's baseline.
        const int top = y + in_selected.ascent - (run.font ? font.ascent : in_selected.ascent);
        const std::size_t glyph = run.first_glyph + slice.first;
        const GOFFSET* offsets = line.offsets.data() + glyph;
        const bool unmoved = std::all_of(offsets, offsets + slice.count,
                                         [](const GOFFSET& o) { return o.du == 0 && o.dv == 0; });
        if (unmoved && !run.analysis.fNoGlyphIndex && !run.analysis.fLogicalOrder) {
            // What ScriptTextOut draws for glyphs in visual order that no
            // mark moves, without its copies of the arrays (glyph indices
            // get no further language processing).
            ExtTextOutW(dc, static_cast<int>(x + slice.offset), top, ETO_GLYPH_INDEX | ETO_CLIPPED,
                        &band, reinterpret_cast<LPCWSTR>(line.glyphs.data() + glyph),
                        static_cast<UINT>(slice.count), line.advances.data() + glyph);
            continue;
        }
        ScriptTextOut(dc, &font.cache, static_cast<int>(x + slice.offset), top, ETO_CLIPPED, &band,
                      &run.analysis, nullptr, 0, line.glyphs.data() + glyph,
                      static_cast<int>(slice.count), line.advances.data() + glyph, nullptr,
                      offsets);
    }
}

}  // namespace korvane
