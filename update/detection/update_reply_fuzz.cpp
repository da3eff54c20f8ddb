// Feeds arbitrary UTF-16 text to the page parsers. The first code unit picks
// how many of the following units form the product name.
#include "update_reply.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), data, text.size() * 2);
    const std::u16string_view all(text);

    const std::size_t nameLength = all.empty() ? 0 : all[0] % 16;
    const auto rest = all.empty() ? all : all.substr(1);
    const auto appName = rest.substr(0, nameLength);
    const auto page = rest.substr(appName.size());

    const auto reply = BuildUpdateReply(page, appName, ParsePlainNumber, EchoUnlessBackslash);
    Check(reply == kNotFoundReply || reply.starts_with(u"OK|True|") ||
          reply.starts_with(u"OK|False|"));
    Check(reply.size() <= page.size() + 16);

    const auto dateText = ExtractDateText(all);
    Check(dateText.empty() || dateText.ends_with(u'日'));
    Check(dateText.size() <= all.size());

    for (const auto candidate : {std::u16string_view(dateText), all}) {
        if (const auto serial = ParseChineseDate(candidate)) {
            Check(*serial >= -657434 && *serial <= 2958465);
            Check(*serial == static_cast<double>(static_cast<long long>(*serial)));
        }
    }
    IsNewerVersion(all, ParsePlainNumber);
    return 0;
}
