#pragma once

#include <cstdint>

namespace tv {

// Export frames a second that local playback is expected to give: channelMask
// is the recording's channel mask (its low 16 bits count), frameGap the
// current frame gap as the block header gives it, formatCode the video format
// code, lines272 whether the pictures have 272 lines. The recorder's own rate
// is shared by the playing channels and thinned by the gap. Only a first
// estimate: recordings do not always keep to their gap, so exports place
// frames by the recording's time (CExportTimeline).
double PlayerCycleRate(uint32_t channelMask, int frameGap, int formatCode, bool lines272);

// The AVI stream rate of an export from local playback: the finest pace the
// pictures come at, 25 for 272-line pictures, else 30; frames go to the slots
// of their own moments.
int PlayerExportFrameRate(bool lines272);

// Frame rate of an export from live view: 25 for 272-line pictures or when the
// export is paced by the 40 ms timer, else 30.
int ClientExportFrameRate(bool lines272, bool timerPaced);

} // namespace tv
