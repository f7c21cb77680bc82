#pragma once

#include <cstdint>

namespace tv {

// Frame rate of an export from local playback: channelMask is the recording's
// channel mask (its low 16 bits count), frameGap the current frame gap as the
// block header gives it, formatCode the video format code, lines272 whether the
// pictures have 272 lines. The recorder's own rate is shared by the playing
// channels and thinned by the gap; the result is truncated, and never below 1
// so that a busy recording still exports.
int PlayerExportFrameRate(uint32_t channelMask, int frameGap, int formatCode, bool lines272);

// Frame rate of an export from live view: 25 for 272-line pictures or when the
// export is paced by the 40 ms timer, else 30.
int ClientExportFrameRate(bool lines272, bool timerPaced);

} // namespace tv
