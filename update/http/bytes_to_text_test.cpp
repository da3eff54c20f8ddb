#include "bytes_to_text.h"

#include <gtest/gtest.h>

#include <vector>

#include "code_page_iconv.h"

namespace korvane::http {
namespace {

std::optional<std::u16string> Decode(std::vector<std::uint8_t> bytes) {
    static const CodePage gbk = MakeIconvCodePage("CP936");
    return BytesToText(bytes, gbk);
}

TEST(BytesToText, AsciiAndDoubleByteCodes) {
    EXPECT_EQ(Decode({}), u"");
    EXPECT_EQ(Decode({0x41, 0x42}), u"AB");
    EXPECT_EQ(Decode({0x41, 0xB0, 0xA1, 0x42}), u"A啊B");
    // Long enough for the eight-byte ASCII path, with a pair straddling it.
    EXPECT_EQ(Decode({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 0xB0, 0xA1, 'j', 'k', 'l', 'm',
                      'n', 'o', 'p', 'q'}),
              u"abcdefghi啊jklmnopq");
}

TEST(BytesToText, LeadByteTakesTheNextByteWhateverItIsAndFailsLast) {
    EXPECT_EQ(Decode({0x41, 0xB0}), std::nullopt);
    EXPECT_EQ(Decode({0xFF}), std::nullopt);
    EXPECT_EQ(Decode({'1', '2', '3', '4', '5', '6', '7', '8', 0x80}), std::nullopt);
    // 0xB0 0x41 is one GBK code (U+7646): the 'A' does not survive on its own.
    EXPECT_EQ(Decode({0xB0, 0x41, 0x42}), u"\u7646B");
    // 0x7F is no trail byte: the undefined pair still takes both bytes.
    EXPECT_EQ(Decode({0xB0, 0x7F, 0x42}), u"\uFFFDB");
    // A GBK code whose trail byte is below 0x80: 0x81 0x40 is U+4E02.
    EXPECT_EQ(Decode({0x81, 0x40, 0x43}), u"\u4E02C");
}

}  // namespace
}  // namespace korvane::http
