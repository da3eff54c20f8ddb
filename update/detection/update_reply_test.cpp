#include "update_reply.h"

#include <gtest/gtest.h>

#ifdef KORVANE_TEST_WITH_HTTP_CORE
#include "code_page_iconv.h"
#include "unescape_text.h"
#endif

#include <stdexcept>
#include <string>
#include <vector>

namespace korvane::update {
namespace {

using namespace std::string_literals;

// Decodes "\xHH" only; fails on the empty text and on a malformed escape,
// as the library's decoder does.
std::optional<std::u16string> FakeUnescape(std::u16string_view text) {
    if (text.empty()) return std::nullopt;
    const std::u16string_view digits = u"0123456789abcdef0123456789ABCDEF";
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, 2) != u"\\x") {
            out += text[i];
            continue;
        }
        if (i + 4 > text.size()) return std::nullopt;
        const std::size_t high = digits.find(text[i + 2]), low = digits.find(text[i + 3]);
        if (high == digits.npos || low == digits.npos) return std::nullopt;
        out += static_cast<char16_t>(high % 16 * 16 + low % 16);
        i += 3;
    }
    return out;
}

bool Newer(std::u16string_view version) { return IsNewerVersion(version, ParsePlainNumber); }

std::u16string Reply(std::u16string_view page, std::u16string_view app_name = u"Korvane") {
    return BuildUpdateReply(page, app_name, ParsePlainNumber, FakeUnescape);
}

std::u16string Entry(std::u16string_view title, std::u16string_view imgsrc) {
    return u"{\"title\":'"s + std::u16string(title) + u"',\"url\":'x',\"imgsrc\":'"s +
           std::u16string(imgsrc) + u"'},\n"s;
}

const std::u16string kLink = u"http\\x3a\\x2f\\x2fexample.com\\x2fKorvane.zip";
const std::u16string kDecodedLink = u"http://example.com/Korvane.zip";

TEST(ParsePlainNumber, AcceptsOnlyWholeDecimalNumbers) {
    EXPECT_EQ(ParsePlainNumber(u"-0.5"), -0.5);
    EXPECT_EQ(ParsePlainNumber(u"0.1"), 0.1);
    EXPECT_EQ(ParsePlainNumber(u"007"), 7.0);
    for (const auto* bad : {u"", u".", u"-", u"1.0.1", u"v1", u" 1", u"1e3", u"inf", u"１"}) {
        EXPECT_EQ(ParsePlainNumber(bad), std::nullopt) << std::u16string(bad).size();
    }
}

TEST(IsNewerVersion, WorkedResultsAgainstOneZeroZero) {
    EXPECT_FALSE(Newer(u"1.0.0"));
    EXPECT_FALSE(Newer(u"0.9.9"));
    // "1.0": the minor part is empty.
    for (const auto* newer :
         {u"1.0.1", u"1.1.0", u"2.0.0", u"1.10.2", u"1.0", u"1.0.x", u"v1.2.3", u""}) {
        EXPECT_TRUE(Newer(newer)) << std::u16string(newer).size();
    }
}

TEST(IsNewerVersion, SplitsAtFirstDotTwice) {
    EXPECT_TRUE(Newer(u"1.0.0.1"));   // revision is the number 0.1
    EXPECT_FALSE(Newer(u"1.0.0.0"));  // revision 0.0
    EXPECT_TRUE(Newer(u"2.1"));       // 2, empty, 1
    EXPECT_TRUE(Newer(u"3"));         // empty, empty, 3
    EXPECT_FALSE(Newer(u"0.9"));      // 0, empty, 9: the lower major wins
}

TEST(IsNewerVersion, UnconvertiblePartsCountAsSatisfied) {
    // Unknown minor passes "minor > m" but a known lower major still loses.
    EXPECT_TRUE(Newer(u"1.x.0"));
    EXPECT_FALSE(Newer(u"0.x.0"));
    // Lower major or minor overrides a higher revision; higher major always wins.
    EXPECT_FALSE(Newer(u"0.1.5"));
    EXPECT_FALSE(Newer(u"1.-1.5"));
    // A parser that throws is treated as one that does not convert.
    const NumberParser throwing = [](std::u16string_view) -> std::optional<double> {
        throw std::runtime_error("no locale");
    };
    EXPECT_TRUE(IsNewerVersion(u"1.0.0", throwing));
    EXPECT_TRUE(IsNewerVersion(u"1.0.0", NumberParser{}));
}

