// What the Windows test programs print: UTF-8, so that the Python tests
// read the same bytes whatever the console's code page.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace korvane::testing {

inline std::string Utf8(std::wstring_view text) {
    const int length = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// Writes one line straight to standard output, unbuffered, so that a reader
// waiting for it sees it at once.
inline void PrintLine(std::wstring_view text) {
    std::string bytes = Utf8(text);
    bytes += '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

}  // namespace korvane::testing
