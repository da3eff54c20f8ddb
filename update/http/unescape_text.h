#pragma once
// Decodes the backslash escapes of values in fetched pages, in three stages
// over the whole text: "\x" + 2 hex digits, "\u" + 4 hex digits (a code of the
// code page, high byte as lead byte), then "\n" to a line feed.

#include <optional>
#include <string>
#include <string_view>

#include "code_page.h"

namespace korvane::http {

// nullopt on a malformed escape and on the empty text.
std::optional<std::u16string> UnescapeText(std::u16string_view text,
                                           const CodePage& codePage);

}  // namespace korvane::http
