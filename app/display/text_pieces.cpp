#include "text_pieces.h"

#include "char_ranges.h"
#include "utf16.h"

namespace korvane {

bool NeedsShaping(std::wstring_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char32_t c = CodePointAt(line, i);
        if (CharFlags(c) & (kNeedsShaping | kAttaches)) return true;
        if (c > 0xFFFF) ++i;
    }
    return false;
}

bool IsClusterBoundary(std::wstring_view text, std::size_t at) {
    if (at == 0 || at >= text.size()) return true;
    if (IsPairSecond(text, at) || Has(CodePointAt(text, at), kAttaches)) return false;
    const char32_t before = CodePointBefore(text, at);
    return before != 0x200D && !Has(before, kVirama);
}

std::vector<TextSpan> SplitIntoPieces(std::wstring_view text, TextSpan span,
                                      std::size_t max_units) {
    std::vector<TextSpan> pieces;
    std::size_t start = span.start;
    const std::size_t end = span.start + span.length;
    while (end - start > max_units) {
        const std::size_t limit = start + max_units;
        std::size_t cut = 0;
        // After a space in the last quarter of the room.
        for (std::size_t at = limit; at > limit - max_units / 4 && !cut; --at) {
            if (text[at - 1] == L' ' && IsClusterBoundary(text, at)) cut = at;
        }
        for (std::size_t at = limit; at > start && !cut; --at) {
            if (IsClusterBoundary(text, at)) cut = at;
        }
        if (!cut) cut = IsPairSecond(text, limit) && limit - 1 > start ? limit - 1 : limit;
        pieces.push_back(TextSpan{start, cut - start});
        start = cut;
    }
    if (end > start || pieces.empty()) pieces.push_back(TextSpan{start, end - start});
    return pieces;
}

}  // namespace korvane
