// Draws a caption the plain way, for the tests to compare the strip with:
// the whole first line of a UTF-8 file, black on white, in a font and at
// places worked out here from the laid-out figures, not taken from the
// strip's code. A line that Uniscribe calls simple is one ExtTextOutW call.
// A complex one is itemised and ordered here; each item is shaped whole in
// the first of the chosen font and the FALLBACK faces that has all its
// visible characters, else in the one that lacks the fewest. A fallback is
// made at the chosen font's height, smaller where its ascent or descent
// reaches past the chosen font's (by the smaller ratio, then a pixel at a
// time while it still does); every item is drawn with TA_BASELINE on the
// chosen font's baseline, clipped to the line's band.
//
//   caption_reference TEXT_FILE POINTS WIDTH HEIGHT OUT_PPM [FONT]
//       the line from x = 0, its top where the strip puts the caption's
//       (105 twips), as a WIDTH x HEIGHT binary PPM; FONT is "宋体" unless given.
//   caption_reference compare TEXT_FILE FONT POINTS TICKS DUMP [FALLBACK...]
//       the strip itself with that line (the reference draws the file's
//       second line instead where it has one), started 495 twips from its
//       left edge and ticked until the caption has left it on the left (at
//       most TICKS times), its window compared before the first tick and
//       after each with the line drawn whole 495 twips less 20 a tick from
//       the left (repainted whole every tenth tick). Prints "frames N,
//       differing M, caption W px wide, crossed yes|no, outside K" (K: the
//       pixels of all frames outside the line's band that are not white) and
//       the first differing tick, whose pictures go to DUMP-shown.ppm and
//       DUMP-expected.ppm.
#include <windows.h>
#include <usp10.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "caption_font.h"
#include "form1.h"
#include "no_panel.h"
#include "win_handles.h"

namespace korvane {
namespace {

// Line `index` (0 or 1) of a UTF-8 file, empty when it has none.
std::wstring FileLine(const wchar_t* path, int index) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                            static_cast<int>(text.size()))));
    std::size_t start = 0;
    for (int i = 0; i < index && start != std::wstring::npos; ++i) {
        start = text.find(L'\n', start);
        if (start != std::wstring::npos) ++start;
    }
    if (start == std::wstring::npos) return {};
    return text.substr(start, text.find_first_of(L"\r\n", start) - start);
}

