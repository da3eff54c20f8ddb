#pragma once
// The window-free part of the Detection class: reading the update page into
// the update reply, and reading the date page.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::update {

// The library's own version, which published versions are compared against.
inline constexpr double kCurrentMajor = 1;
inline constexpr double kCurrentMinor = 0;
inline constexpr double kCurrentRevision = 0;

inline constexpr std::u16string_view kNotFoundReply = u"NO|未找到更新信息";

// Text to number in the user's locale; nullopt when the text does not convert.
using NumberParser = std::function<std::optional<double>(std::u16string_view)>;
// Backslash-escape decoding; nullopt when the text does not decode.
using Unescaper = std::function<std::optional<std::u16string>(std::u16string_view)>;

// True when versionText counts as later than the library's own version.
bool IsNewerVersion(std::u16string_view versionText, const NumberParser& toNumber);

// The update reply for a fetched page ("NO|..." or "OK|flag|version|address").
std::u16string BuildUpdateReply(std::u16string_view page, std::u16string_view appName,
                                const NumberParser& toNumber, const Unescaper& unescape);

// The date text of a date page: from the "STYLE1" marker (or the page's ninth
// character) up to and including the first "日"; empty when there is none.
std::u16string ExtractDateText(std::u16string_view page);

// "<year>年<month>月<day>日" as an automation date (days since 1899-12-30);
// nullopt for any other form or an invalid date.
std::optional<double> ParseChineseDate(std::u16string_view dateText);

}  // namespace korvane::update
