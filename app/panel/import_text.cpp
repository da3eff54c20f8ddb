#include "import_text.h"

#include <cstdint>

namespace korvane {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

void AppendCodePoint(std::u16string& out, std::uint32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
// Each invalid sequence becomes one U+FFFD: a lead byte with the longest
// run of continuation bytes that could still have made a character, or else
// a single byte. This is how Windows' and the WHATWG decoders count them.
// Returns whether the input was valid throughout; without `out` it only
// checks, and stops at the first invalid sequence.
bool DecodeUtf8(std::string_view bytes, std::u16string* out) {
    if (out) out->reserve(out->size() + bytes.size());
    bool valid = true;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            if (out) out->push_back(lead);
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t cp = 0;
        // The range of the second byte; the lead's limits narrow it.
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, cp = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;   // overlong
            if (lead == 0xED) high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, cp = lead & 0x07;
            if (lead == 0xF0) low = 0x90;   // overlong
            if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
        }
        std::size_t taken = 1;
        while (taken < length && i + taken < bytes.size()) {
            const auto next = static_cast<unsigned char>(bytes[i + taken]);
            if (next < low || next > high) break;
            cp = (cp << 6) | (next & 0x3F);
            low = 0x80, high = 0xBF;
            ++taken;
        }
        if (taken == length) {
            if (out) AppendCodePoint(*out, cp);
        } else if (out) {
            out->push_back(kReplacement);
            valid = false;
        } else {
            return false;
        }
        i += taken;
    }
    return valid;
}

std::u16string DecodeUtf16(std::string_view bytes, bool big_endian) {
    std::u16string units;
    units.reserve(bytes.size() / 2 + 1);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(big_endian ? (a << 8) | b : (b << 8) | a));
    }
    if (bytes.size() % 2) units.push_back(kReplacement);
    // Unpaired surrogates become U+FFFD.
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            units[i] = kReplacement;
        }
    }
    return units;
}

bool HasNonAscii(std::string_view bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    }
    return false;
}

}  // namespace

DetectedEncoding DetectEncoding(std::string_view bytes) {
    if (StartsWith(bytes, "\xEF\xBB\xBF")) return {TextEncoding::kUtf8, 3};
    if (StartsWith(bytes, "\xFF\xFE")) return {TextEncoding::kUtf16LittleEndian, 2};
    if (StartsWith(bytes, "\xFE\xFF")) return {TextEncoding::kUtf16BigEndian, 2};
    if (HasNonAscii(bytes) && DecodeUtf8(bytes, nullptr)) return {TextEncoding::kUtf8, 0};
    return {TextEncoding::kAnsi, 0};
}

std::u16string DecodeFileText(std::string_view bytes, AnsiDecoder ansi) {
    const DetectedEncoding detected = DetectEncoding(bytes);
    const std::string_view body = bytes.substr(detected.bom_size);
    switch (detected.encoding) {
        case TextEncoding::kUtf8: {
            // A BOM-marked file with broken bytes still reads.
            std::u16string text;
            DecodeUtf8(body, &text);
            return text;
        }
        case TextEncoding::kUtf16LittleEndian:
            return DecodeUtf16(body, false);
        case TextEncoding::kUtf16BigEndian:
            return DecodeUtf16(body, true);
        case TextEncoding::kAnsi:
            break;
    }
    return ansi(body);
}

std::u16string JoinLines(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace korvane
