// Draws a caption the plain way, for the tests to compare the strip with:
// the whole first line of a UTF-8 file in one call, black on white, in a
// font and at places worked out here from the laid-out figures, not taken
// from the strip's code: ExtTextOutW for a line that Uniscribe calls
// simple, ScriptStringOut with Uniscribe's own font fallback and linking
// (SSA_FALLBACK | SSA_LINK) for one it calls complex.
//
//   caption_reference TEXT_FILE POINTS WIDTH HEIGHT OUT_PPM [FONT]
//       the line with its left edge at x = 0 and its top where the strip
//       puts the caption's (105 twips), into a WIDTH x HEIGHT picture
//       written as a binary PPM; FONT is "宋体" unless given.
//   caption_reference compare TEXT_FILE FONT POINTS TICKS [DUMP]
//       the strip itself with that line, started 495 twips from its left
//       edge and ticked until the caption has left it on the left (at most
//       TICKS times): before the first tick and after each, the strip's
//       window is compared with the line drawn whole where the caption
//       must stand, 495 twips less 20 a tick. Prints "frames N, differing
//       M, caption W px wide, crossed yes|no" and the first differing
//       tick, whose two pictures go to DUMP-shown.ppm and
//       DUMP-expected.ppm when asked.
#include <windows.h>
#include <usp10.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "caption_font.h"
#include "form1.h"
#include "no_panel.h"
#include "win_handles.h"

namespace korvane {
namespace {

std::wstring FirstLine(const wchar_t* path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                            static_cast<int>(text.size()))));
    return text.substr(0, text.find_first_of(L"\r\n"));
}

