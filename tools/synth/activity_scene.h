#pragma once

// Recordings whose motion is known: per channel a still scene, optionally
// with sensor-like noise or flicker, and an object that moves only during the
// given stretches of time. Pictures are coded as a recorder codes them: a key
// picture per channel every second and update pictures of what changed
// between (with noise, that is most of the picture).

#include "media/block_writer.h"
#include "platform/video_format.h"
#include "platform/win_types.h"

#include <string>
#include <utility>
#include <vector>

namespace tv::synth {

struct SceneChannel {
    std::vector<std::pair<double, double>> moving; // [from, to) seconds after the start
    int noise = 0;   // each luma sample moves by up to this much, every picture
    int flicker = 0; // the whole picture brightens and darkens by this much
};

struct SceneOptions {
    std::vector<SceneChannel> channels; // channel n is channels[n]; 1 to 16
    double seconds = 30;
    double fps = 4; // pictures per second per channel
    int videoFormat = VF_QZB2;
    int lines = 224;
    bool diskImage = false;
    SYSTEMTIME start{2024, 6, 4, 5, 9, 30, 0, 0}; // local standard time
    uint32_t seed = 1;
    int quantScale = 6;
};

// Writes the recording through writer and finishes it; result 1, or 0 with *error.
int WriteActivityScene(const SceneOptions& options, CQzfBlockWriter& writer, std::string* error);

} // namespace tv::synth

namespace tv::synth {

// A day-like scene for demonstrations and measurements: channel 1 still,
// the last channel noisy and still, the others with an object that moves for
// a few seconds at times that differ per channel and per minute.
SceneOptions PlannedScene(int channels, double seconds);

} // namespace tv::synth
