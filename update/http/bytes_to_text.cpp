#include "bytes_to_text.h"

#include <bit>
#include <cstring>

namespace korvane::http {

// The first byte of a loaded word must be its low byte.
static_assert(std::endian::native == std::endian::little);

std::optional<std::u16string> BytesToText(std::span<const std::uint8_t> bytes,
                                          const CodePage& code_page) {
    // Every byte gives at most one character, so the text never outgrows this.
    std::u16string text(bytes.size(), u'\0');
    char16_t* out = text.data();
    const std::uint8_t* in = bytes.data();
    const std::uint8_t* const end = in + bytes.size();

    while (in < end) {
        if (*in >= 0x80) {
            // A lead byte pairs with whatever byte follows it.
            if (end - in < 2) return std::nullopt;
            *out++ = code_page.Decode(static_cast<std::uint16_t>(in[0] << 8 | in[1]));
            in += 2;
        } else if (end - in >= 8) {
            // Widen eight bytes at once and keep those before the first lead
            // byte (at least one). The text is never longer than the bytes,
            // so out + 8 is still inside it.
            std::uint64_t word;
            std::memcpy(&word, in, sizeof word);
            for (int i = 0; i < 8; ++i) out[i] = in[i];
            const std::uint64_t leads = word & 0x8080808080808080u;
            const int ascii = leads == 0 ? 8 : std::countr_zero(leads) / 8;
            in += ascii;
            out += ascii;
        } else {
            *out++ = *in++;
        }
    }
    text.resize(static_cast<std::size_t>(out - text.data()));
    return text;
}

}  // namespace korvane::http
