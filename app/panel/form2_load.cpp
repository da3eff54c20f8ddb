// Form2's load sequence and its states, and what the strip asks of the
// panel (each use loads it first).
#include "form2.h"

#include <commctrl.h>

#include <cmath>

#include "form2_parts.h"
#include "dpi.h"

namespace korvane {

using namespace form2_parts;

// The load may wait for the network while messages are dispatched, so the
// strip can reach the panel again meanwhile: such a use finds the state
// kLoading and never starts a second load.
void Form2::EnsureLoaded() {
    if (state_ != LoadState::kNotCreated) return;
    state_ = LoadState::kLoading;
    CreateWindowAndControls();
    Form_Load();
    state_ = LoadState::kLoaded;
    if (show_pending_) ShowNow();
}

void Form2::Show() {
    show_pending_ = true;
    EnsureLoaded();
    // While loading, the end of the load shows the panel.
    if (state_ == LoadState::kLoaded && show_pending_) ShowNow();
}

void Form2::ShowNow() {
    show_pending_ = false;
    ShowWindow(hwnd(), SW_SHOW);
    SetForegroundWindow(hwnd());
}

std::uint32_t Form2::SwatchColour(int index) {
    EnsureLoaded();
    return swatches_[index - 1].Colour();
}

// Positions and the outer height are screen twips: the strip reads and the
// panel places with the same mapping, whatever their monitors' DPIs.
float Form2::OuterHeight() {
    EnsureLoaded();
    RECT rect{};
    GetWindowRect(hwnd(), &rect);
    return Screen().FromPixels(rect.bottom - rect.top);
}

void Form2::SetLeft(float twips) {
    EnsureLoaded();
    left_twips_ = twips;
    RECT rect{};
    GetWindowRect(hwnd(), &rect);
    SetWindowPos(hwnd(), nullptr, Screen().ToPixels(twips), rect.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form2::SetTop(float twips) {
    EnsureLoaded();
    top_twips_ = twips;
    RECT rect{};
    GetWindowRect(hwnd(), &rect);
    SetWindowPos(hwnd(), nullptr, rect.left, Screen().ToPixels(twips), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form2::Form_Load() {
    text1_.SetText(L"欢迎使用!");
    SetLinkColour(kLabel7, kLinkColour);
    SetLinkColour(kLabel9, kLinkColour);
    SendMessageW(Control(kSlider2), TBM_SETPOS, TRUE, std::lround(strip_.SurfaceWidth()));
    SetCheck1Value(settings_.ReadCheck1(Check1Value()));
    RegisterAndCheckForUpdates();
}

// Registration of the update library, creating its object and the check
// at load come last, in this order. The check waits for the network while
// messages are dispatched.
void Form2::RegisterAndCheckForUpdates() {
    update_check_.StartRegistration();
    update_check_.CreateDetector();
    update_check_.CheckAtLoad(Check1Value(), [this](const std::wstring& caption) {
        SetWindowTextW(Control(kLabel9), caption.c_str());
        LayOut();  // the link is sized to its text
    });
}

}  // namespace korvane
