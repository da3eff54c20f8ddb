// Form2's Play and Pause: the strip's timer and the two buttons change
// together.
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

}  // namespace korvane
