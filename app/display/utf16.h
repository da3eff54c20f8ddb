// UTF-16 as Windows holds text, whatever the size of wchar_t where this
// builds: surrogate pairs, the code point at or before a unit, and
// widening a run of units so that it never splits a pair.
#pragma once

#include <cstddef>
#include <string_view>

namespace korvane {

constexpr bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// True when unit `low` of `text` is the second half of a pair.
constexpr bool IsPairSecond(std::wstring_view text, std::size_t low) {
    return low > 0 && low < text.size() && IsLowSurrogate(text[low]) &&
           IsHighSurrogate(text[low - 1]);
}

constexpr char32_t Combine(wchar_t high, wchar_t low) {
    return 0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) +
           (static_cast<char32_t>(low) - 0xDC00);
}

// The code point that starts at unit `at` (a lone surrogate stands for itself).
constexpr char32_t CodePointAt(std::wstring_view text, std::size_t at) {
    if (IsHighSurrogate(text[at]) && at + 1 < text.size() && IsLowSurrogate(text[at + 1])) {
        return Combine(text[at], text[at + 1]);
    }
    return static_cast<char32_t>(text[at]);
}

// The code point that ends just before unit `at`.
constexpr char32_t CodePointBefore(std::wstring_view text, std::size_t at) {
    if (IsPairSecond(text, at - 1)) return Combine(text[at - 2], text[at - 1]);
    return static_cast<char32_t>(text[at - 1]);
}

// Widens units [first, first + count) of `text` to whole surrogate pairs.
constexpr void KeepPairsWhole(std::wstring_view text, std::size_t& first, std::size_t& count) {
    if (IsPairSecond(text, first)) {
        --first;
        ++count;
    }
    if (IsPairSecond(text, first + count)) ++count;
}

}  // namespace korvane
