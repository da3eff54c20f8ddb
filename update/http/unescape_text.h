#pragma once
// Decodes the backslash escapes of values in fetched pages, in three stages
// over the whole text: "\x" + 2 hex digits, "\u" + 4 hex digits (a code of the
// code page, high byte as lead byte), then "\n" to a line feed.

#include <optional>
#include <string>
#include <string_view>

#include "code_page.h"

namespace korvane::http {

// Each escape's digits are read up to its width; a shorter piece uses the
// digits it has. Codes below 0x80 give that ASCII character; any other code
// (a "\x" code of 0x80..0xFF, a "\u" code of 0x80..0xFF or a double-byte
// code) is looked up in code_page, where 0x80..0xFF is the code page's own
// single-byte character (U+FFFD for a byte that is only a lead byte) and an
// undefined code gives U+FFFD.
// nullopt on a malformed escape (an escape with no digit, a non-hex digit)
// and on the empty text.
std::optional<std::u16string> UnescapeText(std::u16string_view text, const CodePage& code_page);

}  // namespace korvane::http
