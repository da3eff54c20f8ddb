#pragma once
// The window-free part of the Detection class: reading the update page into
// the update reply, and reading the date page. Portable: no Windows headers.
//
// All searches are case-sensitive, take the first occurrence and count
// positions in UTF-16 characters.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::update {

// The library's own version, which published versions are compared against:
// the project version, which also feeds the version resource of Update.dll.
#if !defined(KORVANE_VERSION_MAJOR) || !defined(KORVANE_VERSION_MINOR) || \
    !defined(KORVANE_VERSION_PATCH)
#error "KORVANE_VERSION_MAJOR, _MINOR and _PATCH come from the project version in CMake"
#endif
inline constexpr double kCurrentMajor = KORVANE_VERSION_MAJOR;
inline constexpr double kCurrentMinor = KORVANE_VERSION_MINOR;
inline constexpr double kCurrentRevision = KORVANE_VERSION_PATCH;

inline constexpr std::u16string_view kNotFoundReply = u"NO|未找到更新信息";

// Text to number in the user's locale; nullopt when the text does not convert.
// An exception thrown by it counts as "does not convert".
using NumberParser = std::function<std::optional<double>(std::u16string_view)>;
// Backslash-escape decoding; nullopt when the text does not decode.
// An exception thrown by it counts as "does not decode".
using Unescaper = std::function<std::optional<std::u16string>(std::u16string_view)>;

// True when version_text counts as later than the library's own version.
// The text splits at its first dot into major and remainder, the remainder
// at its first dot into minor and revision (no dot: empty part before it).
// Then, in order: revision > R sets the flag to !(minor < m || major < M);
// minor > m sets it to !(major < M); major > M sets it to true. A comparison
// with a part that does not convert (an empty part included) is satisfied.
bool IsNewerVersion(std::u16string_view version_text, const NumberParser& to_number);

// The update reply for a fetched page: exactly kNotFoundReply when the page
// has no "\"title\":'" + app_name, else "OK|" + "True"/"False" + "|" + version
// + "|" + download address. Never reads outside the page, whatever its end.
std::u16string BuildUpdateReply(std::u16string_view page, std::u16string_view app_name,
                                const NumberParser& to_number, const Unescaper& unescape);

// The date text of a date page: from the "STYLE1" marker (or the page's ninth
// character) up to and including the first "日"; empty when there is none.
std::u16string ExtractDateText(std::u16string_view page);

// "<year>年<month>月<day>日" as an automation date (days since 1899-12-30);
// nullopt for any other form or an invalid date. Whitespace around the parts
// is allowed; a one- or two-digit year means 1930..2029.
std::optional<double> ParseChineseDate(std::u16string_view date_text);

// A plain decimal number ("12", "-0.5", "3."), the whole text and nothing
// else; nullopt otherwise (empty text included). A portable stand-in for the
// locale conversion, exact for the version parts that pages carry.
std::optional<double> ParsePlainNumber(std::u16string_view text);

}  // namespace korvane::update
