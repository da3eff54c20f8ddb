// Form2's buttons beside the tabs (Play, Pause, Exit), closing the
// window, and the links row.
#include "form2.h"

#include <shellapi.h>

#include "form2_parts.h"

namespace korvane {

using namespace form2_parts;

void Form2::SetPlayback(const PlaybackState& state) {
    strip_.SetTimerEnabled(state.timer_enabled);
    EnableWindow(Control(kCommand3), state.play_enabled);
    EnableWindow(Control(kCommand5), state.pause_enabled);
}

void Form2::Command3_Click() { SetPlayback(kPlaying); }

void Form2::Command5_Click() { SetPlayback(kPaused); }

void Form2::Command6_Click() { ExitProcess(0); }

void Form2::Form_Unload(bool& cancel) {
    Apply(ApplyScope::kWithoutBackground);
    cancel = true;
    Hide();
    settings_.WriteCheck1(Check1Value());
}

void Form2::Form_MouseMove() {
    SetLinkColour(kLabel7, kLinkColour);
    SetLinkColour(kLabel9, kLinkColour);
}

void Form2::Label7_Click() {
    ShellExecuteA(hwnd(), "open", KORVANE_PUBLISHER_URL, "", "", SW_SHOWNORMAL);
}

void Form2::Label7_MouseMove() { SetLinkColour(kLabel7, kLinkHoverColour); }

void Form2::Label9_MouseMove() { SetLinkColour(kLabel9, kLinkHoverColour); }

void Form2::Label9_Click() { update_check_.CheckOnRequest(); }

}  // namespace korvane
