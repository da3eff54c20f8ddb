// Feeds arbitrary text to the page parsers. An odd first byte builds the
// text from page fragments (markers, digits, apostrophes) so that deep paths
// are reached; an even one takes the rest as raw UTF-16. The first character
// of the text picks the product name.
#include "update_reply.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

namespace {

using namespace korvane::update;

std::optional<std::u16string> EchoUnlessBackslash(std::u16string_view text) {
    if (text.empty() || text.find(u'\\') != std::u16string_view::npos) return std::nullopt;
    return std::u16string(text);
}

void Check(bool condition) {
    if (!condition) std::abort();
}

std::u16string FromFragments(const std::uint8_t* data, std::size_t size) {
    // clang-format off
    static constexpr std::u16string_view kFragments[] = {
        u"\"title\":'", u"\"title\"", u"\"Title\":'", u"\"imgsrc\":'", u"\"imgsrc\"", u"\"STYLE1\"",
        u"Korvane", u"'", u".", u"|", u" ", u"\\x", u"年", u"月", u"日", u"0", u"1", u"2", u"9",
        u"10", u"x", u"2013", u"<span class=", u">"};
    // clang-format on
    std::u16string text;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] < std::size(kFragments)) text += kFragments[data[i]];
        if (data[i] >= std::size(kFragments)) text += static_cast<char16_t>(data[i]);
    }
    return text;
}

std::u16string FromRaw(const std::uint8_t* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), data, text.size() * 2);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto text = data[0] % 2 ? FromFragments(data + 1, size - 1) : FromRaw(data + 1, size - 1);
    const std::u16string_view all(text);

    // The product name: "Korvane", or that many characters of the text.
    const std::size_t name_length = all.empty() ? 0 : all[0] % 16;
    const auto rest = all.empty() ? all : all.substr(1);
    const auto app_name =
        name_length == 0 ? std::u16string_view(u"Korvane") : rest.substr(0, name_length - 1);
    const auto page = name_length == 0 ? rest : rest.substr(app_name.size());

    const auto reply = BuildUpdateReply(page, app_name, ParsePlainNumber, EchoUnlessBackslash);
    Check(reply == kNotFoundReply || reply.starts_with(u"OK|True|") ||
          reply.starts_with(u"OK|False|"));
    Check(reply.size() <= 2 * page.size() + 16);  // version and link may overlap

    const auto date_text = ExtractDateText(all);
    Check(date_text.empty() || date_text.ends_with(u'日'));
    Check(date_text.size() <= all.size());

    for (const auto candidate : {std::u16string_view(date_text), all}) {
        if (const auto serial = ParseChineseDate(candidate)) {
            Check(*serial >= -657434 && *serial <= 2958465);
            Check(*serial == static_cast<double>(static_cast<long long>(*serial)));
        }
    }
    IsNewerVersion(all, ParsePlainNumber);
    return 0;
}
