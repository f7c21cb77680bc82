// Pictures shown per second by the local playback loop at each speed, against
// the rate the recording asks for, and the time from Seek to the picture.
// Runs headless (offscreen video window, silent sound driver).

#include "engine/player_engine.h"
#include "media/block_writer.h"
#include "media/stream_file.h"
#include "platform/clock.h"
#include "synth/sample_recording.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace tv;

namespace {

bool WaitFor(CPlayerEngine& e, int state, uint32_t timeoutMs) {
    const uint32_t start = GetTickCount();
    while (e.GetPlayState() != state) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

// Pictures per second handed to the video window over the next ms milliseconds.
double MeasureRate(CPlayerEngine& e, uint32_t ms) {
    Sleep(300); // let the command take and the loop settle
    const uint64_t p0 = e.GetPicturesShown();
    const uint32_t t0 = GetTickCount();
    Sleep(ms);
    const uint64_t p1 = e.GetPicturesShown();
    const uint32_t t1 = GetTickCount();
    return double(p1 - p0) * 1000.0 / double(t1 - t0);
}

// What the pacing rule asks for: the milliseconds the loop should spend on
// the whole recording at a speed (waits truncated to whole milliseconds as the
// loop does), and the pictures in it.
struct Expected {
    double msAt[4] = {0, 0, 0, 0}; // speeds 1, 2, 4, 8
    long pictures = 0;
};

Expected ExpectedPacing(const std::string& path, int format, int lines) {
    Expected e;
    CStreamFile f;
    f.SetFormat(format);
    if (!f.Open(path, 0)) {
        return e;
    }
    std::vector<uint8_t> packet(kEnginePacketSize);
    const int period = FramePeriodUs(lines, format);
    const double speeds[4] = {1, 2, 4, 8};
    int failures = 0;
    while (failures < 5) {
        if (f.ReadForward(packet.data()) <= 0) {
            ++failures;
            continue;
        }
        failures = 0;
        const bool audio = f.IsAudio() != 0;
        e.pictures += audio ? 0 : 1;
        for (int i = 0; i < 4; ++i) {
            // At speed 1 sound is played, not paced; at other speeds it costs a wait.
            if (!audio || i > 0) {
                e.msAt[i] += PacingWaitMs(f.GetFrameGap(), period, speeds[i]);
            }
        }
    }
    return e;
}

std::string MakeSample(const std::string& dir, const char* name, int audioFormat,
                       synth::SampleSummary* summary) {
    const std::string path = dir + "/" + name;
    synth::SampleOptions o;
    o.channels = 8;
    o.fps = 25;
    o.seconds = 120;
    o.audioFormat = audioFormat;
    CQzfBlockWriter w;
    w.SetFormat(o.videoFormat);
    std::string error;
    if (!w.OpenFile(path) || !synth::WriteSampleRecording(o, w, summary, &error)) {
        std::fprintf(stderr, "sample: %s\n", error.c_str());
        return "";
    }
    w.Close();
    return path;
}

void ForwardRates(CPlayerEngine& engine, const std::string& path, const char* label) {
    const Expected ex = ExpectedPacing(path, 4, 224);
    std::printf("\n%s: %ld pictures, %.1f MB\n", label, ex.pictures,
                double(std::filesystem::file_size(path)) / 1e6);
    std::printf("%-10s %12s %14s %8s\n", "speed", "shown/s", "pacing rule/s", "ratio");
    engine.OpenStream(path, 0);
    const double speeds[4] = {1, 2, 4, 8};
    for (int i = 0; i < 4; ++i) {
        engine.Seek(0);
        WaitFor(engine, kStatePause, 5000);
        engine.Play(speeds[i]);
        const double rate = MeasureRate(engine, 4000);
        const double rule = ex.pictures * 1000.0 / ex.msAt[i];
        std::printf("%-10.0f %12.1f %14.1f %8.3f\n", speeds[i], rate, rule, rate / rule);
    }
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    QApplication app(argc, argv);

    char templ[] = "/tmp/tv-bench-engine-XXXXXX";
    const char* dir = mkdtemp(templ);
    if (dir == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    synth::SampleSummary summary;
    synth::SampleSummary silent;
    const std::string path = MakeSample(dir, "sample.qzf", 5, &summary);
    const std::string quiet = MakeSample(dir, "silent.qzf", 0, &silent);
    if (path.empty() || quiet.empty()) {
        return 1;
    }
    std::printf("recordings: %d channels at %.2f pictures/s each (%.0f pictures/s), 120 s\n",
                summary.channels, summary.fps, summary.fps * summary.channels);

    CPlayerEngine engine;
    engine.Init(nullptr, RECT{0, 0, 1280, 960}, 4, 5, 8, 8000, 8);
    engine.SetMode(1, -1);
    engine.GetVideoWindow()->resize(1280, 960);
    engine.SetSplit(9, 0);
    engine.SetRepeat(1);
    ForwardRates(engine, quiet, "without sound");
    ForwardRates(engine, path, "with sound (A-law)");

    std::printf("\n%-22s %12s\n", "fast forward", "decoded/s");
    for (int presses : {2, 3}) {
        engine.Seek(0);
        WaitFor(engine, kStatePause, 5000);
        engine.Play(1);
        WaitFor(engine, kStatePlay, 5000);
        for (int i = 0; i < presses; ++i) {
            engine.FastForward();
        }
        const double rate = MeasureRate(engine, 3000);
        std::printf("speed %-16.0f %12.1f\n", engine.GetSpeed(), rate);
    }

    std::printf("\n%-22s %12s %12s %8s\n", "speed 1", "shown/s", "forward/s", "ratio");
    engine.Seek(0);
    WaitFor(engine, kStatePause, 5000);
    engine.Play(1);
    const double forward = MeasureRate(engine, 4000);
    engine.Seek(std::filesystem::file_size(path) / 2);
    WaitFor(engine, kStatePause, 5000);
    engine.PlayBackward(1);
    const double backward = MeasureRate(engine, 4000);
    std::printf("%-22s %12.1f %12.1f %8.3f\n", "backward", backward, forward, backward / forward);

    // Seek latency: from the call to the picture handed to the window.
    engine.Pause();
    WaitFor(engine, kStatePause, 5000);
    const uint64_t size = std::filesystem::file_size(path);
    std::vector<double> latencies;
    uint64_t pos = 12345;
    for (int i = 0; i < 40; ++i) {
        pos = (pos * 6364136223846793005ULL + 1442695040888963407ULL);
        const uint64_t target = (pos % (size - 65536)) & ~uint64_t(4095);
        const uint64_t before = engine.GetPicturesShown();
        const auto t0 = std::chrono::steady_clock::now();
        engine.Seek(target);
        while (engine.GetPicturesShown() == before &&
               std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5)) {
            std::this_thread::yield();
        }
        const auto t1 = std::chrono::steady_clock::now();
        latencies.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        WaitFor(engine, kStatePause, 5000);
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("\nseek to picture on screen (%d seeks in %.1f MB): median %.2f ms, worst %.2f ms "
                "(goal under 50 ms)\n",
                int(latencies.size()), double(size) / 1e6, latencies[latencies.size() / 2],
                latencies.back());

    engine.StopPlayback();
    std::filesystem::remove_all(dir);
    return 0;
}
