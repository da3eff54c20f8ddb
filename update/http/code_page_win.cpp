#include <windows.h>

#include "code_page.h"

namespace korvane::http {

namespace {

// The code's bytes in the ANSI code page, when they make exactly one character.
std::optional<char16_t> DecodeAnsi(std::uint16_t code) {
    char bytes[2];
    int length = 0;
    if (code >= 0x100) bytes[length++] = static_cast<char>(code >> 8);
    bytes[length++] = static_cast<char>(code & 0xFF);
    wchar_t out[2];
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, length, out, 2) != 1) {
        return std::nullopt;
    }
    return static_cast<char16_t>(out[0]);
}

}  // namespace

const CodePage& SystemCodePage() {
    static const CodePage code_page(DecodeAnsi);
    return code_page;
}

}  // namespace korvane::http
