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

TEST(IsNewerVersion, AgainstOneZeroZero) {
    const struct {
        const char16_t* version;
        bool newer;
    } rows[] = {
        // clang-format off
        {u"1.0.0", false}, {u"0.9.9", false}, {u"1.0.1", true}, {u"1.1.0", true}, {u"2.0.0", true},
        {u"1.10.2", true}, {u"v1.2.3", true}, {u"", true}, {u"1.0.x", true},
        {u"1.0", true},  // the minor part is empty
        // Split at the first dot twice: revision 0.1 and 0.0; 2, empty, 1; empty, empty, 3;
        // 0, empty, 9 (the lower major wins).
        {u"1.0.0.1", true}, {u"1.0.0.0", false}, {u"2.1", true}, {u"3", true}, {u"0.9", false},
        // Unknown minor passes "minor > m" but a known lower major still loses.
        {u"1.x.0", true}, {u"0.x.0", false},
        // Lower major or minor overrides a higher revision.
        {u"0.1.5", false}, {u"1.-1.5", false},
        // clang-format on
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Newer(row.version), row.newer) << std::u16string(row.version).size();
    }
    // A parser that throws is treated as one that does not convert.
    const NumberParser throwing = [](std::u16string_view) -> std::optional<double> {
        throw std::runtime_error("no locale");
    };
    EXPECT_TRUE(IsNewerVersion(u"1.0.0", throwing));
    EXPECT_TRUE(IsNewerVersion(u"1.0.0", NumberParser{}));
}

