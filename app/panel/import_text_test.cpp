#include "import_text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

namespace korvane {
namespace {

// The ANSI code page of a Simplified Chinese system.
std::u16string Gbk(std::string_view bytes) {
    iconv_t cd = iconv_open("UTF-16LE", "CP936");
    std::string in(bytes);
    std::u16string text(bytes.size() + 2, u'\0');
    char* src = in.data();
    char* dst = reinterpret_cast<char*>(text.data());
    size_t src_left = in.size(), dst_left = text.size() * 2;
    iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    text.resize(text.size() - dst_left / 2);
    return text;
}

std::u16string Import(std::string_view bytes) { return ImportedText(bytes, &Gbk); }

TEST(ImportLines, JoinedEndToEnd) {
    EXPECT_EQ(Import("AB\r\nCD\r\nEF\r\n"), u"ABCDEF");
    EXPECT_EQ(Import("AB\r\nCD\r\nEF"), u"ABCDEF");
    EXPECT_EQ(Import("A\r\n\r\nB"), u"AB");
    EXPECT_EQ(Import("A\rB\r\r\nC"), u"ABC");
    EXPECT_EQ(Import(""), u"");
    // A line feed alone does not end a line.
    EXPECT_EQ(Import("A\nB\nC\n"), u"A\nB\nC\n");
    EXPECT_EQ(Import("A\n\rB"), u"A\nB");
}

TEST(ImportEncoding, GbkInTheAnsiCodePageAndUtf8WithOrWithoutMark) {
    // "欢迎使用!" then "第二行" in GBK: not valid UTF-8.
    const std::string gbk = "\xBB\xB6\xD3\xAD\xCA\xB9\xD3\xC3!\r\n\xB5\xDA\xB6\xFE\xD0\xD0";
    EXPECT_EQ(DetectEncoding(gbk).encoding, TextEncoding::kAnsi);
    EXPECT_EQ(Import(gbk), u"欢迎使用!第二行");
    // UTF-8 with and without a mark.
    EXPECT_EQ(Import("\xEF\xBB\xBF\xE6\xAC\xA2\xE8\xBF\x8E\r\nA"), u"欢迎A");
    EXPECT_EQ(Import("\xE6\xAC\xA2\xE8\xBF\x8E\r\n\xF0\x9F\x98\x80"), u"欢迎\U0001F600");
    // Plain ASCII is the same either way; overlong or surrogate forms are
    // not UTF-8, so the bytes go to the code page.
    EXPECT_EQ(DetectEncoding("plain").encoding, TextEncoding::kAnsi);
    EXPECT_EQ(DetectEncoding("\xC0\xAF").encoding, TextEncoding::kAnsi);
    EXPECT_EQ(DetectEncoding("\xED\xA0\x80").encoding, TextEncoding::kAnsi);
}

TEST(ImportEncoding, MarkedUtf8ReplacesEachInvalidSequenceOnly) {
    // One stray byte between two ideographs.
    EXPECT_EQ(Import("\xEF\xBB\xBF\xE6\xAC\xA2\xFF\xE8\xBF\x8E"), u"欢\uFFFD迎");
    // A sequence cut short is one; a byte that cannot follow its lead
    // (overlong, surrogate, past U+10FFFF) ends it, and a lone
    // continuation byte is one each.
    EXPECT_EQ(Import("\xEF\xBB\xBF"
                     "A\xE6\xAC"
                     "B\xF0\x9F\x98"),
              u"A\uFFFDB\uFFFD");
    EXPECT_EQ(Import("\xEF\xBB\xBF\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80"),
              std::u16string(9, u'\uFFFD'));
    EXPECT_EQ(Import("\xEF\xBB\xBF\xE0\xA0\x80\xF4\x8F\xBF\xBF"), u"\u0800\U0010FFFF");
}

TEST(ImportEncoding, Utf16BothByteOrders) {
    using namespace std::string_literals;
    EXPECT_EQ(Import("\xFF\xFE\x22\x6B\x0D\x00\x0A\x00\x41\x00"s), u"欢A");
    EXPECT_EQ(Import("\xFE\xFF\x6B\x22\x00\x0D\x00\x42"s), u"欢B");
    // An odd last byte and a lone surrogate become U+FFFD.
    EXPECT_EQ(Import("\xFF\xFE\x41\x00\x00\xD8\x42"s), u"A\uFFFD\uFFFD");
}

}  // namespace
}  // namespace korvane
