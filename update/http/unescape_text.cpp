#include "unescape_text.h"

#include <algorithm>
#include <cstdint>

namespace korvane::http {

namespace {

int HexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Codes below 0x80 are ASCII. Every other code, single-byte (0x80..0xFF) or
// double-byte, is looked up in the code page; a byte that the code page only
// knows as a lead byte gives U+FFFD.
char16_t CodeToChar(std::uint32_t code, const CodePage& code_page) {
    if (code < 0x80) return static_cast<char16_t>(code);
    return code_page.Decode(static_cast<std::uint16_t>(code));
}

// Cuts the text at every marker. The first piece stays as it is; each later
// piece starts with up to max_digits hex digits, which become one character.
// False on an empty piece or a non-hex digit.
bool DecodeEscapes(std::u16string_view text, std::u16string_view marker, std::size_t max_digits,
                   const CodePage& code_page, std::u16string& out) {
    out.clear();
    out.reserve(text.size());
    std::size_t pos = text.find(marker);
    out.append(text.substr(0, pos));
    while (pos != std::u16string_view::npos) {
        const std::size_t start = pos + marker.size();
        const std::size_t next = text.find(marker, start);
        const std::u16string_view piece =
            text.substr(start, next == std::u16string_view::npos ? next : next - start);
        if (piece.empty()) return false;

        const std::size_t digits = std::min(max_digits, piece.size());
        std::uint32_t code = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            const int value = HexDigitValue(piece[i]);
            if (value < 0) return false;
            code = code * 16 + static_cast<std::uint32_t>(value);
        }
        out.push_back(CodeToChar(code, code_page));
        out.append(piece.substr(digits));
        pos = next;
    }
    return true;
}

void ReplaceLineFeeds(std::u16string_view text, std::u16string& out) {
    out.clear();
    out.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t pos; (pos = text.find(u"\\n", from)) != std::u16string_view::npos;
         from = pos + 2) {
        out.append(text.substr(from, pos - from));
        out.push_back(u'\n');
    }
    out.append(text.substr(from));
}

}  // namespace

std::optional<std::u16string> UnescapeText(std::u16string_view text, const CodePage& code_page) {
    if (text.empty()) return std::nullopt;
    // Each stage reads the whole output of the one before it, so "\x5cu0041"
    // first becomes "\u0041" and then "A".
    std::u16string after_hex, after_unicode, result;
    if (!DecodeEscapes(text, u"\\x", 2, code_page, after_hex)) return std::nullopt;
    if (!DecodeEscapes(after_hex, u"\\u", 4, code_page, after_unicode)) return std::nullopt;
    ReplaceLineFeeds(after_unicode, result);
    return result;
}

}  // namespace korvane::http
