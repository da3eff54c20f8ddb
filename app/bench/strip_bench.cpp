// Benchmarks of the strip under Wine, run by app/bench/bench_strip_cpu.sh.
//
//   strip_bench floor   a minimal window of the strip's size with a 150 ms
//                       timer that blits its whole area on every tick: the
//                       floor that the strip's CPU use is compared with.
//   strip_bench run short|mib|rtl MS
//                       the strip alone, as the panel's OK leaves it, with
//                       the welcome text, 1 MiB of ideographs or 1 MiB of
//                       Arabic (in the laid-out 宋体, which has no Arabic:
//                       it is drawn in a fallback font), ticking every MS
//                       milliseconds.
//   strip_bench apply   the strip's apply steps (OK, closing the panel, a
//                       font choice) with 1 MiB texts, and the work of one
//                       tick with a short and a 1 MiB caption.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

#include "bench_support.h"
#include "dpi.h"
#include "form1.h"
#include "no_panel.h"
#include "panel_rules.h"
#include "strip_adapter.h"
#include "test_driver.h"
#include "twips.h"
#include "win_handles.h"

namespace korvane {
namespace {

LRESULT CALLBACK FloorProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    static HDC memory = nullptr;
    static SIZE size{};
    switch (message) {
        case WM_CREATE: {
            RECT client{};
            GetClientRect(hwnd, &client);
            size = SIZE{client.right, client.bottom};
            HDC dc = GetDC(hwnd);
            memory = CreateCompatibleDC(dc);
            SelectObject(memory, CreateCompatibleBitmap(dc, size.cx, size.cy));
            PatBlt(memory, 0, 0, size.cx, size.cy, WHITENESS);
            TextOutW(memory, 8, 7, L"欢迎使用!", 5);
            ReleaseDC(hwnd, dc);
            SetTimer(hwnd, 1, 150, nullptr);
            return 0;
        }
        case WM_TIMER: {
            HDC dc = GetDC(hwnd);
            BitBlt(dc, 0, 0, size.cx, size.cy, memory, 0, 0, SRCCOPY);
            ReleaseDC(hwnd, dc);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PaintScope paint(hwnd);
            BitBlt(paint.dc(), 0, 0, size.cx, size.cy, memory, 0, 0, SRCCOPY);
            return 0;
        }
        default:
            return DefWindowProcW(hwnd, message, wparam, lparam);
    }
}

int RunFloor() {
    WNDCLASSW wc{};
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = FloorProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KorvaneStripFloor";
    RegisterClassW(&wc);
    const unsigned dpi = SystemDpi();
    HWND hwnd =
        CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"StripFloor",
                        WS_POPUP | WS_VISIBLE, 0, 0, TwipsToPixels(5895.0f, dpi),
                        TwipsToPixels(495.0f, dpi), nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd) return 1;
    return testing::RunMessageLoop();
}

enum class Caption { kShort, kMiB, kAscii, kRightToLeft };

// 1 MiB of UTF-8: ideographs (3 bytes each), ASCII words, or Arabic words (2
// bytes a letter; one line, shaped).
std::wstring MiBOf(Caption caption) {
    std::wstring text;
    if (caption == Caption::kRightToLeft) {
        const std::wstring words = L"مرحبا بكم في العرض، هذا نص تجريبي باللغة العربية ";
        while (text.size() < (1u << 20) / 2) text += words;
        return text;
    }
    const bool cjk = caption == Caption::kMiB;
    for (int i = 0; i < (cjk ? (1 << 20) / 3 : 1 << 20); ++i) {
        text += cjk ? static_cast<wchar_t>(0x4E00 + (i * 37) % 3000)
                    : (i % 7 == 6 ? L' ' : static_cast<wchar_t>(L'a' + i % 26));
    }
    return text;
}

// Seconds for the panel's apply step, with the repaint it caused.
double TimedApply(const PanelChoices& choices, ApplyScope scope, StripAdapter& strip, Form1& form) {
    const double start = bench::Seconds();
    ApplyToStrip(choices, scope, strip);
    form.CaptionWidth();  // measured by now, whether a repaint was due or not
    UpdateWindow(form.hwnd());
    return bench::Seconds() - start;
}

// The least time of one tick over `batches` batches of `ticks` ticks: the
// figure least disturbed by other work on the machine; at most `least`.
double MicrosecondsPerTick(Form1& strip, int ticks, int batches = 5, double least = 1e300) {
    for (int batch = 0; batch < batches; ++batch) {
        const double start = bench::Seconds();
        for (int i = 0; i < ticks; ++i) strip.Timer1_Timer();
        least = std::min(least, (bench::Seconds() - start) * 1e6 / ticks);
    }
    return least;
}

// A strip created and shown, with the adapter the panel's apply steps use.
struct ShownStrip {
    NoPanel panel;
    Form1 form{panel};
    StripAdapter strip{form};
    ShownStrip() { form.Create(), form.Show(); }
};

int RunStrip(Caption caption, std::uint32_t interval_ms) {
    ShownStrip shown;
    PanelChoices choices;
    choices.text = caption == Caption::kShort ? L"欢迎使用!" : MiBOf(caption);
    ApplyToStrip(choices, ApplyScope::kWithBackground, shown.strip);
    shown.form.SetTimerInterval(interval_ms);
    return testing::RunMessageLoop();
}

