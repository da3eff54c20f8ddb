// A caption font: what the strip's caption is drawn in, and what the
// panel's sample label holds for it.
#pragma once

#include <cstdint>
#include <string>

namespace korvane {

struct CaptionFont {
    std::wstring name = L"宋体";
    float points = 14.25f;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikethrough = false;
    std::uint8_t charset = 134;  // GB2312

    bool operator==(const CaptionFont&) const = default;
};

}  // namespace korvane
