#include "update_reply.h"

#include <charconv>
#include <cstdint>
#include <system_error>

namespace korvane::update {
namespace {

constexpr std::u16string_view kTitleMarker = u"\"title\":'";  // followed by the product name
constexpr std::u16string_view kNextTitleMarker = u"\"title\"";
constexpr std::u16string_view kImageMarker = u"\"imgsrc\"";
constexpr std::u16string_view kDateMarker = u"\"STYLE1\"";

// Characters skipped after the start of a match.
constexpr std::size_t kTitleSkip = 10;         // marker (9) + separator after the product name
constexpr std::size_t kImageSkip = 10;         // marker (8) + ":'"
constexpr std::size_t kDateSkip = 9;           // marker (8) + end of the tag
constexpr std::size_t kDateFallbackStart = 8;  // the page's ninth character

// The text from `start` on; empty when `start` lies past the end.
std::u16string_view Rest(std::u16string_view text, std::size_t start) {
    return start < text.size() ? text.substr(start) : std::u16string_view{};
}

std::optional<double> ToNumber(const NumberParser& to_number, std::u16string_view text) {
    try {
        return to_number(text);
    } catch (...) {
        return std::nullopt;  // a parser that fails counts as "does not convert"
    }
}

std::optional<std::u16string> Unescape(const Unescaper& unescape, std::u16string_view text) {
    try {
        return unescape(text);
    } catch (...) {
        return std::nullopt;
    }
}

struct DotSplit {
    std::u16string_view before;
    std::u16string_view after;
};

// Split at the first dot; without one the whole text is the part after it.
DotSplit SplitAtFirstDot(std::u16string_view text) {
    const auto dot = text.find(u'.');
    if (dot == std::u16string_view::npos) return {{}, text};
    return {text.substr(0, dot), text.substr(dot + 1)};
}

// A comparison with a part that does not convert counts as satisfied.
bool GreaterOrUnknown(const std::optional<double>& part, double current) {
    return !part || *part > current;
}
bool LessOrUnknown(const std::optional<double>& part, double current) {
    return !part || *part < current;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\u3000';
}

void SkipSpaces(std::u16string_view text, std::size_t& pos) {
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
}

// Up to max_digits decimal digits at pos; nullopt when there are none or more.
std::optional<int> ReadNumber(std::u16string_view text, std::size_t& pos, int max_digits,
                              int& digit_count) {
    int value = 0;
    digit_count = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
        if (++digit_count > max_digits) return std::nullopt;
        value = value * 10 + (text[pos] - u'0');
        ++pos;
    }
    if (digit_count == 0) return std::nullopt;
    return value;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

}  // namespace

bool IsNewerVersion(std::u16string_view version_text, const NumberParser& to_number) {
    const auto [major_text, remainder] = SplitAtFirstDot(version_text);
    const auto [minor_text, revision_text] = SplitAtFirstDot(remainder);
    const auto major = ToNumber(to_number, major_text);
    const auto minor = ToNumber(to_number, minor_text);
    const auto revision = ToNumber(to_number, revision_text);

    // Three tests in this order, each may overwrite the flag.
    bool newer = false;
    if (GreaterOrUnknown(revision, kCurrentRevision)) {
        newer = !(LessOrUnknown(minor, kCurrentMinor) || LessOrUnknown(major, kCurrentMajor));
    }
    if (GreaterOrUnknown(minor, kCurrentMinor)) {
        newer = !LessOrUnknown(major, kCurrentMajor);
    }
    if (GreaterOrUnknown(major, kCurrentMajor)) {
        newer = true;
    }
    return newer;
}

std::u16string BuildUpdateReply(std::u16string_view page, std::u16string_view app_name,
                                const NumberParser& to_number, const Unescaper& unescape) {
    // The entry: the first title that begins with the product name.
    std::u16string marker(kTitleMarker);
    marker.append(app_name);
    const auto match = page.find(marker);
    if (match == std::u16string_view::npos) return std::u16string(kNotFoundReply);

    // Skip marker, product name and one separator; stop at the next entry's title.
    auto entry = Rest(page, match + kTitleSkip + app_name.size());
    const auto next_title = entry.find(kNextTitleMarker);
    if (next_title != std::u16string_view::npos) entry = entry.substr(0, next_title + 1);

    const auto apostrophe = entry.find(u'\'');
    const auto version = apostrophe == std::u16string_view::npos ? std::u16string_view{}
                                                                 : entry.substr(0, apostrophe);

    std::u16string reply = u"OK|";
    reply += IsNewerVersion(version, to_number) ? u"True" : u"False";
    reply += u'|';
    reply += version;
    reply += u'|';

    const auto image = entry.find(kImageMarker);
    if (image != std::u16string_view::npos) {
        auto link = Rest(entry, image + kImageSkip);
        const auto end = link.find(u'\'');
        if (end != std::u16string_view::npos) link = link.substr(0, end);
        if (const auto decoded = Unescape(unescape, link)) {
            reply += *decoded;
        } else {
            reply += link;  // undecodable: the raw value
        }
    }
    return reply;
}

std::u16string ExtractDateText(std::u16string_view page) {
    const auto marker = page.find(kDateMarker);
    const auto text =
        Rest(page, marker == std::u16string_view::npos ? kDateFallbackStart : marker + kDateSkip);
    const auto day = text.find(u'日');
    if (day == std::u16string_view::npos) return {};
    return std::u16string(text.substr(0, day + 1));
}

std::optional<double> ParseChineseDate(std::u16string_view date_text) {
    std::size_t pos = 0;
    int digits = 0;
    const auto expect = [&](char16_t c) {
        SkipSpaces(date_text, pos);
        if (pos >= date_text.size() || date_text[pos] != c) return false;
        ++pos;
        SkipSpaces(date_text, pos);
        return true;
    };

    SkipSpaces(date_text, pos);
    auto year = ReadNumber(date_text, pos, 4, digits);
    if (!year) return std::nullopt;
    if (digits <= 2) {
        *year += *year < 30 ? 2000 : 1900;  // two-digit years: 1930..2029
    } else if (*year < 100) {
        return std::nullopt;  // automation dates start at year 100
    }
    if (!expect(u'年')) return std::nullopt;
    const auto month = ReadNumber(date_text, pos, 2, digits);
    if (!month || !expect(u'月')) return std::nullopt;
    const auto day = ReadNumber(date_text, pos, 2, digits);
    if (!day || !expect(u'日')) return std::nullopt;
    if (pos != date_text.size()) return std::nullopt;

    if (*month < 1 || *month > 12 || *day < 1 || *day > DaysInMonth(*year, *month)) {
        return std::nullopt;
    }
    return static_cast<double>(DaysFromCivil(*year, *month, *day) - DaysFromCivil(1899, 12, 30));
}

std::optional<double> ParsePlainNumber(std::u16string_view text) {
    // Sign, digits, optionally a dot and more digits: nothing else.
    std::string ascii;
    ascii.reserve(text.size());
    std::size_t pos = 0;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        if (text[pos] == u'-') ascii += '-';
        ++pos;
    }
    bool any_digit = false;
    bool seen_dot = false;
    for (; pos < text.size(); ++pos) {
        const char16_t c = text[pos];
        if (IsDigit(c)) {
            any_digit = true;
        } else if (c == u'.' && !seen_dot) {
            seen_dot = true;
        } else {
            return std::nullopt;
        }
        ascii += static_cast<char>(c);
    }
    if (!any_digit) return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (error != std::errc{} || end != ascii.data() + ascii.size()) return std::nullopt;
    return value;
}

}  // namespace korvane::update
