#pragma once
// A double-byte code page as a lookup table: every single byte below 0x80 and
// every lead*256+trail pair maps to one UTF-16 character.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace korvane::http {

class CodePage {
public:
    // decode(code) gives the character for a single-byte code (< 0x100) or a
    // double-byte code (lead * 256 + trail), or nullopt when undefined.
    using Decoder = std::function<std::optional<char16_t>(std::uint16_t code)>;
    explicit CodePage(const Decoder& decode);

    // The character for a code; undefined codes give U+FFFD.
    char16_t Decode(std::uint16_t code) const noexcept { return table_[code]; }

private:
    std::shared_ptr<const char16_t[]> table_;
};

#ifdef _WIN32
// The system's ANSI code page (936 on Simplified Chinese systems), built once.
const CodePage& SystemCodePage();
#endif

}  // namespace korvane::http
