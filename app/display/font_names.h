// The names that font linking goes by, read from the data Windows keeps:
// a FontLink\SystemLink value and a font's own name table.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// The faces of a SystemLink value: a REG_MULTI_SZ of entries "FILE,Face"
// with optional scaling figures after the face ("FILE,Face,128,96"), the
// list ending at an empty entry or the value's end. Entries without a face
// are skipped.
std::vector<std::wstring> ParseSystemLink(std::wstring_view value);

// The English family name (name ID 1, Windows platform, US English) in a
// font's 'name' table as GetFontData gives it; empty when it has none or
// the table is cut short.
std::wstring EnglishFamilyName(const unsigned char* table, std::size_t size);

}  // namespace korvane
