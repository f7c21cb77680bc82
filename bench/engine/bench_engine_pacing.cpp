// Pictures shown per second by the local playback loop at each speed and in
// both directions, against the rate the recording asks for; recording time per
// wall second at the fast speeds; the time from Seek to a true picture on
// every channel in a 4 GB file; the memory held for playing backward.
// Runs headless (offscreen video window, silent sound driver).

#include "display/video_wnd.h"
#include "engine/player_engine.h"
#include "media/block_writer.h"
#include "media/qzf_block.h"
#include "media/stream_file.h"
#include "platform/clock.h"
#include "synth/sample_recording.h"

#include <QApplication>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
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
// the whole recording at a speed, and the pictures in it. Only pictures stand
// for recording time; sound costs none.
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
            if (!audio) {
                e.msAt[i] +=
                    double(PacingWaitUs(f.GetPacketFrameGap(), period, speeds[i])) / 1000.0;
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

    // Pictures are drawn as the viewer draws them, into a window of its size.
    CVideoWnd wnd;
    wnd.resize(1280, 960);
    CPlayerEngine engine;
    engine.Init(&wnd, nullptr, 4, 5, 8, 8000, 8);
    engine.SetMode(1, -1);
    engine.SetSplit(9, 0);
    engine.SetRepeat(1);
    ForwardRates(engine, quiet, "without sound");
    ForwardRates(engine, path, "with sound (A-law)");

    // Recording seconds per wall second at the fast speeds, from the block
    // times of the pictures shown.
    std::mutex timesLock;
    std::vector<std::pair<uint32_t, uint32_t>> shownTimes; // (wall ms, recording s)
    engine.SetPictureObserver([&](int, uint64_t, const SYSTEMTIME& t, const uint8_t*, int, int) {
        std::lock_guard<std::mutex> lock(timesLock);
        shownTimes.emplace_back(GetTickCount(), uint32_t(LocalToBlockTime(t, 0)));
    });
    auto recordingRate = [&](uint32_t ms) {
        Sleep(300);
        {
            std::lock_guard<std::mutex> lock(timesLock);
            shownTimes.clear();
        }
        Sleep(ms);
        std::lock_guard<std::mutex> lock(timesLock);
        if (shownTimes.size() < 2) {
            return 0.0;
        }
        const double rec =
            std::fabs(double(shownTimes.back().second) - double(shownTimes.front().second));
        const double wall = double(shownTimes.back().first - shownTimes.front().first) / 1000.0;
        return wall > 0 ? rec / wall : 0.0;
    };
    std::printf("\n%-22s %14s %14s %8s\n", "fast", "shown/s", "recording s/s", "ratio");
    for (int dir = 0; dir < 2; ++dir) {
        for (int presses : {1, 2}) {
            engine.Seek(dir == 0 ? 0 : std::filesystem::file_size(path) - 8192);
            WaitFor(engine, kStatePause, 5000);
            if (dir == 0) {
                engine.Play(8);
                WaitFor(engine, kStatePlay, 5000);
            } else {
                engine.PlayBackward(8);
                WaitFor(engine, kStatePlayBackward, 5000);
            }
            for (int i = 0; i < presses; ++i) {
                dir == 0 ? engine.FastForward() : engine.FastBackward();
            }
            const uint64_t p0 = engine.GetPicturesShown();
            const uint32_t t0 = GetTickCount();
            const double rate = recordingRate(3000);
            const double shown =
                double(engine.GetPicturesShown() - p0) * 1000.0 / double(GetTickCount() - t0);
            std::printf("%-8s x%-13.0f %14.1f %14.1f %8.3f\n", dir == 0 ? "forward" : "backward",
                        engine.GetSpeed(), shown, rate, rate / engine.GetSpeed());
        }
    }
    engine.SetPictureObserver(nullptr);

    std::printf("\n%-22s %12s %12s %8s\n", "speed 1", "shown/s", "forward/s", "ratio");
    for (const std::string& which : {quiet, path}) {
        engine.OpenStream(which, 0);
        engine.Seek(0);
        WaitFor(engine, kStatePause, 5000);
        engine.Play(1);
        const double fwd = MeasureRate(engine, 6000);
        engine.Seek(std::filesystem::file_size(which) - 8192);
        WaitFor(engine, kStatePause, 5000);
        engine.PlayBackward(1);
        const double back = MeasureRate(engine, 6000);
        std::printf("%-22s %12.1f %12.1f %8.3f\n",
                    which == quiet ? "backward, no sound" : "backward, sound", back, fwd,
                    back / fwd);
    }
    std::printf("reverse cache: %.2f MB in all, %.2f MB per channel (8 channels)\n",
                double(engine.GetReverseCacheBytes()) / 1e6,
                double(engine.GetReverseCacheBytes()) / 8e6);

    // Seek latency in a 4 GB file: copies of the recording spread over a
    // sparse file, the seek ending when every channel shows its true picture.
    engine.Pause();
    WaitFor(engine, kStatePause, 5000);
    const std::string big = std::string(dir) + "/big.qzf";
    const uint64_t bigSize = 4ull << 30;
    const uint64_t stride = 256ull << 20;
    std::vector<uint8_t> copy(std::filesystem::file_size(path));
    {
        FILE* in = std::fopen(path.c_str(), "rb");
        const size_t got = in != nullptr ? std::fread(copy.data(), 1, copy.size(), in) : 0;
        if (in != nullptr) {
            std::fclose(in);
        }
        const int fd = ::open(big.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        bool ok = fd >= 0 && got == copy.size() && ::ftruncate(fd, off_t(bigSize)) == 0;
        for (uint64_t at = 0; ok && at + copy.size() <= bigSize; at += stride) {
            ok = ::pwrite(fd, copy.data(), copy.size(), off_t(at)) == ssize_t(copy.size());
        }
        if (fd >= 0) {
            ::close(fd);
        }
        if (!ok) {
            std::fprintf(stderr, "cannot make the 4 GB file\n");
            return 1;
        }
    }
    engine.OpenStream(big, 0);
    engine.Pause();
    WaitFor(engine, kStatePause, 5000);
    std::mutex seenLock;
    uint32_t seen = 0;
    engine.SetPictureObserver(
        [&](int channel, uint64_t, const SYSTEMTIME&, const uint8_t*, int, int) {
            std::lock_guard<std::mutex> lock(seenLock);
            seen |= 1u << (channel & 15);
        });
    std::vector<double> latencies;
    int complete = 0;
    uint64_t pos = 12345;
    for (int i = 0; i < 40; ++i) {
        pos = (pos * 6364136223846793005ULL + 1442695040888963407ULL);
        const uint64_t region = (pos >> 33) % (bigSize / stride);
        const uint64_t target = region * stride + ((pos % (copy.size() - 65536)) & ~uint64_t(4095));
        {
            std::lock_guard<std::mutex> lock(seenLock);
            seen = 0;
        }
        const uint64_t taken = engine.GetCommandsTaken();
        const auto t0 = std::chrono::steady_clock::now();
        engine.Seek(target);
        while ((engine.GetCommandsTaken() == taken || engine.GetPlayState() != kStatePause) &&
               std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5)) {
            std::this_thread::yield();
        }
        const auto t1 = std::chrono::steady_clock::now();
        latencies.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        std::lock_guard<std::mutex> lock(seenLock);
        complete += seen == 0xFF ? 1 : 0;
    }
    engine.SetPictureObserver(nullptr);
    std::sort(latencies.begin(), latencies.end());
    std::printf(
        "\nseek to a true picture on every channel (%d seeks in a %.1f GB file, %d with all "
        "8 channels): median %.2f ms, worst %.2f ms (goal under 50 ms)\n",
        int(latencies.size()), double(bigSize) / 1e9, complete, latencies[latencies.size() / 2],
        latencies.back());

    engine.StopPlayback();
    std::filesystem::remove_all(dir);
    return 0;
}