TEST(BuildUpdateReply, NewerAndSameVersionWithDecodedLink) {
    EXPECT_EQ(Reply(u"var w = [\n" + Entry(u"Korvane 1.0.1", kLink) + u"];"),
              u"OK|True|1.0.1|" + kDecodedLink);
    EXPECT_EQ(Reply(u"var w = [\n" + Entry(u"Korvane 1.0.0", kLink) + u"];"),
              u"OK|False|1.0.0|" + kDecodedLink);
}

TEST(BuildUpdateReply, OnlyTheFirstEntryOfTheProductCounts) {
    const auto page = Entry(u"Other 9.0.0", u"other") + Entry(u"Korvane 1.0.0", u"first") +
                      Entry(u"Korvane 2.0.0", u"second");
    EXPECT_EQ(Reply(page), u"OK|False|1.0.0|first");
}

TEST(BuildUpdateReply, NotFoundCases) {
    const std::u16string not_found = u"NO|未找到更新信息";
    EXPECT_EQ(Reply(u""), not_found);
    EXPECT_EQ(Reply(u"{\"Title\":'Korvane 1.0.1',\"imgsrc\":'x'}"), not_found);
    EXPECT_EQ(Reply(u"{\"title\":'korvane 1.0.1'}"), not_found);
    // The marker must be followed by the product name at once.
    EXPECT_EQ(Reply(u"{\"title\": 'Korvane 1.0.1'}"), not_found);
    EXPECT_EQ(std::u16string(kNotFoundReply), not_found);
}

TEST(BuildUpdateReply, FieldsAreCopiedAsFound) {
    // No separator: the version loses its first character.
    EXPECT_EQ(Reply(Entry(u"Korvane1.0.1", u"l")), u"OK|True|.0.1|l");
    // A "|" in the version yields more than four fields.
    EXPECT_EQ(Reply(Entry(u"Korvane 1.0|beta", u"l")), u"OK|True|1.0|beta|l");
    // Any separator character is skipped, and positions count characters.
    EXPECT_EQ(Reply(Entry(u"科瓦-2.0.0", u"下载"), u"科瓦"), u"OK|True|2.0.0|下载");
}

TEST(BuildUpdateReply, AddressOnlyFromTheSameEntry) {
    // The link belongs to the next entry: the reply ends with "|".
    EXPECT_EQ(Reply(u"{\"title\":'Korvane 1.0.1'},{\"title\":'Other',\"imgsrc\":'x'}"),
              u"OK|True|1.0.1|");
    // No closing apostrophe: the rest of the entry, up to the next title's quote.
    EXPECT_EQ(Reply(u"{\"title\":'Korvane 1.0.1',\"imgsrc\":'abc,\"title\":'X'"),
              u"OK|True|1.0.1|abc,\"");
    // Undecodable and empty links keep the raw value.
    EXPECT_EQ(Reply(Entry(u"Korvane 1.0.1", u"http\\xZZ")), u"OK|True|1.0.1|http\\xZZ");
    EXPECT_EQ(Reply(Entry(u"Korvane 1.0.1", u"")), u"OK|True|1.0.1|");
    // An unescaper that throws also keeps the raw value.
    const Unescaper throwing = [](std::u16string_view) -> std::optional<std::u16string> {
        throw std::runtime_error("bad");
    };
    EXPECT_EQ(
        BuildUpdateReply(Entry(u"Korvane 1.0.1", kLink), u"Korvane", ParsePlainNumber, throwing),
        u"OK|True|1.0.1|" + kLink);
}

TEST(BuildUpdateReply, TruncatedPagesNeverReadPastTheEnd) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {u"\"title\":'Korvane", u"OK|True||"},
        {u"\"title\":'Korvane 1", u"OK|True||"},  // no apostrophe: empty version
        {u"\"title\":'Korvane 1.0.0',\"imgsrc\"", u"OK|False|1.0.0|"},
        {u"\"title\":'Korvane 1.0.0',\"imgsrc\":'", u"OK|False|1.0.0|"},
        {u"\"title\":'Korvane 1.0.0',\"imgsrc\":'a", u"OK|False|1.0.0|a"},
        {u"\"title\":'Korvane 1.0.0',\"title\"", u"OK|False|1.0.0|"},
    };
    for (const auto& [page, expected] : cases) {
        // Copy into an exactly sized buffer so ASan sees any overrun.
        const std::vector<char16_t> buffer(page.begin(), page.end());
        EXPECT_EQ(Reply(std::u16string_view(buffer.data(), buffer.size())), expected)
            << page.size();
    }
}

