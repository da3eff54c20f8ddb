// Feeds arbitrary UTF-16 text to UnescapeText and checks what must hold for
// any input.
#include <cstdlib>
#include <cstring>
#include <string>

#include "code_page_iconv.h"
#include "unescape_text.h"

using namespace korvane::http;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const CodePage code_page = MakeIconvCodePage("CP936");

    std::u16string input(size / 2, u'\0');
    std::memcpy(input.data(), data, input.size() * 2);

    const auto text = UnescapeText(input, code_page);
    if (input.empty() && text) std::abort();
    if (!text) return 0;
    // Every escape shortens the text.
    if (text->size() > input.size()) std::abort();
    // Without a backslash nothing changes.
    if (input.find(u'\\') == std::u16string::npos && *text != input) std::abort();
    return 0;
}
