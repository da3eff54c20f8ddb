// What the update check tells the user: the update reply split into its
// fields, and the notice each kind of reply gives. Window-free, so the rules
// build and are tested natively.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// The two texts passed to Updates after the account number.
inline constexpr wchar_t kProductName[] = L"Korvane";
// Label9's caption once a newer version is known.
inline constexpr wchar_t kDownloadLinkCaption[] = L"下载新版";
// The version this program shows the user.
inline constexpr wchar_t kCurrentVersionLine[] = L"当前版本：" KORVANE_VERSION;

// The reply split at every "|"; an empty reply gives one empty field.
std::vector<std::wstring> SplitReply(std::wstring_view reply);

// What one check writes into FrmMsgbox, in this order: the caption, Label1's
// caption, then the button caption or Label1.Tag where they are set.
struct Notice {
    std::wstring caption;
    std::wstring message;
    std::optional<std::wstring> button_caption;
    std::optional<std::wstring> tag;

    friend bool operator==(const Notice&, const Notice&) = default;
};

// The automatic check when the panel loads.
struct NoticeAtLoad {
    // A newer version exists: Label9 becomes kDownloadLinkCaption.
    bool newer = false;
    // Only with Check1 = 1: the notice to show.
    std::optional<Notice> notice;
};
NoticeAtLoad ReplyAtLoad(std::wstring_view reply, int check1);

// The check on request always answers.
Notice ReplyOnRequest(std::wstring_view reply);

// Whether FrmMsgbox may open this download address: only a web address,
// "http://" or "https://" (the scheme in any letter case) and more, without
// blanks, double quotes or control characters. The address comes from a page
// fetched over plain HTTP without authentication, so anything else (file:,
// a program path, another scheme) is never handed to the shell.
bool IsOpenableAddress(std::wstring_view address);

}  // namespace korvane
