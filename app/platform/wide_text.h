// Wide text from a window's text and from ASCII.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace korvane {

// The whole text of a window or control.
inline std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

// ASCII text widened character by character.
inline std::wstring Widen(std::string_view ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace korvane