#ifdef KORVANE_TEST_WITH_HTTP_CORE
TEST(BuildUpdateReply, WithTheLibrarysUnescapeText) {
    const auto code_page = http::MakeIconvCodePage("CP936");
    const Unescaper unescape = [&](std::u16string_view text) {
        return http::UnescapeText(text, code_page);
    };
    const auto reply = [&](std::u16string_view link) {
        return BuildUpdateReply(Entry(u"Korvane 1.0.1", link), u"Korvane", ParsePlainNumber,
                                unescape);
    };
    // As the reference service writes it.
    EXPECT_EQ(reply(kLink), u"OK|True|1.0.1|" + kDecodedLink);
    EXPECT_EQ(reply(u"http\\x3a\\x2f\\x2f\\ub0a1"), u"OK|True|1.0.1|http://啊");
    EXPECT_EQ(reply(u"a\\xZZ"), u"OK|True|1.0.1|a\\xZZ");  // undecodable: raw
    EXPECT_EQ(reply(u""), u"OK|True|1.0.1|");              // empty does not decode: raw
}
#endif

TEST(ExtractDateText, FromMarkerOrNinthCharacter) {
    const std::u16string page =
        u"<html><body><span class=\"STYLE1\">2013年5月8日 星期三</span></body></html>";
    EXPECT_EQ(ExtractDateText(page), u"2013年5月8日");
    EXPECT_EQ(ParseChineseDate(ExtractDateText(page)), 41402.0);

    // No marker: the date text starts at the page's ninth character.
    EXPECT_EQ(ExtractDateText(u"12345678 2020年1月2日 x"), u" 2020年1月2日");
    EXPECT_EQ(ExtractDateText(u"日2345678abc日"), u"abc日");
    // A "日" before the start point does not count.
    EXPECT_EQ(ExtractDateText(u"日 <b class=\"STYLE1\">no date</b>"), u"");
}

TEST(ExtractDateText, EmptyWithoutDayCharacterOrPastTheEnd) {
    for (const auto* page : {u"<span class=\"STYLE1\">2013年5月8</span>", u"", u"12345678",
                             u"\"STYLE1\"", u"\"STYLE1\">"}) {
        EXPECT_EQ(ExtractDateText(page), u"") << std::u16string(page).size();
    }
    EXPECT_EQ(ExtractDateText(u"\"STYLE1\">日"), u"日");
    EXPECT_EQ(ParseChineseDate(u""), std::nullopt);
}

TEST(ParseChineseDate, SerialsOfValidDates) {
    // From "13年5月8日" on, a one- or two-digit year, which falls in 1930..2029.
    const std::pair<const char16_t*, double> dates[] = {
        {u"1899年12月30日", 0.0},    {u"1900年1月1日", 2.0},
        {u"2000年1月1日", 36526.0},  {u"9999年12月31日", 2958465.0},
        {u"100年1月1日", -657434.0}, {u" 2013 年 05 月 08 日 ", 41402.0},
        {u"13年5月8日", 41402.0},    {u"99年1月1日", 36161.0},
        {u"29年12月31日", 47483.0},  {u"30年1月1日", 10959.0},
        {u"5年1月1日", 38353.0}};
    for (const auto& [date, serial] : dates) EXPECT_EQ(ParseChineseDate(date), serial) << serial;
}

TEST(ParseChineseDate, RejectsInvalidDatesAndOtherForms) {
    for (const auto* bad : {u"2013年2月30日", u"2013年2月29日", u"1900年2月29日", u"2013年13月1日",
                            u"2013年0月1日", u"2013年4月31日", u"2013年5月8", u"2013年5月8日星期三",
                            u"年5月8日", u"2013-5-8", u"12345年1月1日", u"099年1月1日",
                            u"2013年123月1日", u"-2013年5月8日", u"2013年5月8日日"}) {
        EXPECT_EQ(ParseChineseDate(bad), std::nullopt) << std::u16string(bad).size();
    }
}

}  // namespace
}  // namespace korvane::update
