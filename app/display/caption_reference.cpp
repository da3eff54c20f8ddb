// Draws a caption the plain way, for the tests to compare the strip with:
// the whole first line of a UTF-8 file in one ExtTextOutW, black on white,
// its left edge at x = 0 and its top where the strip puts the caption's,
// into a WIDTH x HEIGHT picture written as a binary PPM.
//
// Usage: caption_reference TEXT_FILE POINTS WIDTH HEIGHT OUT_PPM
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dpi.h"
#include "form1.h"
#include "twips.h"
#include "win_handles.h"

int wmain(int argc, wchar_t** argv) {
    using namespace korvane;
    if (argc != 6) {
        std::fputs("usage: caption_reference TEXT_FILE POINTS WIDTH HEIGHT OUT_PPM\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                            static_cast<int>(text.size()))));
    text = text.substr(0, text.find_first_of(L"\r\n"));
    const int width = _wtoi(argv[3]), height = _wtoi(argv[4]);
    const unsigned dpi = SystemDpi();

    WindowDc screen(nullptr);
    UniqueMemoryDc dc(CreateCompatibleDC(screen.get()));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap bitmap(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    SelectScope select_bitmap(dc.get(), bitmap.get());
    const LOGFONTW lf =
        CaptionLogFont(CaptionFont{L"宋体", static_cast<float>(_wtof(argv[2]))}, dpi);
    UniqueFont font(CreateFontIndirectW(&lf));
    SelectScope select_font(dc.get(), font.get());
    PatBlt(dc.get(), 0, 0, width, height, WHITENESS);
    SetBkMode(dc.get(), TRANSPARENT);
    SetTextColor(dc.get(), RGB(0, 0, 0));
    ExtTextOutW(dc.get(), 0, TwipsToPixels(105.0f, dpi), 0, nullptr, text.data(),
                static_cast<UINT>(text.size()), nullptr);
    GdiFlush();

    std::FILE* out = _wfopen(argv[5], L"wb");
    if (!out) return 1;
    std::fprintf(out, "P6\n%d %d\n255\n", width, height);
    const auto* pixels = static_cast<const unsigned char*>(bits);
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = pixels + (static_cast<std::size_t>(y) * width + x) * 4;
            row[x * 3] = p[2], row[x * 3 + 1] = p[1], row[x * 3 + 2] = p[0];
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    std::fclose(out);
    return 0;
}
