#include "slider.h"

#include <commctrl.h>

namespace korvane {

bool Slider::Create(const CreateArgs& args) {
    hwnd_ = CreateWindowExW(
        0, TRACKBAR_CLASSW, L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBS_HORZ | TBS_AUTOTICKS | TBS_FIXEDLENGTH, 0, 0, 0, 0,
        args.parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(args.id)),
        GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_) return false;
    SendMessageW(hwnd_, TBM_SETRANGEMIN, FALSE, args.min);
    SendMessageW(hwnd_, TBM_SETRANGEMAX, FALSE, args.max);
    SendMessageW(hwnd_, TBM_SETLINESIZE, 0, args.line_size);
    SendMessageW(hwnd_, TBM_SETPAGESIZE, 0, args.page_size);
    SendMessageW(hwnd_, TBM_SETTICFREQ, 1, 0);
    SetValue(args.value);
    return true;
}

int Slider::Value() const { return static_cast<int>(SendMessageW(hwnd_, TBM_GETPOS, 0, 0)); }

void Slider::SetValue(int value) { SendMessageW(hwnd_, TBM_SETPOS, TRUE, value); }

void Slider::SetThumbLength(int pixels) {
    SendMessageW(hwnd_, TBM_SETTHUMBLENGTH, static_cast<WPARAM>(pixels), 0);
}

}  // namespace korvane
