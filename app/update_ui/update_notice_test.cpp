#include "update_notice.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

constexpr wchar_t kAddress[] = L"http://127.0.0.1/download/Korvane-1.0.1.zip";

TEST(SplitReply, SplitsAtEveryBar) {
    EXPECT_EQ(SplitReply(L"OK|True|1.0.1|http://a/"),
              (std::vector<std::wstring>{L"OK", L"True", L"1.0.1", L"http://a/"}));
    EXPECT_EQ(SplitReply(L"OK|False|1.0.0|"),
              (std::vector<std::wstring>{L"OK", L"False", L"1.0.0", L""}));
    EXPECT_EQ(SplitReply(L""), (std::vector<std::wstring>{L""}));
    EXPECT_EQ(SplitReply(L"NO|未找到更新信息"),
              (std::vector<std::wstring>{L"NO", L"未找到更新信息"}));
}

TEST(ReplyAtLoad, NewerWithCheck1TickedGivesTheNotice) {
    const NoticeAtLoad result = ReplyAtLoad(std::wstring(L"OK|True|1.0.1|") + kAddress, 1);
    EXPECT_TRUE(result.newer);
    ASSERT_TRUE(result.notice);
    EXPECT_EQ(*result.notice, (Notice{L"新版本提示",
                                      L"       检测到版本有更新!\r\n\r\n当前版本：1.0.0\r\n"
                                      L"最新版本：1.0.1",
                                      std::nullopt, kAddress}));
}

TEST(ReplyAtLoad, WithoutCheck1OnlyTheLinkElseNothing) {
    for (int check1 : {0, 2}) {
        const NoticeAtLoad result = ReplyAtLoad(L"OK|True|1.0.1|http://a/", check1);
        EXPECT_TRUE(result.newer) << check1;
        EXPECT_FALSE(result.notice) << check1;
    }
    // Anything else changes nothing.
    for (const wchar_t* reply : {L"OK|False|1.0.0|http://a/", L"NO|未找到更新信息", L"",
                                 L"ok|True|1.0.1|http://a/", L"OK|true|1.0.1|http://a/"}) {
        const NoticeAtLoad result = ReplyAtLoad(reply, 1);
        EXPECT_FALSE(result.newer) << reply;
        EXPECT_FALSE(result.notice) << reply;
    }
}

TEST(ReplyOnRequest, NewerOrUpToDate) {
    EXPECT_EQ(
        ReplyOnRequest(std::wstring(L"OK|True|2.0.0|") + kAddress),
        (Notice{L"新版本提示", L"       检测到有新版本!\r\n\r\n当前版本：1.0.0\r\n最新版本：2.0.0",
                std::nullopt, kAddress}));
    // Up to date: the button is set and there is no tag.
    EXPECT_EQ(
        ReplyOnRequest(L"OK|False|1.0.0|http://a/"),
        (Notice{L"版本信息", L"       已是最新版本!\r\n\r\n当前版本：1.0.0\r\n最新版本：1.0.0",
                L"确定", std::nullopt}));
}

TEST(ReplyOnRequest, NoInformationHasNoLatestVersionLine) {
    const Notice expected{L"错误提示", L"       获取更新信息失败!\r\n\r\n当前版本：1.0.0", L"确定",
                          std::nullopt};
    EXPECT_EQ(ReplyOnRequest(L"NO|未找到更新信息"), expected);
    // No reply at all (no component) and a lower-case status count the same.
    EXPECT_EQ(ReplyOnRequest(L""), expected);
    EXPECT_EQ(ReplyOnRequest(L"ok|True|1.0.1|http://a/"), expected);
}

TEST(ReplyOnRequest, BarInTheVersionShiftsTheFields) {
    const Notice notice = ReplyOnRequest(L"OK|True|1.0|beta|http://a/");
    EXPECT_EQ(notice.message, L"       检测到有新版本!\r\n\r\n当前版本：1.0.0\r\n最新版本：1.0");
    EXPECT_EQ(notice.tag, L"beta");
}

TEST(IsOpenableAddress, OnlyWebAddresses) {
    EXPECT_TRUE(IsOpenableAddress(kAddress));
    EXPECT_TRUE(IsOpenableAddress(L"https://example.com/Korvane.zip"));
    EXPECT_TRUE(IsOpenableAddress(L"HTTP://EXAMPLE.COM/"));
    EXPECT_TRUE(IsOpenableAddress(L"Https://example.com/下载"));
    for (const wchar_t* address :
         {L"", L"http://", L"https://", L"http:/example.com", L"file:///C:/windows/notepad.exe",
          L"C:\\Windows\\notepad.exe", L"ftp://example.com/", L" http://example.com/",
          L"javascript:alert(1)", L"http://example.com/\" --flag", L"http://a/ b", L"http://a/\tb",
          L"httpx://a/"}) {
        EXPECT_FALSE(IsOpenableAddress(address)) << address;
    }
}

}  // namespace
}  // namespace korvane
