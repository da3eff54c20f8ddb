// Colour values as the panel passes them: 0x00BBGGRR, or a system colour
// reference with the high bit set (0x80000000 | COLOR_xxx).
#pragma once

#include <windows.h>

#include <cstdint>

namespace korvane {

inline constexpr std::uint32_t kSystemWindowColour = 0x80000005;      // COLOR_WINDOW
inline constexpr std::uint32_t kSystemButtonTextColour = 0x80000012;  // COLOR_BTNTEXT

// The RGB value a colour value stands for; a system colour reference is
// looked up when called, so it follows the system's colour scheme.
inline COLORREF ResolveColour(std::uint32_t colour) {
    if (colour & 0x80000000u) return GetSysColor(static_cast<int>(colour & 0xFFu));
    return colour & 0x00FFFFFFu;
}

}  // namespace korvane
