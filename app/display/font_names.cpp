#include "font_names.h"

namespace korvane {
namespace {

// Big-endian, as every sfnt table is.
unsigned Read16(const unsigned char* at) { return (static_cast<unsigned>(at[0]) << 8) | at[1]; }

}  // namespace

std::vector<std::wstring> ParseSystemLink(std::wstring_view value) {
    std::vector<std::wstring> faces;
    while (!value.empty()) {
        const std::size_t end = value.find(L'\0');
        const std::wstring_view entry = value.substr(0, end);
        if (entry.empty()) break;
        const std::size_t comma = entry.find(L',');
        if (comma != std::wstring_view::npos) {
            const std::wstring_view face =
                entry.substr(comma + 1, entry.find(L',', comma + 1) - comma - 1);
            if (!face.empty()) faces.emplace_back(face);
        }
        if (end == std::wstring_view::npos) break;
        value.remove_prefix(end + 1);
    }
    return faces;
}

std::wstring EnglishFamilyName(const unsigned char* table, std::size_t size) {
    constexpr unsigned kWindows = 3, kUsEnglish = 0x0409, kFamily = 1;
    if (size < 6) return {};
    const std::size_t count = Read16(table + 2);
    const std::size_t strings = Read16(table + 4);
    for (std::size_t i = 0; i < count && 6 + 12 * (i + 1) <= size; ++i) {
        const unsigned char* record = table + 6 + 12 * i;
        if (Read16(record) != kWindows || Read16(record + 4) != kUsEnglish ||
            Read16(record + 6) != kFamily) {
            continue;
        }
        const std::size_t length = Read16(record + 8);
        const std::size_t offset = strings + Read16(record + 10);
        if (offset + length > size) return {};
        std::wstring name;
        for (std::size_t k = 0; k + 1 < length; k += 2) {
            name += static_cast<wchar_t>(Read16(table + offset + k));
        }
        return name;
    }
    return {};
}

}  // namespace korvane