TEST(BuildUpdateReply, PagesAndTheirReplies) {
    const std::u16string not_found = u"NO|未找到更新信息";
    EXPECT_EQ(std::u16string(kNotFoundReply), not_found);
    const struct {
        const char* name;
        std::u16string page, reply, app_name = u"Korvane";
    } rows[] = {
        {"newer", u"var w = [\n" + Entry(u"Korvane 1.0.1", kLink) + u"];",
         u"OK|True|1.0.1|" + kDecodedLink},
        {"same version", u"var w = [\n" + Entry(u"Korvane 1.0.0", kLink) + u"];",
         u"OK|False|1.0.0|" + kDecodedLink},
        {"only the first entry of the product counts",
         Entry(u"Other 9.0.0", u"other") + Entry(u"Korvane 1.0.0", u"first") +
             Entry(u"Korvane 2.0.0", u"second"),
         u"OK|False|1.0.0|first"},
        {"empty page", u"", not_found},
        {"upper-case marker", u"{\"Title\":'Korvane 1.0.1',\"imgsrc\":'x'}", not_found},
        {"lower-case product", u"{\"title\":'korvane 1.0.1'}", not_found},
        {"product not right after the marker", u"{\"title\": 'Korvane 1.0.1'}", not_found},
        // Fields are copied as found.
        {"no separator: the version loses its first character", Entry(u"Korvane1.0.1", u"l"),
         u"OK|True|.0.1|l"},
        {"a bar in the version", Entry(u"Korvane 1.0|beta", u"l"), u"OK|True|1.0|beta|l"},
        {"any separator; positions count characters", Entry(u"科瓦-2.0.0", u"下载"),
         u"OK|True|2.0.0|下载", u"科瓦"},
        // The address comes only from the same entry.
        {"link in the next entry",
         u"{\"title\":'Korvane 1.0.1'},{\"title\":'Other',\"imgsrc\":'x'}", u"OK|True|1.0.1|"},
        {"no closing apostrophe: up to the next title's quote",
         u"{\"title\":'Korvane 1.0.1',\"imgsrc\":'abc,\"title\":'X'", u"OK|True|1.0.1|abc,\""},
        {"undecodable link kept raw", Entry(u"Korvane 1.0.1", u"http\\xZZ"),
         u"OK|True|1.0.1|http\\xZZ"},
        {"empty link", Entry(u"Korvane 1.0.1", u""), u"OK|True|1.0.1|"},
        // Truncated pages never read past the end.
        {"cut after the product", u"\"title\":'Korvane", u"OK|True||"},
        {"no apostrophe: empty version", u"\"title\":'Korvane 1", u"OK|True||"},
        {"cut at the link's name", u"\"title\":'Korvane 1.0.0',\"imgsrc\"", u"OK|False|1.0.0|"},
        {"cut at the link's start", u"\"title\":'Korvane 1.0.0',\"imgsrc\":'", u"OK|False|1.0.0|"},
        {"cut in the link", u"\"title\":'Korvane 1.0.0',\"imgsrc\":'a", u"OK|False|1.0.0|a"},
        {"cut at the next title", u"\"title\":'Korvane 1.0.0',\"title\"", u"OK|False|1.0.0|"},
    };
    for (const auto& row : rows) {
        // Copy into an exactly sized buffer so ASan sees any overrun.
        const std::vector<char16_t> buffer(row.page.begin(), row.page.end());
        EXPECT_EQ(Reply(std::u16string_view(buffer.data(), buffer.size()), row.app_name), row.reply)
            << row.name;
    }
    // An unescaper that throws also keeps the raw value.
    const Unescaper throwing = [](std::u16string_view) -> std::optional<std::u16string> {
        throw std::runtime_error("bad");
    };
    EXPECT_EQ(
        BuildUpdateReply(Entry(u"Korvane 1.0.1", kLink), u"Korvane", ParsePlainNumber, throwing),
        u"OK|True|1.0.1|" + kLink);
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

TEST(ExtractDateText, FromMarkerOrNinthCharacterToTheDayCharacter) {
    const std::u16string page =
        u"<html><body><span class=\"STYLE1\">2013年5月8日 星期三</span></body></html>";
    EXPECT_EQ(ExtractDateText(page), u"2013年5月8日");
    EXPECT_EQ(ParseChineseDate(ExtractDateText(page)), 41402.0);

    // No marker: the date text starts at the page's ninth character.
    EXPECT_EQ(ExtractDateText(u"12345678 2020年1月2日 x"), u" 2020年1月2日");
    EXPECT_EQ(ExtractDateText(u"日2345678abc日"), u"abc日");
    // A "日" before the start point does not count.
    EXPECT_EQ(ExtractDateText(u"日 <b class=\"STYLE1\">no date</b>"), u"");
    // Empty without a day character or past the end.
    for (const auto* page : {u"<span class=\"STYLE1\">2013年5月8</span>", u"", u"12345678",
                             u"\"STYLE1\"", u"\"STYLE1\">"}) {
        EXPECT_EQ(ExtractDateText(page), u"") << std::u16string(page).size();
    }
    EXPECT_EQ(ExtractDateText(u"\"STYLE1\">日"), u"日");
    EXPECT_EQ(ParseChineseDate(u""), std::nullopt);
}

TEST(ParseChineseDate, SerialsOfValidDatesOnly) {
    // From "13年5月8日" on, a one- or two-digit year, which falls in 1930..2029.
    const std::pair<const char16_t*, double> dates[] = {
        {u"1899年12月30日", 0.0},    {u"1900年1月1日", 2.0},
        {u"2000年1月1日", 36526.0},  {u"9999年12月31日", 2958465.0},
        {u"100年1月1日", -657434.0}, {u" 2013 年 05 月 08 日 ", 41402.0},
        {u"13年5月8日", 41402.0},    {u"99年1月1日", 36161.0},
        {u"29年12月31日", 47483.0},  {u"30年1月1日", 10959.0},
        {u"5年1月1日", 38353.0}};
    for (const auto& [date, serial] : dates) EXPECT_EQ(ParseChineseDate(date), serial) << serial;
    // Invalid dates and other forms.
    for (const auto* bad : {u"2013年2月30日", u"2013年2月29日", u"1900年2月29日", u"2013年13月1日",
                            u"2013年0月1日", u"2013年4月31日", u"2013年5月8", u"2013年5月8日星期三",
                            u"年5月8日", u"2013-5-8", u"12345年1月1日", u"099年1月1日",
                            u"2013年123月1日", u"-2013年5月8日", u"2013年5月8日日"}) {
        EXPECT_EQ(ParseChineseDate(bad), std::nullopt) << std::u16string(bad).size();
    }
}

}  // namespace
}  // namespace korvane::update
