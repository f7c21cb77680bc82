#include "engine/playback_rules.h"

#include "platform/video_format.h"

#include <cmath>

namespace tv {

int PlayStateForCommand(int command, int currentState) {
    switch (command) {
    case kCmdPause:
        return kStatePause;
    case kCmdPlay:
        return kStatePlay;
    case kCmdPlayBackward:
        return kStatePlayBackward;
    case kCmdStepForward:
        return kStateStepForward;
    case kCmdStepBackward:
        return kStateStepBackward;
    case kCmdSeek:
        return kStateSearch;
    default:
        return currentState;
    }
}

double ClampPlaySpeed(double x) {
    double s = std::fabs(x);
    if (s > 8.0) {
        s = 8.0;
    }
    if (s == 0.0) {
        s = 1.0;
    }
    return s;
}

double NextFastSpeed(double speed, int lastCommand, int playState, int sameCommand, int sameState) {
    const int opposite = sameCommand == kCmdPlay ? kCmdPlayBackward : kCmdPlay;
    if (lastCommand == opposite) {
        return 8.0;
    }
    if (speed == 32.0) {
        return speed;
    }
    if (playState != sameState) {
        return 8.0;
    }
    return speed >= 8.0 ? speed * 2.0 : 8.0;
}

double SpeedAfterPause(double speed) {
    if (speed == 8.0 || speed == 16.0 || speed == 32.0 || speed == 64.0) {
        return 1.0;
    }
    return speed;
}

int ChannelSlotsFor(int channels) {
    if (channels >= 10) {
        return 16;
    }
    if (channels >= 5) {
        return 9;
    }
    if (channels < 2) {
        return 1;
    }
    return 4;
}

int FramePeriodUs(int height, int decoderMode) {
    const bool fullRate = decoderMode == VF_QZF || decoderMode == VF_QZD;
    if (height == 224) {
        return fullRate ? 33333 : 16666;
    }
    return fullRate ? 25000 : 12500;
}

uint64_t PacingWaitUs(int frameGap, int framePeriodUs, double speed) {
    const uint64_t us = static_cast<uint64_t>(frameGap + 1) * static_cast<uint64_t>(framePeriodUs);
    if (!(speed > 0.0)) {
        return us;
    }
    return static_cast<uint64_t>(static_cast<double>(us) / speed);
}

bool ChannelGatePasses(const int* enabled, int channel, const DualInfo& dual) {
    auto on = [enabled](int c) { return c >= 0 && c < 16 && enabled[c] != 0; };
    if (!dual.dual) {
        return on(channel);
    }
    if (!dual.leftAbsent && on(dual.leftChannel)) {
        return true;
    }
    return !dual.rightAbsent && on(dual.rightChannel);
}

} // namespace tv