int RunApply() {
    ShownStrip first;
    Form1& form = first.form;
    StripAdapter& strip = first.strip;
    form.SetTimerEnabled(false);  // ticks are driven below
    PanelChoices choices;
    choices.speed = 100;
    const double ticks_short = MicrosecondsPerTick(form, 1000);
    double slowest = 0.0;
    for (const Caption caption : {Caption::kMiB, Caption::kAscii, Caption::kRightToLeft}) {
        const bool rtl = caption == Caption::kRightToLeft;
        const bool cjk = caption == Caption::kMiB;
        choices.text = MiBOf(caption);
        choices.sample_font = kSampleLaidOutFont;
        const double ok = TimedApply(choices, ApplyScope::kWithBackground, strip, form);
        const double close = TimedApply(choices, ApplyScope::kWithoutBackground, strip, form);
        choices.sample_font = CaptionFont{L"宋体", 16.0f, true};
        const double font = TimedApply(choices, ApplyScope::kWithBackground, strip, form);
        form.SetTimerInterval(150);  // every tick repaints
        form.SetTimerEnabled(false);
        slowest = std::max({slowest, ok, close, font});
        const double ticks_long = MicrosecondsPerTick(form, 1000);
        std::printf("1 MiB of %s (%zu characters, %.0f px wide)\n",
                    rtl   ? "Arabic in 宋体, shaped in a fallback font"
                    : cjk ? "ideographs"
                          : "ASCII",
                    choices.text.size(), form.CaptionWidth() * form.Dpi() / 1440.0);
        std::printf("  apply: OK %.3f s, closing %.3f s, font choice %.3f s (target <= 0.3 s)\n",
                    ok, close, font);
        std::printf("  one tick: %.1f us with the short caption, %.1f us with this one\n",
                    ticks_short, ticks_long);
    }
    std::printf("slowest apply step %.3f\n", slowest);
    // Thai puts no spaces between words: 300,000 characters in one line
    // are cut into pieces at cluster boundaries only (Wine has no Thai
    // font, so this measures shaping, not drawing).
    const std::wstring thai_words = L"กินข้าวแล้วหรือยังสวัสดีครับยินดีต้อนรับ";
    choices.text.clear();
    while (choices.text.size() < 300000) choices.text += thai_words;
    choices.text.resize(300000);
    std::printf("300,000 Thai characters without a space: apply %.3f s\n",
                TimedApply(choices, ApplyScope::kWithBackground, strip, form));

    // One tick with 1 MiB of ideographs and with 1 MiB of Arabic, both in
    // the laid-out 宋体, on two strips ticked in turns, so that other work
    // on the machine weighs on both alike; then with the captions swapped
    // between the strips. The least time of each caption counts.
    ShownStrip second;
    second.form.SetTop(form.Top() - 1500.0f);  // not over the first
    const std::wstring arabic_text = MiBOf(Caption::kRightToLeft),
                       ideograph_text = MiBOf(Caption::kMiB);
    choices.sample_font = kSampleLaidOutFont;
    double ideographs = 1e300, arabic = 1e300;
    for (int phase = 0; phase < 2; ++phase) {
        choices.text = phase == 0 ? arabic_text : ideograph_text;
        ApplyToStrip(choices, ApplyScope::kWithBackground, strip);
        choices.text = phase == 0 ? ideograph_text : arabic_text;
        ApplyToStrip(choices, ApplyScope::kWithBackground, second.strip);
        for (Form1* each : {&form, &second.form}) {
            each->SetTimerInterval(150);  // every tick repaints
            each->SetTimerEnabled(false);
        }
        Form1& with_arabic = phase == 0 ? form : second.form;
        Form1& with_ideographs = phase == 0 ? second.form : form;
        for (int round = 0; round < 10; ++round) {
            ideographs = MicrosecondsPerTick(with_ideographs, 500, 1, ideographs);
            arabic = MicrosecondsPerTick(with_arabic, 500, 1, arabic);
        }
    }
    std::printf(
        "ticks in turns: %.1f us with 1 MiB of ideographs, %.1f us with 1 MiB of Arabic"
        " in 宋体\n",
        ideographs, arabic);
    return 0;
}

}  // namespace
}  // namespace korvane

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"floor") == 0) return korvane::RunFloor();
    if (argc == 2 && std::wcscmp(argv[1], L"apply") == 0) return korvane::RunApply();
    if (argc == 4 && std::wcscmp(argv[1], L"run") == 0) {
        using korvane::Caption;
        const Caption caption = std::wcscmp(argv[2], L"mib") == 0   ? Caption::kMiB
                                : std::wcscmp(argv[2], L"rtl") == 0 ? Caption::kRightToLeft
                                                                    : Caption::kShort;
        return korvane::RunStrip(caption, static_cast<std::uint32_t>(_wtoi(argv[3])));
    }
    std::fputs("usage: strip_bench floor | run short|mib|rtl MS | apply\n", stderr);
    return 2;
}
