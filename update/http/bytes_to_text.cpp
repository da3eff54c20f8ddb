#include "bytes_to_text.h"

#include <cstring>

namespace korvane::http {

std::optional<std::u16string> BytesToText(std::span<const std::uint8_t> bytes,
                                          const CodePage& codePage) {
    // Every byte gives at most one character, so the text never outgrows this.
    std::u16string text(bytes.size(), u'\0');
    char16_t* out = text.data();
    const std::uint8_t* in = bytes.data();
    const std::uint8_t* const end = in + bytes.size();

    while (in < end) {
        // Runs of ASCII eight bytes at a time.
        while (end - in >= 8) {
            std::uint64_t word;
            std::memcpy(&word, in, sizeof word);
            if (word & 0x8080808080808080u) break;
            for (int i = 0; i < 8; ++i) out[i] = in[i];
            in += 8;
            out += 8;
        }
        if (in == end) break;

        const std::uint8_t byte = *in;
        if (byte < 0x80) {
            *out++ = byte;
            ++in;
            continue;
        }
        // A lead byte pairs with whatever byte follows it.
        if (end - in < 2) return std::nullopt;
        *out++ = codePage.Decode(static_cast<std::uint16_t>(byte << 8 | in[1]));
        in += 2;
    }
    text.resize(static_cast<std::size_t>(out - text.data()));
    return text;
}

}  // namespace korvane::http
