// Form2's Play and Pause: the strip's timer and the two buttons change
// together, whether pressed on the panel or chosen in the notification area.
#include "form2.h"

#include "form1.h"

namespace korvane {

void Form2::SetPlayback(const PlaybackState& state) {
    strip_.SetTimerEnabled(state.timer_enabled);
    EnableWindow(Control(kCommand3), state.play_enabled);
    EnableWindow(Control(kCommand5), state.pause_enabled);
}

void Form2::Command3_Click() { SetPlayback(kPlaying); }

void Form2::Command5_Click() { SetPlayback(kPaused); }

bool Form2::PlayEnabled() const {
    return state_ == LoadState::kNotCreated ? kPlaying.play_enabled
                                            : IsWindowEnabled(Control(kCommand3)) != FALSE;
}

bool Form2::PauseEnabled() const {
    return state_ == LoadState::kNotCreated ? kPlaying.pause_enabled
                                            : IsWindowEnabled(Control(kCommand5)) != FALSE;
}

void Form2::PressPlay() {
    EnsureLoaded();
    if (PlayEnabled()) Command3_Click();
}

void Form2::PressPause() {
    EnsureLoaded();
    if (PauseEnabled()) Command5_Click();
}

}  // namespace korvane
