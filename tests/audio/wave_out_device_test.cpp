// Playback through SDL's disk driver, which writes what the device plays to a
// file at the device's rate (and silence while the device is paused).

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "audio/audio_converter.h"
#include "audio/wave_out.h"
#include "platform/clock.h"

namespace tv {
namespace {

using Clock = std::chrono::steady_clock;

// Generous: only a machine that is badly stuck takes this long.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 20000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        Sleep(2);
    }
    return true;
}

uint32_t Position(const CWaveOut& w) {
    uint32_t p = 0;
    w.GetPosition(&p);
    return p;
}

class WaveOutDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        m_path =
            std::filesystem::temp_directory_path() /
            ("tv_audio_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + ".raw");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", m_path.c_str(), 1);
        unsetenv("SDL_DISKAUDIODELAY");
        m_format = Format();
    }
    void TearDown() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        std::error_code ec;
        std::filesystem::remove(m_path, ec);
    }

    static WAVEFORMATEX Format() {
        WAVEFORMATEX w;
        CAudioConverter conv;
        conv.Configure(kAudioSpcm16, 8000, &w);
        return w;
    }

    std::vector<int16_t> PlayedSamples() const {
        std::ifstream in(m_path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        std::vector<int16_t> s(bytes.size() / 2);
        for (size_t i = 0; i < s.size(); ++i) {
            s[i] = static_cast<int16_t>(GetLe16(reinterpret_cast<const uint8_t*>(&bytes[2 * i])));
        }
        return s;
    }

    std::filesystem::path m_path;
    WAVEFORMATEX m_format;
};

TEST_F(WaveOutDeviceTest, PlaysSamplesInOrderAtTheRatePausingWhenStarved) {
    constexpr int kChunk = 200; // samples per write
    std::vector<int16_t> played;
    uint32_t underruns = 0;
    {
        CWaveOut w;
        ASSERT_EQ(w.Open(m_format), 1);
        ASSERT_EQ(w.Start(), 1);
        w.Pump(); // nothing queued: the first pause
        ASSERT_EQ(w.IsPaused(), 1);
        const uint32_t underrunsBefore = w.GetUnderruns();

        // A ramp 1, 2, 3 ... has no zero, so the device's silence can be told apart.
        int next = 1;
        auto feed = [&](int last) {
            return WaitFor([&] {
                uint8_t buf[2 * kChunk];
                const int n = std::min(kChunk, last - next + 1);
                for (int i = 0; i < n; ++i) {
                    PutLe16(buf + 2 * i, static_cast<uint16_t>(next + i));
                }
                if (n > 0 && w.Write(buf, 2 * n)) {
                    next += n;
                }
                w.Pump();
                return next > last;
            });
        };

        const uint32_t p0 = Position(w);
        const auto t0 = Clock::now();
        ASSERT_TRUE(feed(12000));
        ASSERT_TRUE(WaitFor([&] { return Position(w) - p0 >= 16000; }));
        const uint32_t p1 = Position(w);
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        // The device cannot play faster than 16000 bytes a second (plus the
        // buffers it takes at once); only a stalled machine makes it much slower.
        EXPECT_LE(p1 - p0, 16000.0 * seconds + 2048);
        EXPECT_GE(p1 - p0, 16000.0 * seconds * 0.3);

        // Starved: paused, and the position stands still.
        ASSERT_TRUE(WaitFor([&] {
            w.Pump();
            return w.IsPaused() == 1;
        }));
        EXPECT_LT(w.GetQueued(), 1024u);
        const uint32_t stopped = Position(w);
        Sleep(300);
        EXPECT_EQ(Position(w), stopped);

        // Fed again: it restarts and plays on.
        ASSERT_TRUE(feed(14000));
        EXPECT_TRUE(WaitFor([&] { return Position(w) > stopped + 2048; }));
        ASSERT_TRUE(WaitFor([&] {
            w.Pump();
            return w.IsPaused() == 1;
        }));
        underruns = w.GetUnderruns() - underrunsBefore;
    }
    played = PlayedSamples();
    ASSERT_FALSE(played.empty());
    if (underruns != 0) {
        GTEST_SKIP() << "the writer was starved " << underruns
                     << " time(s), so the device replayed old samples";
    }
    // Everything played, in order, once; less than 1024 bytes may stay queued at the end.
    int expect = 1;
    for (int16_t s : played) {
        if (s == 0) {
            continue;
        }
        ASSERT_EQ(s, expect) << "sample out of order";
        ++expect;
    }
    EXPECT_GT(expect - 1, 14000 - 512);
}

TEST_F(WaveOutDeviceTest, VolumeAndMuteShapeWhatIsPlayed) {
    {
        CWaveOut w;
        ASSERT_EQ(w.Open(m_format), 1);
        ASSERT_EQ(w.Start(), 1);
        // Fill the whole ring with one level; never pumped, the device loops it.
        std::vector<uint8_t> level(1024);
        for (size_t i = 0; i < level.size(); i += 2) {
            PutLe16(&level[i], 10000);
        }
        uint32_t covered = 0;
        uint32_t underruns = w.GetUnderruns();
        ASSERT_TRUE(WaitFor([&] {
            if (w.Write(level.data(), 1024)) {
                covered += 1024;
            }
            if (w.GetUnderruns() != underruns) {
                underruns = w.GetUnderruns();
                covered = 0;
            }
            return covered >= CWaveOut::kRingSize + 1024;
        }));
        auto playOn = [&](uint32_t bytes) {
            const uint32_t from = Position(w);
            return WaitFor([&] { return Position(w) - from >= bytes; });
        };

        ASSERT_TRUE(playOn(2048));
        w.SetMute(1);
        ASSERT_TRUE(playOn(2048));
        w.SetVolume(0x8000); // muted: must stay silent
        ASSERT_TRUE(playOn(4096));
        w.SetMute(0); // applies 0x80008000
        ASSERT_TRUE(playOn(4096));
    }
    const std::vector<int16_t> played = PlayedSamples();
    const int16_t half = 10000 * 0x8000 / 0xFFFF;
    size_t lastFull = 0;
    size_t firstHalf = played.size();
    for (size_t i = 0; i < played.size(); ++i) {
        ASSERT_TRUE(played[i] == 0 || played[i] == 10000 || played[i] == half)
            << "unexpected sample " << played[i] << " at " << i;
        if (played[i] == 10000) {
            lastFull = i;
        }
        if (played[i] == half && firstHalf == played.size()) {
            firstHalf = i;
        }
    }
    ASSERT_GT(lastFull, 0u);
    ASSERT_LT(firstHalf, played.size());
    ASSERT_GT(firstHalf, lastFull);
    // Silent from the mute through the volume change until the unmute.
    EXPECT_GE(firstHalf - lastFull, (2048u + 4096u) / 2 - 512);
    size_t halves = 0;
    for (size_t i = firstHalf; i < played.size(); ++i) {
        halves += played[i] == half;
        EXPECT_NE(played[i], 10000);
    }
    EXPECT_GE(halves, 4096u / 2 - 512);
}

} // namespace
} // namespace tv
