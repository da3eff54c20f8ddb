#include "code_page.h"

namespace korvane::http {

namespace {
constexpr std::size_t kCodeCount = 0x10000;
constexpr char16_t kReplacement = u'\uFFFD';
}  // namespace

CodePage::CodePage(const Decoder& decode) {
    std::shared_ptr<char16_t[]> table(new char16_t[kCodeCount]);
    for (std::size_t code = 0; code < kCodeCount; ++code) {
        table[code] = decode(static_cast<std::uint16_t>(code)).value_or(kReplacement);
    }
    table_ = std::move(table);
}

}  // namespace korvane::http
