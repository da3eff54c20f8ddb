// Cutting a caption line into the pieces that are shaped one at a time:
// which lines need shaping at all, where a cluster may end, and pieces of
// bounded length cut at cluster boundaries.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "caption_layout.h"

namespace korvane {

// True when `line` holds a character that drawing it unit by unit would
// get wrong: right-to-left text, joining or shaping scripts, combining
// marks, joiners (emoji sequences), variation selectors, and beyond the BMP
// flags, skin tones and joining scripts. Chinese (extension B included) and
// Latin text keeps the per-unit path.
bool NeedsShaping(std::wstring_view line);

// True when a cluster may end before unit `at` of `text`: never inside a
// surrogate pair, before a combining mark (Mn, Mc, Me), joiner, variation
// selector, emoji modifier or tag, nor after a zero-width joiner or a
// virama, in any script.
bool IsClusterBoundary(std::wstring_view text, std::size_t at);

// The most units that one shaped piece holds: its glyphs stay far inside
// what a WORD cluster map can address, and shaping stays linear in the
// line's length (Wine's Uniscribe shapes a run of Arabic in time that grows
// faster than its length: 1 MiB took about 2 s in pieces of 4096 units).
inline constexpr std::size_t kMaxPieceUnits = 512;

// Splits `span` of `text` into pieces of at most `max_units` units: after
// the last space in the last quarter of the room if there is one, else at
// the last cluster boundary, else (a cluster longer than the room, which no
// real text has) at the room's end, though never inside a surrogate pair.
std::vector<TextSpan> SplitIntoPieces(std::wstring_view text, TextSpan span,
                                      std::size_t max_units = kMaxPieceUnits);

}  // namespace korvane