// A 32-bit top-down DIB selected into a memory DC.
struct Picture {
    Picture(int width, int height) : width(width), height(height) {
        WindowDc screen(nullptr);
        dc.reset(CreateCompatibleDC(screen.get()));
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap.reset(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        SelectObject(dc.get(), bitmap.get());
    }
    // The colour of a pixel, without the unused fourth byte.
    std::uint32_t At(int x, int y) const {
        return static_cast<const std::uint32_t*>(bits)[static_cast<std::size_t>(y) * width + x] &
               0xFFFFFFu;
    }
    int width, height;
    void* bits = nullptr;
    UniqueBitmap bitmap;  // declared first: outlives the DC that selects it
    UniqueMemoryDc dc;
};

// The screen's pixels per inch.
int ScreenDpi() {
    WindowDc screen(nullptr);
    return GetDeviceCaps(screen.get(), LOGPIXELSY);
}

// Twips to the nearest pixel: 1440 twips to the inch, halves up.
std::int64_t Pixels(double twips, int dpi) {
    return static_cast<std::int64_t>(std::floor(twips * dpi / 1440.0 + 0.5));
}

// "宋体" in its GB2312 character set, as laid out; any other face in the
// default one, which lets it map to the named face for every script.
BYTE CharsetOf(const std::wstring& name) {
    return name == L"宋体" ? static_cast<BYTE>(GB2312_CHARSET) : static_cast<BYTE>(DEFAULT_CHARSET);
}

// The font at its size in points: a character height of points / 72 inch.
UniqueFont MakeFont(const std::wstring& name, float points, int dpi) {
    LOGFONTW lf{};
    lf.lfHeight = -static_cast<LONG>(std::lround(points * dpi / 72.0));
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = CharsetOf(name);
    lstrcpynW(lf.lfFaceName, name.c_str(), LF_FACESIZE);
    return UniqueFont(CreateFontIndirectW(&lf));
}

// The whole line in one call, black on white, its left edge at x; returns
// its width in pixels.
int DrawWhole(Picture& picture, const std::wstring& text, HFONT font, int x, int y) {
    HDC dc = picture.dc.get();
    PatBlt(dc, 0, 0, picture.width, picture.height, WHITENESS);
    SelectScope select_font(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    const int length = static_cast<int>(text.size());
    int width = 0;
    SCRIPT_STRING_ANALYSIS analysis = nullptr;
    // A left-to-right paragraph with the full bidirectional algorithm.
    SCRIPT_CONTROL control{};
    SCRIPT_STATE state{};
    if (length > 0 && ScriptIsComplex(text.data(), length, SIC_COMPLEX) == S_OK &&
        ScriptStringAnalyse(dc, text.data(), length, length * 3 / 2 + 16, -1,
                            SSA_GLYPHS | SSA_FALLBACK | SSA_LINK, 0, &control, &state, nullptr,
                            nullptr, nullptr, &analysis) == S_OK) {
        ScriptStringOut(analysis, x, y, 0, nullptr, 0, 0, FALSE);
        width = ScriptString_pSize(analysis)->cx;
        ScriptStringFree(&analysis);
    } else {
        ExtTextOutW(dc, x, y, 0, nullptr, text.data(), static_cast<UINT>(length), nullptr);
        SIZE size{};
        GetTextExtentPoint32W(dc, text.data(), length, &size);
        width = size.cx;
    }
    GdiFlush();
    return width;
}

int WritePpm(const wchar_t* path, const Picture& picture) {
    std::FILE* out = _wfopen(path, L"wb");
    if (!out) return 1;
    std::fprintf(out, "P6\n%d %d\n255\n", picture.width, picture.height);
    std::vector<unsigned char> row(static_cast<std::size_t>(picture.width) * 3);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t p = picture.At(x, y);
            row[x * 3] = static_cast<unsigned char>(p >> 16);
            row[x * 3 + 1] = static_cast<unsigned char>(p >> 8);
            row[x * 3 + 2] = static_cast<unsigned char>(p);
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    std::fclose(out);
    return 0;
}

int Compare(const wchar_t* path, const wchar_t* font_name, float points, int ticks,
            const wchar_t* dump) {
    const std::wstring text = FirstLine(path);
    // The strip under test, given the line and font as the panel's apply
    // gives them.
    NoPanel panel;
    Form1 strip(panel);
    strip.Create();
    strip.Show();
    strip.SetTimerEnabled(false);  // ticks are driven below
    strip.SetSurfaceColour(0xFFFFFF);
    strip.SetCaptionColour(0x000000);
    CaptionFont chosen{font_name, points};
    chosen.charset = CharsetOf(font_name);
    strip.SetCaptionFont(chosen);
    strip.SetCaptionText(text);
    strip.SetCaptionLeft(495.0f);
    UpdateWindow(strip.hwnd());
    RECT client{};
    GetClientRect(strip.hwnd(), &client);
    const int dpi = ScreenDpi();
    Picture shown(client.right, client.bottom), expected(client.right, client.bottom);
    const UniqueFont font = MakeFont(font_name, points, dpi);
    const int top = static_cast<int>(Pixels(105.0, dpi));
    int differing = 0, frames = 0, width = 0;
    bool crossed = false;
    for (int tick = 0; tick <= ticks; ++tick) {
        // 495 twips, then 20 twips to the left a tick; the frame after the
        // caption has left the strip on the left is the last one compared.
        const double left_twips = 495.0 - 20.0 * tick;
        const std::int64_t left = Pixels(left_twips, dpi);
        if (tick > 0) strip.Timer1_Timer();
        {
            WindowDc window(strip.hwnd());
            BitBlt(shown.dc.get(), 0, 0, shown.width, shown.height, window.get(), 0, 0, SRCCOPY);
            GdiFlush();
        }
        width = DrawWhole(expected, text, font.get(), static_cast<int>(left), top);
        ++frames;
        bool same = true;
        for (int y = 0; y < shown.height && same; ++y) {
            for (int x = 0; x < shown.width && same; ++x)
                same = shown.At(x, y) == expected.At(x, y);
        }
        if (!same && differing++ == 0) {
            std::printf("first differing: tick %d, caption at %lld px\n", tick,
                        static_cast<long long>(left));
            if (dump) {
                WritePpm((std::wstring(dump) + L"-shown.ppm").c_str(), shown);
                WritePpm((std::wstring(dump) + L"-expected.ppm").c_str(), expected);
            }
        }
        if (left + width < 0) {
            crossed = true;
            break;
        }
    }
    std::printf("frames %d, differing %d, caption %d px wide, crossed %s\n", frames, differing,
                width, crossed ? "yes" : "no");
    return 0;
}

}  // namespace
}  // namespace korvane

int wmain(int argc, wchar_t** argv) {
    using namespace korvane;
    if ((argc == 6 || argc == 7) && std::wcscmp(argv[1], L"compare") == 0) {
        return Compare(argv[2], argv[3], static_cast<float>(_wtof(argv[4])), _wtoi(argv[5]),
                       argc == 7 ? argv[6] : nullptr);
    }
    if (argc != 6 && argc != 7) {
        std::fputs(
            "usage: caption_reference TEXT_FILE POINTS WIDTH HEIGHT OUT_PPM [FONT]\n"
            "       caption_reference compare TEXT_FILE FONT POINTS TICKS [DUMP]\n",
            stderr);
        return 2;
    }
    const int dpi = ScreenDpi();
    Picture picture(_wtoi(argv[3]), _wtoi(argv[4]));
    const UniqueFont font =
        MakeFont(argc == 7 ? argv[6] : L"宋体", static_cast<float>(_wtof(argv[2])), dpi);
    DrawWhole(picture, FirstLine(argv[1]), font.get(), 0, static_cast<int>(Pixels(105.0, dpi)));
    return WritePpm(argv[5], picture);
}
