// How closely the wave output's play position follows real time. Plays a full
// ring round and round through SDL's disk driver (which paces itself like a
// sound card) and samples the position every millisecond for three seconds.
// The position counts bytes handed to the device, so it moves in steps of one
// device buffer and runs ahead of what is heard by that much plus whatever the
// sound server buffers.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "audio/audio_converter.h"
#include "audio/wave_out.h"
#include "platform/clock.h"

int main() {
    using Clock = std::chrono::steady_clock;
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);

    tv::CAudioConverter conv;
    tv::WAVEFORMATEX wfx;
    conv.Configure(tv::kAudioAlaw, 8000, &wfx);
    tv::CWaveOut out;
    if (!out.Open(wfx) || !out.Start()) {
        std::printf("no audio device\n");
        return 0;
    }
    const double bytesPerMs = wfx.nAvgBytesPerSec / 1000.0;

    uint32_t first = 0;
    while (out.GetPosition(&first) && first == 0) {
        tv::Sleep(1);
    }
    const auto t0 = Clock::now();
    std::vector<std::pair<double, double>> samples; // (elapsed ms, position ms)
    uint32_t last = first;
    int steps = 0;
    for (double ms = 0; ms < 3000;
         ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count()) {
        uint32_t p = 0;
        out.GetPosition(&p);
        steps += p != last;
        last = p;
        samples.emplace_back(ms, (p - first) / bytesPerMs);
        tv::Sleep(1);
    }
    // Deviation from the straight line through the samples: the step size and
    // any stalls, apart from the device clock's own drift.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto& [x, y] : samples) {
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double n = static_cast<double>(samples.size());
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double offset = (sy - slope * sx) / n;
    double worst = 0;
    for (const auto& [x, y] : samples) {
        worst = std::max(worst, std::abs(y - (offset + slope * x)));
    }
    std::printf("play position at 8000 Hz, 16-bit mono: %d steps of %.1f ms in %.0f ms; "
                "within %.1f ms of a straight line; device clock %.2f%% of real time\n",
                steps, steps ? (last - first) / bytesPerMs / steps : 0.0, samples.back().first,
                worst, slope * 100.0);
    return 0;
}
