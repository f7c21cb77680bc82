#pragma once

// A QZF recording as a recorder writes one, made of test patterns and a tone:
// used by `qzftool make-sample`, the engine's tests and demos.

#include "media/block_writer.h"
#include "platform/audio_format.h"
#include "platform/video_format.h"
#include "platform/win_types.h"

#include <cstdint>
#include <string>

namespace tv::synth {

struct SampleOptions {
    int channels = 8;    // 1..16 (format 0 carries 4, format 2 one)
    double seconds = 30; // length of the recording
    double fps = 0;      // pictures per second per channel; 0: the recorder's pace
    int videoFormat = VF_QZB2;
    int audioFormat = kAudioAlaw;                 // 0 for no audio
    int lines = 224;                              // 224 or 272
    bool diskImage = false;                       // 16-bit words swapped, as on a recorder's disk
    SYSTEMTIME start{2024, 6, 6, 1, 12, 0, 0, 0}; // local standard time
    uint32_t seed = 1;
    int quantScale = 4;
    int sampleRate = 8000;
    double toneHz = 440;
    // Pictures of a channel from one key picture to the next; 0: one a second.
    int keyEvery = 0;
    // Channels (bit n for channel n) whose square and disc stand still.
    uint32_t stillChannels = 0;
};

struct SampleSummary {
    int channels = 0;
    int frameGap = 0;
    double fps = 0;          // per channel
    int frameIntervalUs = 0; // between consecutive pictures of the recording
    long pictures = 0;
    long keyPictures = 0;
    long audioPackets = 0;
    uint64_t bytes = 0;
};

// The engine's frame period in microseconds for a picture height and video format code.
int FramePeriodUs(int lines, int videoFormat);

// Writes the recording through writer (whose output the caller has attached)
// and finishes it. Pictures go round the channels in turn; each channel gets a
// key picture every second and update pictures between; block times and frame
// gaps follow the engine's pacing rule so that playback at speed 1 runs at
// real time. With format 5 the channels are paired into dual pictures.
// Result 1, or 0 with *error set.
int WriteSampleRecording(const SampleOptions& options, CQzfBlockWriter& writer,
                         SampleSummary* summary, std::string* error);

// Changes the fewest bytes so that no 00 00 01 F8..FD occurs in data that is
// to sit inside a packet. Returns the number of bytes changed.
int BreakPacketStartCodes(uint8_t* data, size_t n);

} // namespace tv::synth
