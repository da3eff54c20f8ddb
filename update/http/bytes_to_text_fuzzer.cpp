// Compares BytesToText with a plain byte-by-byte reading of the same rule.
#include <cstdlib>
#include <string>

#include "bytes_to_text.h"
#include "code_page_iconv.h"

using namespace korvane::http;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const CodePage code_page = MakeIconvCodePage("CP936");

    std::u16string expected;
    bool complete = true;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] < 0x80) {
            expected.push_back(data[i]);
        } else if (i + 1 < size) {
            expected.push_back(
                code_page.Decode(static_cast<std::uint16_t>(data[i] << 8 | data[i + 1])));
            ++i;
        } else {
            complete = false;
        }
    }

    const auto text = BytesToText({data, size}, code_page);
    if (text.has_value() != complete || (text && *text != expected)) std::abort();
    return 0;
}
