#include "frm_msgbox.h"

#include <shellapi.h>

#include "dpi.h"
#include "twips.h"
#include "update_notice.h"
#include "wide_text.h"

namespace korvane {
namespace {

constexpr wchar_t kClassName[] = L"KorvaneFrmMsgbox";
// Fixed-size tool window with a close button only.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW | WS_EX_WINDOWEDGE;
constexpr int kLabel1Id = 1;
constexpr int kCommand1Id = 2;
// Flags of Form_Load.
constexpr UINT kFormLoadFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;

// Designed layout, twips.
constexpr float kClientWidth = 3735.0f;
constexpr float kClientHeight = 2160.0f;
constexpr RECT kLabel1Twips{360, 240, 360 + 3015, 240 + 1095};
constexpr RECT kCommand1Twips{960, 1560, 960 + 1935, 1560 + 375};
constexpr float kFontPoints = 9.0f;
constexpr wchar_t kDownloadCaption[] = L"下载新版本";  // Command1's designed caption

// Outer size of the window for the designed client area at a DPI; used to
// place the window before it exists.
SIZE OuterSize(unsigned dpi) {
    RECT rect{0, 0, TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight, dpi)};
    AdjustWindowRectEx(&rect, kStyle, FALSE, kExStyle);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace

FrmMsgbox& FrmMsgbox::Instance() {
    // Never destroyed: the window may outlive static destruction at exit.
    static FrmMsgbox* instance = new FrmMsgbox;
    return *instance;
}

std::wstring FrmMsgbox::Caption() {
    EnsureLoaded();
    return WindowText(hwnd());
}

void FrmMsgbox::SetCaption(const std::wstring& text) {
    EnsureLoaded();
    SetWindowTextW(hwnd(), text.c_str());
}

std::wstring FrmMsgbox::Label1Caption() {
    EnsureLoaded();
    return WindowText(label1_);
}

void FrmMsgbox::SetLabel1Caption(const std::wstring& text) {
    EnsureLoaded();
    SetWindowTextW(label1_, text.c_str());
}

const std::wstring& FrmMsgbox::Label1Tag() {
    EnsureLoaded();
    return tag_;
}

void FrmMsgbox::SetLabel1Tag(const std::wstring& text) {
    EnsureLoaded();
    tag_ = text;
}

std::wstring FrmMsgbox::Command1Caption() {
    EnsureLoaded();
    return WindowText(command1_);
}

void FrmMsgbox::SetCommand1Caption(const std::wstring& text) {
    EnsureLoaded();
    SetWindowTextW(command1_, text.c_str());
}

void FrmMsgbox::Show() {
    EnsureLoaded();
    ShowWindow(hwnd(), SW_SHOWNA);
}

void FrmMsgbox::Unload() {
    if (IsLoaded()) DestroyWindow(hwnd());
}

void FrmMsgbox::Command1_Click() {
    // A copy: opening may dispatch messages that refill the dialog.
    const std::wstring address = Label1Tag();
    // Only the download button opens: a dialog still open from a new-version
    // notice keeps its Tag when a later check turns the button into "确定".
    const bool download = Command1Caption() == kDownloadCaption;
    if (download && !address.empty() && IsOpenableAddress(address)) {
        ShellExecuteW(hwnd(), L"open", address.c_str(), L"", L"", SW_SHOWNORMAL);
    }
    Unload();
}

RECT FrmMsgbox::Command1ScreenRect() {
    EnsureLoaded();
    RECT rect{};
    GetWindowRect(command1_, &rect);
    return rect;
}

void FrmMsgbox::EnsureLoaded() {
    if (IsLoaded()) return;
    RegisterClassOnce(kClassName);
    tag_.clear();

    // Centred on the work area of the primary monitor, at the system DPI
    // until the window knows its own.
    const unsigned system_dpi = SystemDpi();
    const SIZE size = OuterSize(system_dpi);
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - size.cx) / 2;
    const int y = work.top + (work.bottom - work.top - size.cy) / 2;
    CreateArgs args;
    args.class_name = kClassName;
    args.title = L"温馨提示";
    args.style = kStyle;
    args.ex_style = kExStyle;
    args.x = x;
    args.y = y;
    args.width = size.cx;
    args.height = size.cy;
    CreateWindowFor(args);
    if (!hwnd()) FailFatally(L"无法创建窗口。");

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    label1_ =
        CreateWindowExW(0, L"STATIC", L"Label1", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0,
                        0, 0, 0, hwnd(), reinterpret_cast<HMENU>(kLabel1Id), instance, nullptr);
    command1_ = CreateWindowExW(0, L"BUTTON", kDownloadCaption,
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
                                hwnd(), reinterpret_cast<HMENU>(kCommand1Id), instance, nullptr);
    if (!label1_ || !command1_) FailFatally(L"无法创建窗口。");

    dpi_ = WindowDpi(hwnd());
    ApplyLayout();
    Form_Load();
}

void FrmMsgbox::Form_Load() { SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, kFormLoadFlags); }

// Sizes the window and places the controls at the window's DPI.
void FrmMsgbox::ApplyLayout() {
    LOGFONTW lf{};
    lf.lfHeight = FontHeightForPoints(kFontPoints, dpi_);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = GB2312_CHARSET;
    lstrcpynW(lf.lfFaceName, L"宋体", LF_FACESIZE);
    // The controls take the new font before the old one is deleted.
    UniqueFont font(CreateFontIndirectW(&lf));
    const HFONT shown = font ? font.get() : font_.get();

    // The designed client area plus the frame the window has now.
    RECT outer{};
    RECT client{};
    GetWindowRect(hwnd(), &outer);
    GetClientRect(hwnd(), &client);
    const int width = TwipsToPixels(kClientWidth, dpi_) + (outer.right - outer.left) - client.right;
    const int height =
        TwipsToPixels(kClientHeight, dpi_) + (outer.bottom - outer.top) - client.bottom;
    SetWindowPos(hwnd(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    auto place = [this, shown](HWND control, const RECT& twips) {
        const int left = TwipsToPixels(static_cast<float>(twips.left), dpi_);
        const int top = TwipsToPixels(static_cast<float>(twips.top), dpi_);
        const int right = TwipsToPixels(static_cast<float>(twips.right), dpi_);
        const int bottom = TwipsToPixels(static_cast<float>(twips.bottom), dpi_);
        MoveWindow(control, left, top, right - left, bottom - top, TRUE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(shown), TRUE);
    };
    place(label1_, kLabel1Twips);
    place(command1_, kCommand1Twips);
    if (font) font_ = std::move(font);
}

void FrmMsgbox::OnDpiChanged(unsigned dpi, const RECT& suggested) {
    dpi_ = dpi;
    SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyLayout();
}

LRESULT FrmMsgbox::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wparam) == kCommand1Id && HIWORD(wparam) == BN_CLICKED) {
                Command1_Click();
                return 0;
            }
            break;
        case WM_ERASEBKGND: {
            RECT rect;
            GetClientRect(hwnd(), &rect);
            FillRect(reinterpret_cast<HDC>(wparam), &rect, GetSysColorBrush(COLOR_BTNFACE));
            return 1;
        }
        case WM_CTLCOLORSTATIC:
            SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_BTNFACE));
            SetTextColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_BTNTEXT));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        case WM_DPICHANGED:
            OnDpiChanged(LOWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
            return 0;
        case WM_NCDESTROY:
            // Unloaded: the next use starts from the designed state.
            label1_ = nullptr;
            command1_ = nullptr;
            tag_.clear();
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd(), message, wparam, lparam);
}

}  // namespace korvane
