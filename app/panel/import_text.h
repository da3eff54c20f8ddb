// Turning an imported text file into the one-line content of the text box.
#pragma once

#include <string>
#include <string_view>

namespace korvane {

// Decodes bytes in the system's ANSI code page.
using AnsiDecoder = std::u16string (*)(std::string_view bytes);

enum class TextEncoding { kAnsi, kUtf8, kUtf16LittleEndian, kUtf16BigEndian };

struct DetectedEncoding {
    TextEncoding encoding;
    std::size_t bom_size;  // bytes of byte-order mark to skip
};

// A UTF-8 or UTF-16 byte-order mark decides; without one, valid UTF-8 that
// holds non-ASCII bytes is UTF-8 (Notepad's default); everything else is
// ANSI, so GBK files read as they always did.
DetectedEncoding DetectEncoding(std::string_view bytes);

// The whole file as text, in the detected encoding. In a file marked as
// UTF-8 each invalid sequence gives one U+FFFD and the rest reads as it is;
// invalid UTF-16 (an odd last byte, an unpaired surrogate) gives U+FFFD.
std::u16string DecodeFileText(std::string_view bytes, AnsiDecoder ansi);

// Joins the lines end to end. A line ends at CR or at CR LF; the end marks
// are dropped, while a line feed alone stays inside its line.
std::u16string JoinLines(std::u16string_view text);

// What import puts into the text box for a file's bytes.
inline std::u16string ImportedText(std::string_view bytes, AnsiDecoder ansi) {
    return JoinLines(DecodeFileText(bytes, ansi));
}

}  // namespace korvane
