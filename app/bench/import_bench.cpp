// Benchmark: the time an imported file takes to reach Text1, by stage. The
// file is read and decoded by Form2::LoadFile itself, then set into a text
// box made like Text1 (a plain-text rich edit control) and painted, and
// into the plain edit control with the same styles for comparison.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "bench_support.h"
#include "form1.h"
#include "form2.h"
#include "no_panel.h"
#include "panel_layout.h"
#include "text_box.h"
#include "twips.h"

using namespace korvane;
using bench::PumpWaiting;

namespace {

// Milliseconds since `start` (bench::Seconds()).
double MillisecondsSince(double start) { return 1000.0 * (bench::Seconds() - start); }

// A text box made like Text1 (styles, size, font), of the kind given.
HWND MakeText1(TextBox& box, HWND parent, TextBox::Kind kind, HFONT font) {
    const ControlRow& row = kPanelLayout[1];
    static_assert(kPanelLayout[1].id == kText1);
    const HWND edit = box.Create(TextBox::CreateArgs{parent, kText1, kind});
    SetWindowPos(edit, nullptr, 10, 10, TwipsToPixels(row.width, 96), TwipsToPixels(row.height, 96),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return edit;
}

// Milliseconds to set and paint `text` in `box`, as the import does.
double SetAndPaint(TextBox& box, const std::wstring& text) {
    box.SetText(L"");
    PumpWaiting();
    const double start = bench::Seconds();
    box.SetText(text);
    RedrawWindow(box.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    PumpWaiting();
    const double milliseconds = MillisecondsSince(start);
    // What OK reads back, once typed over: the whole text from the control.
    SendMessageW(box.hwnd(), EM_SETMODIFY, TRUE, 0);
    if (box.Text().size() < text.size()) std::printf("(the box lost characters)\n");
    box.SetText(L"");
    return milliseconds;
}

}  // namespace

// import_bench [--plain-up-to KIB] FILE...
// Text1 is a plain-text rich edit control; the plain edit control with the
// same styles is shown beside it. Under Wine the plain control's time grows
// with the square of a line's length, so files above the limit (128 KiB)
// skip it.
int wmain(int argc, wchar_t** argv) {
    NoPanel no_panel;
    Form1 strip(no_panel);
    Form2 panel(strip);
    const bool limit_given = argc > 2 && std::wstring(argv[1]) == L"--plain-up-to";
    const unsigned long plain_limit_kib = limit_given ? std::wcstoul(argv[2], nullptr, 10) : 128;
    const int first = limit_given ? 3 : 1;
    const HWND window =
        CreateWindowExW(0, L"STATIC", L"import_bench", WS_OVERLAPPEDWINDOW, 0, 0, 640, 300, nullptr,
                        nullptr, GetModuleHandleW(nullptr), nullptr);
    const HFONT font = CreateFontW(-12, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   0, 0, 0, 0, L"宋体");  // 9 pt at 96 DPI
    TextBox rich, plain;
    MakeText1(rich, window, TextBox::Kind::kRichEdit, font);
    MakeText1(plain, window, TextBox::Kind::kPlainEdit, font);
    if (rich.kind() != TextBox::Kind::kRichEdit) {
        std::printf("msftedit.dll could not be loaded\n");
        return 1;
    }
    ShowWindow(window, SW_SHOW);
    PumpWaiting();

    std::printf("%-16s %6s %8s %14s %20s %20s\n", "file", "KiB", "chars", "read+decode ms",
                "Text1 (rich edit) ms", "plain edit ms");
    for (int i = first; i < argc; ++i) {
        const double start = bench::Seconds();
        std::wstring text;
        try {
            text = panel.LoadFile(argv[i]);
        } catch (...) {
            std::printf("%ls: cannot be read\n", argv[i]);
            return 1;
        }
        const double read_ms = MillisecondsSince(start);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(argv[i], GetFileExInfoStandard, &data);
        const unsigned long kib = data.nFileSizeLow / 1024;
        const std::wstring path = argv[i];
        const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
        const double rich_ms = SetAndPaint(rich, text);
        char plain_ms[32] = "skipped";
        if (kib <= plain_limit_kib) {
            std::snprintf(plain_ms, sizeof plain_ms, "%.1f", SetAndPaint(plain, text));
        }
        std::printf("%-16ls %6lu %8zu %14.1f %20.1f %20s\n", name.c_str(), kib, text.size(),
                    read_ms, rich_ms, plain_ms);
    }
    DestroyWindow(window);
    DeleteObject(font);
    return 0;
}
