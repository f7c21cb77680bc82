#pragma once

#include <cstdint>

namespace tv {

// Play commands written by the user-interface thread.
constexpr int kCmdPause = 2;
constexpr int kCmdPlay = 3;
constexpr int kCmdPlayBackward = 4;
constexpr int kCmdStepForward = 5;
constexpr int kCmdStepBackward = 6;
constexpr int kCmdSeek = 7;

// Play states the worker thread enters; the main window shows them as words.
constexpr int kStateReady = 0;
constexpr int kStateStop = 1;
constexpr int kStatePlay = 2;
constexpr int kStatePlayBackward = 3;
constexpr int kStateStepForward = 4;
constexpr int kStateStepBackward = 5;
constexpr int kStatePause = 6;
constexpr int kStateSearch = 7;

constexpr int kEngineModeLocal = 1;
constexpr int kEngineModeNetwork = 2;

constexpr uint32_t kEnginePacketSize = 131072;
constexpr uint32_t kEnginePictureSize = 414720;
constexpr uint32_t kEngineHalfPictureSize = 207360;
constexpr uint32_t kEngineLocalAudioSize = 8192;
constexpr uint32_t kEngineNetAudioSize = 16384;
constexpr uint32_t kNetVideoRecordSize = 131072;
constexpr uint32_t kNetAudioRecordSize = 4096;
// A live export frame is twice the picture's height in 24-bit pixels; the
// largest picture is 640 x 272.
constexpr uint32_t kLiveExportFrameSize = 640 * 272 * 2 * 3;

// Read failures in a row that end forward or backward playback.
constexpr int kMaxReadFailures = 4;

// How far back from a jump the key pictures are looked for: of the channels
// not met yet, and of those met. Playback and the navigator's pictures of a
// place share them, so both find the same key pictures.
constexpr uint64_t kKeySearchSoft = 4u << 20;
constexpr uint64_t kKeySearchHard = 48u << 20;
// Unreadable stretches a key-picture search reads past before giving up.
constexpr int kSearchFailures = 8;

// The play state a command leads to; an unknown command keeps the state.
int PlayStateForCommand(int command, int currentState);

// Speed for Play and PlayBackward: magnitude, capped at 8, 0 becomes 1.
double ClampPlaySpeed(double x);

// Next speed for a fast forward (or, mirrored, fast backward) press.
// sameCommand is the command the press posts, sameState the state it plays in.
double NextFastSpeed(double speed, int lastCommand, int playState, int sameCommand, int sameState);

// Pause drops only the fast speeds back to 1.
double SpeedAfterPause(double speed);

// Channel slots the video window gets for a recorder's channel count.
int ChannelSlotsFor(int channels);

// Microseconds per frame-gap unit for a picture of the given height, by the
// decoder's mode (the video format code, or 2 in live view).
int FramePeriodUs(int height, int decoderMode);

// Microseconds of the recording a picture stands for, (frame gap + 1) frame
// periods, at the given speed: how long it stays on screen before the next.
// Kept in microseconds because whole milliseconds would run fast by up to a
// millisecond a picture.
uint64_t PacingWaitUs(int frameGap, int framePeriodUs, double speed);

// The dual-picture description the decoder reports after a header parse.
struct DualInfo {
    int dual = 0;
    int leftChannel = 0;
    int rightChannel = 0;
    int leftAbsent = 0;
    int rightAbsent = 0;
};

// Whether a picture passes the channel enable flags (16 of them).
bool ChannelGatePasses(const int* enabled, int channel, const DualInfo& dual);

} // namespace tv
