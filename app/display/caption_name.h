// The caption as a screen reader is given it: the strip's accessible name
// and the notification-area icon's tip.
#pragma once

#include <cstddef>
#include <string_view>

#include "shaped_line.h"

namespace korvane {

// A screen reader reads the name whole, and a caption may be megabytes long.
inline constexpr std::size_t kCaptionNameUnits = 500;

// The caption itself when it holds at most `max_units` UTF-16 units; a longer
// one is cut where a long item is cut into pieces for shaping: after the last
// space near the end of the room, else at the last cluster boundary, so that
// neither a surrogate pair nor a combining sequence is split. The space the
// cut follows is left out. Where no boundary lies within the room at all (a
// word of a Brahmic script longer than the room), only surrogate pairs are
// kept whole.
inline std::wstring_view CaptionName(std::wstring_view caption,
                                     std::size_t max_units = kCaptionNameUnits) {
    if (caption.size() <= max_units) return caption;
    // One unit more than the room: the first piece is the cut, and the unit
    // after the room tells whether the room's end is a boundary.
    std::size_t length = SplitIntoPieces(caption, TextSpan{0, max_units + 1}, max_units)[0].length;
    if (length > max_units) {
        const wchar_t last = caption[max_units - 1];
        length = max_units - (last >= 0xD800 && last <= 0xDBFF ? 1 : 0);
    }
    std::wstring_view name = caption.substr(0, length);
    while (!name.empty() && name.back() == L' ') name.remove_suffix(1);
    return name;
}

}  // namespace korvane
