#include "common_dialogs.h"

#include <commdlg.h>

#include <vector>

namespace korvane {

std::optional<COLORREF> ChooseColourDialog(HWND owner, COLORREF initial) {
    // The custom colours last for the run, as in any Windows program.
    static COLORREF custom[16] = {};
    CHOOSECOLORW cc{};
    cc.lStructSize = sizeof cc;
    cc.hwndOwner = owner;
    cc.rgbResult = initial;
    cc.lpCustColors = custom;
    cc.Flags = CC_RGBINIT | CC_ANYCOLOR;
    if (!ChooseColorW(&cc)) return std::nullopt;
    return cc.rgbResult;
}

std::optional<FontChoice> ChooseFontDialog(HWND owner, const LOGFONTW& initial, unsigned dpi) {
    LOGFONTW font = initial;
    CHOOSEFONTW cf{};
    cf.lStructSize = sizeof cf;
    cf.hwndOwner = owner;
    cf.lpLogFont = &font;
    cf.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT;
    // The dialog measures sizes at the screen DC's DPI; rescale to ours.
    HDC screen = GetDC(nullptr);
    const int screen_dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    font.lfHeight = MulDiv(initial.lfHeight, screen_dpi, static_cast<int>(dpi));
    if (!ChooseFontW(&cf)) return std::nullopt;
    return FontChoice{font, static_cast<float>(cf.iPointSize) / 10.0f};
}

std::optional<std::wstring> OpenFileDialog(HWND owner, const std::wstring& filter) {
    // "a|b|c|d" becomes "a\0b\0c\0d\0\0".
    std::vector<wchar_t> pairs(filter.begin(), filter.end());
    for (wchar_t& c : pairs) {
        if (c == L'|') c = L'\0';
    }
    pairs.push_back(L'\0');
    pairs.push_back(L'\0');
    std::vector<wchar_t> path(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = pairs.data();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path.data();
    ofn.nMaxFile = static_cast<DWORD>(path.size());
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&ofn) || path[0] == L'\0') return std::nullopt;
    return std::wstring(path.data());
}

}  // namespace korvane
