// The Unicode properties the caption's text code needs, from one table of
// code point ranges with flags: which characters need shaping, which attach
// to the character before them (general categories Mn, Mc and Me, joiners,
// emoji modifiers and tags), which are viramas (canonical combining class
// 9, the characters that join the next letter into a cluster) and which are
// default-ignorable (drawn as nothing of their own). Marks and viramas come
// from the Unicode 14 character database.
#pragma once

namespace korvane {

enum CharFlag : unsigned {
    kNeedsShaping = 1,  // right-to-left, joining, Brahmic, flags and skin tones
    kAttaches = 2,
    kVirama = 4,
    kIgnorable = 8,
};

// The flags of code point `c`, 0 for most.
unsigned CharFlags(char32_t c);

inline bool Has(char32_t c, CharFlag flag) { return (CharFlags(c) & flag) != 0; }

}  // namespace korvane
