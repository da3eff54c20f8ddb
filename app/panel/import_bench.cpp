// Benchmark: the time an imported file takes to reach Text1, by stage. The
// file is read and decoded by Form2::LoadFile itself, then set into an edit
// control made like Text1 and painted, and into the same control without
// word wrap, to show how much of the time is the control's wrapping.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "form1.h"
#include "form2.h"
#include "panel_layout.h"
#include "twips.h"

namespace {

class NoPanel final : public korvane::PanelLink {
public:
    std::uint32_t SwatchColour(int) override { return 0; }
    void Show() override {}
    float OuterHeight() override { return 0; }
    void SetLeft(float) override {}
    void SetTop(float) override {}
};

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// An edit control made like Text1 (class, styles, size, font), with or
// without word wrap.
HWND MakeText1(HWND parent, bool wrap, HFONT font) {
    const korvane::ControlRow& row = korvane::kPanelLayout[1];
    static_assert(korvane::kPanelLayout[1].id == korvane::kText1);
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE |
                        ES_AUTOVSCROLL | ES_WANTRETURN | (wrap ? 0 : ES_AUTOHSCROLL | WS_HSCROLL);
    const HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", style, 10, 10,
                                      korvane::TwipsToPixels(row.width, 96),
                                      korvane::TwipsToPixels(row.height, 96), parent, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    return edit;
}

// Milliseconds to set and paint `text` in `edit`.
double SetAndPaint(HWND edit, const std::wstring& text) {
    SetWindowTextW(edit, L"");
    Pump();
    const LARGE_INTEGER start = Now();
    SetWindowTextW(edit, text.c_str());
    RedrawWindow(edit, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Pump();
    const LARGE_INTEGER done = Now();
    SetWindowTextW(edit, L"");
    return Milliseconds(start, done);
}

}  // namespace

// import_bench [--wrapped-up-to KIB] FILE...
// Text1 wraps words; under Wine its time grows with the square of a line's
// length, so files above the limit (128 KiB) are shown only unwrapped.
int wmain(int argc, wchar_t** argv) {
    NoPanel no_panel;
    korvane::Form1 strip(no_panel);
    korvane::Form2 panel(strip);
    int first = 1;
    unsigned long wrapped_limit_kib = 128;
    if (argc > 2 && std::wstring(argv[1]) == L"--wrapped-up-to") {
        wrapped_limit_kib = std::wcstoul(argv[2], nullptr, 10);
        first = 3;
    }
    const HWND window =
        CreateWindowExW(0, L"STATIC", L"import_bench", WS_OVERLAPPEDWINDOW, 0, 0, 640, 300, nullptr,
                        nullptr, GetModuleHandleW(nullptr), nullptr);
    LOGFONTW lf{};
    lf.lfHeight = -12;  // "宋体" 9 pt at 96 DPI
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, L"宋体", LF_FACESIZE);
    const HFONT font = CreateFontIndirectW(&lf);
    const HWND wrapped = MakeText1(window, true, font);
    const HWND unwrapped = MakeText1(window, false, font);
    ShowWindow(window, SW_SHOW);
    Pump();

    std::printf("%-16s %6s %8s %14s %16s %18s\n", "file", "KiB", "chars", "read+decode ms",
                "Text1 (wrap) ms", "without wrap ms");
    for (int i = first; i < argc; ++i) {
        const LARGE_INTEGER start = Now();
        std::wstring text;
        try {
            text = panel.LoadFile(argv[i]);
        } catch (...) {
            std::printf("%ls: cannot be read\n", argv[i]);
            return 1;
        }
        const double read_ms = Milliseconds(start, Now());
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(argv[i], GetFileExInfoStandard, &data);
        const unsigned long kib = data.nFileSizeLow / 1024;
        const std::wstring path = argv[i];
        const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
        char wrapped_ms[32] = "skipped";
        if (kib <= wrapped_limit_kib) {
            std::snprintf(wrapped_ms, sizeof wrapped_ms, "%.1f", SetAndPaint(wrapped, text));
        }
        std::printf("%-16ls %6lu %8zu %14.1f %16s %18.1f\n", name.c_str(), kib, text.size(),
                    read_ms, wrapped_ms, SetAndPaint(unwrapped, text));
    }
    DestroyWindow(window);
    DeleteObject(font);
    return 0;
}
