// Form2's life: created and loaded on first use, shown, hidden, closed
// (which only hides it) and Exit, which ends the program.
#include "form2.h"

#include <cmath>

#include "form1.h"
#include "form2_style.h"

namespace korvane {

using namespace form2_style;

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
    stale_placement_ = false;
    if (state_ == LoadState::kLoading) shown_during_load_ = true;
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

// Hides the panel. A control under the pointer (a themed button, for its hot
// look) may be tracking the mouse; that tracking is cancelled first, since
// Wine keeps polling the pointer for a hidden window until the mouse moves.
void Form2::Hide() {
    TRACKMOUSEEVENT tracking{sizeof tracking, TME_QUERY, nullptr, 0};
    if (TrackMouseEvent(&tracking) && tracking.hwndTrack &&
        (tracking.hwndTrack == hwnd() || IsChild(hwnd(), tracking.hwndTrack))) {
        tracking.dwFlags = (tracking.dwFlags & ~TME_QUERY) | TME_CANCEL;
        TrackMouseEvent(&tracking);
    }
    ShowWindow(hwnd(), SW_HIDE);
}

void Form2::Form_Load() {
    text1_.SetText(L"欢迎使用!");
    label7_.SetColour(kLinkColour);
    label9_.SetColour(kLinkColour);
    slider2_.SetValue(std::lround(strip_.SurfaceWidth()));
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

// Closing applies (without the background), keeps the panel loaded, hides
// it and writes "Check1".
void Form2::Form_Unload(bool& cancel) {
    Apply(ApplyScope::kWithoutBackground);
    cancel = true;
    Hide();
    settings_.WriteCheck1(Check1Value());
}

// Exit ends the program at once: no apply, no test.ini, no close handler.
void Form2::Command6_Click() { EndProgram(); }

}  // namespace korvane
