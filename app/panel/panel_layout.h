// The panel's controls as one table: what creation, layout and keyboard
// navigation read. Positions are twips; controls on a tab are placed
// relative to the tab control, the others relative to the client area.
#pragma once

#include <array>

namespace korvane {

enum class ControlKind {
    kTabs,
    kTextBox,
    kButton,
    kLabel,
    kLinkLabel,
    kSwatch,
    kCheckBox,
    kSlider
};

// Which page of the tab control a control sits on; kPanel for none.
enum class Page { kPanel = -1, kText = 0, kFont = 1, kDisplay = 2 };

enum ControlId : int {
    kSSTab1 = 100,
    kText1,
    kCommand1,
    kCommand2,
    kLabel1,
    kPicture1,
    kPicture2,
    kPicture3,
    kLabel4,
    kPicture4,
    kCheck1,
    kLabel3,
    kLabel5,
    kSlider1,
    kLabel6,
    kSlider2,
    kCommand3,
    kCommand5,
    kCommand6,
    kLabel2,
    kLabel7,
    kLabel9,
    kLabel8,
};

struct ControlRow {
    ControlId id;
    ControlKind kind;
    Page page;
    float left, top, width, height;
    const wchar_t* caption;  // nullptr: set at run time
    bool sized_to_text;
    int tab_index;  // keyboard order; -1 takes no focus
};

// The panel's client area and laid-out screen position.
inline constexpr float kPanelClientWidth = 8070.0f;
inline constexpr float kPanelClientHeight = 2565.0f;
inline constexpr float kPanelLaidOutLeft = 6360.0f;
inline constexpr float kPanelLaidOutTop = 7470.0f;
// The tab control's origin, which tab-page positions are relative to.
inline constexpr float kTabsLeft = 120.0f;
inline constexpr float kTabsTop = 120.0f;

inline constexpr const wchar_t* kTabCaptions[] = {L"文字设置", L"字体设置", L"显示属性"};

// clang-format off
inline constexpr std::array<ControlRow, 23> kPanelLayout{{
    {kSSTab1,   ControlKind::kTabs,      Page::kPanel,    120,  120, 6735, 2055, nullptr,                  false, 0},
    {kText1,    ControlKind::kTextBox,   Page::kText,     120,  360, 5295, 1575, L"",                      false, 1},
    {kCommand1, ControlKind::kButton,    Page::kText,    5520,  480, 1095,  495, L"确定",                  false, 2},
    {kCommand2, ControlKind::kButton,    Page::kText,    5520, 1320, 1095,  495, L"导入内容",              false, 3},
    {kLabel1,   ControlKind::kLabel,     Page::kFont,     120,  480,  735,  255, L"字体颜色",              false, -1},
    {kPicture1, ControlKind::kSwatch,    Page::kFont,     960,  480,  495,  255, nullptr,                  false, 4},
    {kPicture2, ControlKind::kSwatch,    Page::kFont,    1560,  480,  495,  255, nullptr,                  false, 7},
    {kPicture3, ControlKind::kSwatch,    Page::kFont,    2160,  480,  495,  255, nullptr,                  false, 8},
    {kLabel4,   ControlKind::kLabel,     Page::kFont,    3000,  480,  735,  255, L"背景颜色",              false, -1},
    {kPicture4, ControlKind::kSwatch,    Page::kFont,    3840,  480,  495,  255, nullptr,                  false, 9},
    {kCheck1,   ControlKind::kCheckBox,  Page::kFont,    4920,  480, 1455,  180, L"有新版本提示",          false, 13},
    {kLabel3,   ControlKind::kLabel,     Page::kFont,     960, 1080, 2580,  300, L"示例内容:单击设置字体", true,  -1},
    {kLabel5,   ControlKind::kLabel,     Page::kDisplay,  240,  600,  360,  180, L"速度",                  true,  -1},
    {kSlider1,  ControlKind::kSlider,    Page::kDisplay,  720,  600, 5775,  375, nullptr,                  false, 10},
    {kLabel6,   ControlKind::kLabel,     Page::kDisplay,  240, 1200,  360,  180, L"宽度",                  true,  -1},
    {kSlider2,  ControlKind::kSlider,    Page::kDisplay,  720, 1200, 5775,  375, nullptr,                  false, 11},
    {kCommand3, ControlKind::kButton,    Page::kPanel,   6960,  240,  975,  375, L"播放",                  false, 12},
    {kCommand5, ControlKind::kButton,    Page::kPanel,   6960,  960,  975,  375, L"暂停",                  false, 5},
    {kCommand6, ControlKind::kButton,    Page::kPanel,   6960, 1680,  975,  375, L"退出",                  false, 6},
    {kLabel2,   ControlKind::kLabel,     Page::kPanel,    120, 2280, 1980,  180, L"欢迎访问我们的主页:",   true,  -1},
    {kLabel7,   ControlKind::kLinkLabel, Page::kPanel,   2160, 2280, 2790,  180, nullptr,                  true,  -1},
    {kLabel9,   ControlKind::kLinkLabel, Page::kPanel,   5520, 2280,  720,  180, L"检测更新",              true,  -1},
    {kLabel8,   ControlKind::kLabel,     Page::kPanel,   6600, 2280, 1260,  180, L"免费软件",              true,  -1},
}};
// clang-format on

}  // namespace korvane
