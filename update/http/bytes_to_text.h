#pragma once
// Response bytes to text: a byte below 0x80 is one character; a byte of 0x80
// or above is a lead byte that pairs with the next byte.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "code_page.h"

namespace korvane::http {

// nullopt when the bytes end with a lead byte that has nothing after it.
std::optional<std::u16string> BytesToText(std::span<const std::uint8_t> bytes,
                                          const CodePage& code_page);

}  // namespace korvane::http
