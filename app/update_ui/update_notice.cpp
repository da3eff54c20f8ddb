#include "update_notice.h"

namespace korvane {
namespace {

constexpr std::wstring_view kLineBreak = L"\r\n";
constexpr wchar_t kNewerCaption[] = L"新版本提示";
constexpr wchar_t kUpToDateCaption[] = L"版本信息";
constexpr wchar_t kErrorCaption[] = L"错误提示";
constexpr wchar_t kOkButton[] = L"确定";
constexpr wchar_t kNewerAtLoad[] = L"       检测到版本有更新!";
constexpr wchar_t kNewerOnRequest[] = L"       检测到有新版本!";
constexpr wchar_t kUpToDate[] = L"       已是最新版本!";
constexpr wchar_t kNoInformation[] = L"       获取更新信息失败!";
constexpr wchar_t kLatestVersion[] = L"最新版本：";

// Field `index`, or empty where the reply is shorter.
std::wstring Field(const std::vector<std::wstring>& fields, std::size_t index) {
    return index < fields.size() ? fields[index] : std::wstring();
}

bool IsFound(const std::vector<std::wstring>& fields) { return Field(fields, 0) == L"OK"; }

bool IsNewer(const std::vector<std::wstring>& fields) {
    return IsFound(fields) && Field(fields, 1) == L"True";
}

// The first line, a blank line and the current version.
std::wstring Message(std::wstring_view first_line) {
    std::wstring text(first_line);
    text += kLineBreak;
    text += kLineBreak;
    text += kCurrentVersionLine;
    return text;
}

// ... followed by the latest version, field 2.
std::wstring MessageWithLatest(std::wstring_view first_line,
                               const std::vector<std::wstring>& fields) {
    std::wstring text = Message(first_line);
    text += kLineBreak;
    text += kLatestVersion;
    text += Field(fields, 2);
    return text;
}

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

std::vector<std::wstring> SplitReply(std::wstring_view reply) {
    std::vector<std::wstring> fields;
    for (;;) {
        const std::size_t bar = reply.find(L'|');
        fields.emplace_back(reply.substr(0, bar));
        if (bar == std::wstring_view::npos) return fields;
        reply.remove_prefix(bar + 1);
    }
}

NoticeAtLoad ReplyAtLoad(std::wstring_view reply, int check1) {
    const std::vector<std::wstring> fields = SplitReply(reply);
    NoticeAtLoad result;
    if (!IsNewer(fields)) return result;
    result.newer = true;
    if (check1 == 1) {
        result.notice = Notice{kNewerCaption, MessageWithLatest(kNewerAtLoad, fields), std::nullopt,
                               Field(fields, 3)};
    }
    return result;
}

Notice ReplyOnRequest(std::wstring_view reply) {
    const std::vector<std::wstring> fields = SplitReply(reply);
    if (!IsFound(fields)) return Notice{kErrorCaption, Message(kNoInformation), kOkButton, {}};
    if (!IsNewer(fields)) {
        return Notice{kUpToDateCaption, MessageWithLatest(kUpToDate, fields), kOkButton, {}};
    }
    return Notice{kNewerCaption, MessageWithLatest(kNewerOnRequest, fields), std::nullopt,
                  Field(fields, 3)};
}

bool IsOpenableAddress(std::wstring_view address) {
    std::size_t scheme = 0;
    if (StartsWithIgnoringCase(address, L"http://")) {
        scheme = 7;
    } else if (StartsWithIgnoringCase(address, L"https://")) {
        scheme = 8;
    } else {
        return false;
    }
    if (address.size() == scheme) return false;
    // The shell passes the address to the browser inside double quotes: a
    // quote, a blank or a control character could add arguments of its own.
    for (wchar_t c : address) {
        if (c <= L' ' || c == L'"' || c == 0x7F) return false;
    }
    return true;
}

}  // namespace korvane
