#include "unescape_text.h"

#include <gtest/gtest.h>

#include "code_page_iconv.h"

namespace korvane::http {
namespace {

std::optional<std::u16string> Unescape(std::u16string_view text) {
    static const CodePage gbk = MakeIconvCodePage("CP936");
    return UnescapeText(text, gbk);
}

TEST(UnescapeText, TextWithoutEscapesIsUnchanged) {
    EXPECT_EQ(Unescape(u"http://example.com/a.png"), u"http://example.com/a.png");
    EXPECT_EQ(Unescape(u"中文"), u"中文");
    // Only lower-case x, u and n are escapes.
    EXPECT_EQ(Unescape(u"a\\Nb\\X41\\U0041\\t"), u"a\\Nb\\X41\\U0041\\t");
}

TEST(UnescapeText, LineFeeds) {
    EXPECT_EQ(Unescape(u"a\\nb\\n\\nc"), u"a\nb\n\nc");
    EXPECT_EQ(Unescape(u"\\n"), u"\n");
}

TEST(UnescapeText, HexEscapes) {
    EXPECT_EQ(Unescape(u"\\x41\\x62c"), u"Abc");
    EXPECT_EQ(Unescape(u"a\\x2fb\\x2F"), u"a/b/");
    // A piece of one character uses that one digit.
    EXPECT_EQ(Unescape(u"\\x9"), u"\t");
    // Above 0x7F: the code page's own single byte (0x80 is the euro sign in
    // CP936), or U+FFFD for a byte that is only ever a lead byte.
    EXPECT_EQ(Unescape(u"\\x80\\xB0"), u"€\uFFFD");
}

TEST(UnescapeText, UnicodeEscapesAreCodePageCodes) {
    EXPECT_EQ(Unescape(u"\\uB0A1"), u"啊");
    EXPECT_EQ(Unescape(u"x\\ub0a1y"), u"x啊y");
    EXPECT_EQ(Unescape(u"\\u0041BC"), u"ABC");
    EXPECT_EQ(Unescape(u"\\u41"), u"A");
    // Not a UTF-16 code unit: 0x4E2D is no GBK code.
    EXPECT_EQ(Unescape(u"\\u4E2D"), u"\uFFFD");
}

TEST(UnescapeText, StagesRunInOrder) {
    EXPECT_EQ(Unescape(u"\\x5cu0041"), u"A");
    EXPECT_EQ(Unescape(u"\\x5cn"), u"\n");
    EXPECT_EQ(Unescape(u"\\u005cn"), u"\n");
    // A backslash from "\u005c" followed by "x41" is not decoded again.
    EXPECT_EQ(Unescape(u"\\u005cx41"), u"\\x41");
}

TEST(UnescapeText, MalformedTextIsAnError) {
    // The last one fails in a later stage.
    for (const auto* bad : {u"", u"abc\\x", u"\\x\\x41", u"\\u", u"\\xg1", u"\\x4g", u"\\u00z1",
                            u"\\x 4", u"\\x5cuZZZZ"}) {
        EXPECT_EQ(Unescape(bad), std::nullopt) << std::u16string(bad).size();
    }
}

}  // namespace
}  // namespace korvane::http