// A 32-bit top-down DIB selected into a memory DC.
struct Picture {
    Picture(int width, int height) : width(width), height(height) {
        WindowDc screen(nullptr);
        dc.reset(CreateCompatibleDC(screen.get()));
        const BITMAPINFO info{
            {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        bitmap.reset(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        SelectObject(dc.get(), bitmap.get());
    }
    std::uint32_t At(int x, int y) const {
        return static_cast<const std::uint32_t*>(bits)[static_cast<std::size_t>(y) * width + x] &
               0xFFFFFFu;
    }
    int width, height;
    void* bits = nullptr;
    UniqueBitmap bitmap;  // declared first: outlives the DC that selects it
    UniqueMemoryDc dc;
};

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
LOGFONTW FontOf(const std::wstring& name, float points, int dpi) {
    LOGFONTW lf{};
    lf.lfHeight = -static_cast<LONG>(std::lround(points * dpi / 72.0));
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = CharsetOf(name);
    lstrcpynW(lf.lfFaceName, name.c_str(), LF_FACESIZE);
    return lf;
}

// True for the characters that draw as nothing of their own (joiners,
// direction marks, variation selectors): a font need not have them.
bool Invisible(wchar_t c) {
    return (c >= 0x200B && c <= 0x200F) || (c >= 0x2060 && c <= 0x2064) ||
           (c >= 0xFE00 && c <= 0xFE0F);
}

// A font as drawn here: the handle, its script cache, metrics and missing glyph.
struct Face {
    UniqueFont font;
    SCRIPT_CACHE cache = nullptr;
    TEXTMETRICW metrics{};
    WORD missing = 0;
    ~Face() {
        if (cache) ScriptFreeCache(&cache);
    }
    void Make(HDC dc, const LOGFONTW& lf) {
        font.reset(CreateFontIndirectW(&lf));
        SelectScope select(dc, font.get());
        GetTextMetricsW(dc, &metrics);
        SCRIPT_FONTPROPERTIES properties{sizeof(SCRIPT_FONTPROPERTIES), 0, 0, 0, 0, 0};
        ScriptGetFontProperties(dc, &cache, &properties);
        missing = properties.wgDefault;
    }
};

// A fallback beside `chosen`: its height, scaled so that it stays within
// the chosen font's ascent and descent.
std::unique_ptr<Face> MakeFallback(HDC dc, const LOGFONTW& chosen, const TEXTMETRICW& fits,
                                   const std::wstring& name) {
    LOGFONTW lf = chosen;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, name.c_str(), LF_FACESIZE);
    auto face = std::make_unique<Face>();
    for (int step = 0;; ++step) {
        face->Make(dc, lf);
        const TEXTMETRICW& m = face->metrics;
        const long size = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
        if ((m.tmAscent <= fits.tmAscent && m.tmDescent <= fits.tmDescent) || size <= 1 ||
            step == 3)
            return face;
        long smaller = size - 1;
        if (step == 0) {
            const double by = std::min(double(fits.tmAscent) / m.tmAscent,
                                       double(fits.tmDescent) / std::max<long>(m.tmDescent, 1));
            smaller = std::max(1L, std::min(size - 1, static_cast<long>(std::floor(size * by))));
        }
        lf.lfHeight = lf.lfHeight < 0 ? -smaller : smaller;
    }
}

// The line drawn whole, black on white, its left edge at x and its top at
// y; returns its width in pixels, and the band's bottom in `bottom`.
int DrawWhole(Picture& picture, const std::wstring& text, const LOGFONTW& chosen,
              const std::vector<std::wstring>& fallbacks, int x, int y, int* bottom = nullptr) {
    HDC dc = picture.dc.get();
    PatBlt(dc, 0, 0, picture.width, picture.height, WHITENESS);
    std::vector<std::unique_ptr<Face>> faces;
    faces.push_back(std::make_unique<Face>());
    faces[0]->Make(dc, chosen);
    const TEXTMETRICW fits = faces[0]->metrics;
    for (const std::wstring& name : fallbacks)
        faces.push_back(MakeFallback(dc, chosen, fits, name));
    const RECT band{-(1 << 27), y, 1 << 27, y + fits.tmAscent + fits.tmDescent};
    if (bottom) *bottom = band.bottom;
    const int baseline = y + fits.tmAscent;
    SelectScope select_font(dc, faces[0]->font.get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    const int length = static_cast<int>(text.size());
    if (length == 0 || ScriptIsComplex(text.data(), length, SIC_COMPLEX) != S_OK) {
        // In one font, whose glyphs stay within its own line.
        ExtTextOutW(dc, x, y, 0, nullptr, text.data(), length, nullptr);
        SIZE size{};
        GetTextExtentPoint32W(dc, text.data(), length, &size);
        GdiFlush();
        return size.cx;
    }
    SetTextAlign(dc, TA_BASELINE | TA_LEFT | TA_NOUPDATECP);
    std::vector<SCRIPT_ITEM> items(text.size() + 2);
    int count = 0;
    const SCRIPT_CONTROL control{};
    const SCRIPT_STATE state{};
    ScriptItemize(text.data(), length, length + 1, &control, &state, items.data(), &count);
    std::vector<BYTE> levels(count);
    std::vector<int> order(count);
    for (int i = 0; i < count; ++i) levels[i] = static_cast<BYTE>(items[i].a.s.uBidiLevel);
    ScriptLayout(count, levels.data(), order.data(), nullptr);
    const SCRIPT_PROPERTIES** properties = nullptr;
    int scripts = 0;
    ScriptGetProperties(&properties, &scripts);
    int pen = x;
    for (const int item : order) {
        const wchar_t* units = text.data() + items[item].iCharPos;
        const int n = items[item + 1].iCharPos - items[item].iCharPos;
        std::vector<WORD> glyphs(n * 3 + 16), clusters(n);
        std::vector<SCRIPT_VISATTR> attributes(glyphs.size());
        SCRIPT_ANALYSIS analysis{};
        int glyph_count = 0;
        Face* in = faces[0].get();
        const auto visible = [&](int k) {
            return !(units[k] >= 0xDC00 && units[k] <= 0xDFFF) && !Invisible(units[k]);
        };
        // The characters of the item that `face` lacks; -1 when it has not
        // the script (the glyphs then shaped as SCRIPT_UNDEFINED).
        const auto shape = [&](Face& face) {
            analysis = items[item].a;
            SelectObject(dc, face.font.get());
            const auto run = [&] {
                return ScriptShape(dc, &face.cache, units, n, static_cast<int>(glyphs.size()),
                                   &analysis, glyphs.data(), clusters.data(), attributes.data(),
                                   &glyph_count);
            };
            const HRESULT hr = run();
            if (hr == USP_E_SCRIPT_NOT_IN_FONT) {
                analysis.eScript = SCRIPT_UNDEFINED;
                run();
            }
            if (hr != S_OK) return -1;
            int lacks = 0;
            for (int k = 0; k < n; ++k) lacks += visible(k) && glyphs[clusters[k]] == face.missing;
            return lacks;
        };
        // An item of a simple script, left to right and without a mark,
        // is drawn in the chosen font as a plain line is.
        std::vector<WORD> types(n);
        GetStringTypeW(CT_CTYPE3, units, n, types.data());
        // Ideographs beyond the BMP (U+20000 to U+3FFFF) count as simple
        // here: Chinese is drawn as a plain line whatever its plane.
        const bool ideographs = std::all_of(units, units + n, [](wchar_t u) {
            return u == L' ' || (u >= 0xD840 && u <= 0xD8BF) || (u >= 0xDC00 && u <= 0xDFFF);
        });
        const bool plain = !items[item].a.fRTL &&
                           (ideographs || !properties[items[item].a.eScript]->fComplex) &&
                           std::none_of(types.begin(), types.end(),
                                        [](WORD t) { return (t & C3_NONSPACING) != 0; });
        if (plain) {
            SelectObject(dc, faces[0]->font.get());
            ExtTextOutW(dc, pen, baseline, ETO_CLIPPED, &band, units, n, nullptr);
            SIZE size{};
            GetTextExtentPoint32W(dc, units, n, &size);
            pen += size.cx;
            continue;
        }
        // The first face that has every visible character, else the one
        // that lacks the fewest, fewer than the chosen font (which, without
        // the script, lacks every visible character).
        int fewest = -1;
        for (auto& face : faces) {
            int lacks = shape(*face);
            if (lacks < 0 && face == faces.front()) {
                lacks = 0;
                for (int k = 0; k < n; ++k) lacks += visible(k);
            }
            if (lacks >= 0 && (fewest < 0 || lacks < fewest)) fewest = lacks, in = face.get();
            if (fewest == 0) break;
        }
        shape(*in);
        std::vector<int> advances(glyph_count);
        std::vector<GOFFSET> offsets(glyph_count);
        ABC abc{};
        ScriptPlace(dc, &in->cache, glyphs.data(), glyph_count, attributes.data(), &analysis,
                    advances.data(), offsets.data(), &abc);
        ScriptTextOut(dc, &in->cache, pen, baseline, ETO_CLIPPED, &band, &analysis, nullptr, 0,
                      glyphs.data(), glyph_count, advances.data(), nullptr, offsets.data());
        for (const int advance : advances) pen += advance;
    }
    GdiFlush();
    return pen - x;
}

int WritePpm(const wchar_t* path, const Picture& picture) {
    std::FILE* out = _wfopen(path, L"wb");
    if (!out) return 1;
    std::fprintf(out, "P6\n%d %d\n255\n", picture.width, picture.height);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t p = picture.At(x, y);
            for (const int shift : {16, 8, 0}) std::fputc((p >> shift) & 0xFF, out);
        }
    }
    std::fclose(out);
    return 0;
}

int Compare(const wchar_t* path, const wchar_t* font_name, float points, int ticks,
            const wchar_t* dump, const std::vector<std::wstring>& fallbacks) {
    const std::wstring text = FileLine(path, 0), second = FileLine(path, 1);
    // A second line is the part of a long caption that can reach the strip
    // in these ticks: the reference draws that alone.
    const std::wstring& drawn = second.empty() ? text : second;
    // The strip under test, given the line and font as the panel's apply gives them.
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
    const LOGFONTW font = FontOf(font_name, points, dpi);
    const int top = static_cast<int>(Pixels(105.0, dpi));
    int differing = 0, frames = 0, width = 0, bottom = 0;
    long long outside = 0;
    bool crossed = false;
    for (int tick = 0; tick <= ticks; ++tick) {
        // 495 twips, then 20 twips to the left a tick; the frame after the
        // caption has left the strip on the left is the last one compared.
        const std::int64_t left = Pixels(495.0 - 20.0 * tick, dpi);
        if (tick > 0) strip.Timer1_Timer();
        if (tick % 10 == 5) {
            // A full repaint now and then, beside the ticks' own.
            InvalidateRect(strip.hwnd(), nullptr, FALSE);
            UpdateWindow(strip.hwnd());
        }
        {
            WindowDc window(strip.hwnd());
            BitBlt(shown.dc.get(), 0, 0, shown.width, shown.height, window.get(), 0, 0, SRCCOPY);
            GdiFlush();
        }
        width = DrawWhole(expected, drawn, font, fallbacks, static_cast<int>(left), top, &bottom);
        ++frames;
        bool same = true;
        for (int y = 0; y < shown.height; ++y) {
            for (int x = 0; x < shown.width; ++x) {
                same = same && shown.At(x, y) == expected.At(x, y);
                outside += (y < top || y >= bottom) && shown.At(x, y) != 0xFFFFFFu;
            }
        }
        if (!same && differing++ == 0) {
            std::printf("first differing: tick %d, caption at %lld px\n", tick,
                        static_cast<long long>(left));
            WritePpm((std::wstring(dump) + L"-shown.ppm").c_str(), shown);
            WritePpm((std::wstring(dump) + L"-expected.ppm").c_str(), expected);
        }
        crossed = left + width < 0;
        if (crossed) break;
    }
    std::printf("frames %d, differing %d, caption %d px wide, crossed %s, outside %lld\n", frames,
                differing, width, crossed ? "yes" : "no", outside);
    return 0;
}

}  // namespace
}  // namespace korvane

int wmain(int argc, wchar_t** argv) {
    using namespace korvane;
    if (argc >= 7 && std::wcscmp(argv[1], L"compare") == 0) {
        return Compare(argv[2], argv[3], static_cast<float>(_wtof(argv[4])), _wtoi(argv[5]),
                       argv[6], std::vector<std::wstring>(argv + 7, argv + argc));
    }
    if (argc != 6 && argc != 7) {
        std::fputs(
            "usage: caption_reference TEXT_FILE POINTS WIDTH HEIGHT OUT_PPM [FONT]\n"
            "       caption_reference compare TEXT_FILE FONT POINTS TICKS DUMP [FALLBACK...]\n",
            stderr);
        return 2;
    }
    const int dpi = ScreenDpi();
    Picture picture(_wtoi(argv[3]), _wtoi(argv[4]));
    const LOGFONTW font =
        FontOf(argc == 7 ? argv[6] : L"宋体", static_cast<float>(_wtof(argv[2])), dpi);
    DrawWhole(picture, FileLine(argv[1], 0), font, {}, 0, static_cast<int>(Pixels(105.0, dpi)));
    return WritePpm(argv[5], picture);
}
