#include "complex_lines.h"

#include <algorithm>

namespace korvane {

void ComplexLines::Clear() {
    lines_.clear();
    if (cache_) ScriptFreeCache(&cache_);
}

std::int64_t ComplexLines::Shape(HDC dc, std::size_t index, std::wstring_view text) {
    Line& line = lines_[index];
    line = Line{};
    if (text.empty()) return 0;
    const int length = static_cast<int>(text.size());
    // Items: runs of one script and one direction, in a left-to-right
    // paragraph (without a control and a state no bidirectional levels are
    // resolved).
    // Room for an item every 16 characters at first: each try itemises the
    // whole line again.
    std::vector<SCRIPT_ITEM> items(text.size() / 16 + 64);
    int item_count = 0;
    const SCRIPT_CONTROL control{};
    const SCRIPT_STATE state{};
    for (;;) {
        const HRESULT hr = ScriptItemize(text.data(), length, static_cast<int>(items.size()) - 1,
                                         &control, &state, items.data(), &item_count);
        if (hr == S_OK) break;
        if (hr != E_OUTOFMEMORY || items.size() > text.size() + 2) return 0;
        items.resize(items.size() * 4);
    }
    std::vector<BYTE> levels(static_cast<std::size_t>(item_count));
    for (int i = 0; i < item_count; ++i) levels[i] = static_cast<BYTE>(items[i].a.s.uBidiLevel);
    std::vector<int> visual_to_logical(static_cast<std::size_t>(item_count));
    ScriptLayout(item_count, levels.data(), visual_to_logical.data(), nullptr);

    std::vector<WORD> clusters;
    std::vector<SCRIPT_VISATTR> attributes;
    for (const int item : visual_to_logical) {
        const int start = items[item].iCharPos;
        const int count = items[item + 1].iCharPos - start;
        SCRIPT_ANALYSIS analysis = items[item].a;
        const std::size_t first = line.glyphs.size();
        int glyph_count = 0;
        std::size_t room = static_cast<std::size_t>(count) * 3 / 2 + 16;
        clusters.resize(static_cast<std::size_t>(count));
        for (;;) {
            line.glyphs.resize(first + room);
            attributes.resize(room);
            const HRESULT hr = ScriptShape(
                dc, &cache_, text.data() + start, count, static_cast<int>(room), &analysis,
                line.glyphs.data() + first, clusters.data(), attributes.data(), &glyph_count);
            if (hr == S_OK) break;
            if (hr == USP_E_SCRIPT_NOT_IN_FONT && analysis.eScript != SCRIPT_UNDEFINED) {
                analysis.eScript = SCRIPT_UNDEFINED;  // the font's own glyphs, as a box if need be
            } else if (hr == E_OUTOFMEMORY && room < static_cast<std::size_t>(count) * 8 + 64) {
                room *= 2;
            } else {
                glyph_count = 0;
                break;
            }
        }
        line.glyphs.resize(first + static_cast<std::size_t>(glyph_count));
        line.advances.resize(line.glyphs.size());
        line.offsets.resize(line.glyphs.size());
        ABC abc{};
        if (glyph_count > 0 &&
            ScriptPlace(dc, &cache_, line.glyphs.data() + first, glyph_count, attributes.data(),
                        &analysis, line.advances.data() + first, line.offsets.data() + first,
                        &abc) != S_OK) {
            std::fill(line.advances.begin() + static_cast<std::ptrdiff_t>(first),
                      line.advances.end(), 0);
        }
        line.runs.push_back(Run{analysis, first});
        line.layout.AddRun(line.advances.data() + first, static_cast<std::size_t>(glyph_count));
    }
    return line.layout.Width();
}

void ComplexLines::Draw(HDC dc, std::size_t index, std::int64_t x, int y, std::int64_t left,
                        std::int64_t right) const {
    const auto found = lines_.find(index);
    if (found == lines_.end()) return;
    const Line& line = found->second;
    for (const GlyphSlice& slice : line.layout.Visible(left, right)) {
        const Run& run = line.runs[slice.run];
        const std::size_t glyph = run.first_glyph + slice.first;
        ScriptTextOut(dc, &cache_, static_cast<int>(x + slice.offset), y, 0, nullptr, &run.analysis,
                      nullptr, 0, line.glyphs.data() + glyph, static_cast<int>(slice.count),
                      line.advances.data() + glyph, nullptr, line.offsets.data() + glyph);
    }
}

}  // namespace korvane
