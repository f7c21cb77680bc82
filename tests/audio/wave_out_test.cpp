// The ring's arithmetic is driven by calling the device callback by hand on a
// device that was opened but never started (SDL keeps it paused), so the play
// position moves only when the test says. Real playback goes through SDL's
// disk driver in wave_out_device_test.cpp.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "audio/audio_converter.h"
#include "audio/wave_out.h"
#include "platform/notifier.h"

namespace tv {
namespace {

WAVEFORMATEX Format(int code, int rate = 8000) {
    WAVEFORMATEX w;
    CAudioConverter conv;
    conv.Configure(code, rate, &w);
    return w;
}

class WaveOutTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        SetMessageBoxHandler(
            [this](const std::string& text, const std::string&) { m_boxes.push_back(text); });
    }
    void TearDown() override { SetMessageBoxHandler(nullptr); }

    // What the device would be handed next: n bytes, advancing the play position.
    static std::vector<uint8_t> Play(CWaveOut& w, int n) {
        std::vector<uint8_t> out(static_cast<size_t>(n));
        CWaveOut::FillDeviceBuffer(&w, out.data(), n);
        return out;
    }

    static std::vector<uint8_t> Pattern(int n, int seed) {
        std::vector<uint8_t> v(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            v[i] = static_cast<uint8_t>(i * 7 + seed);
        }
        return v;
    }

    std::vector<std::string> m_boxes;
};

TEST_F(WaveOutTest, WriterKeepsItsDistanceFromThePlayPosition) {
    CWaveOut w;
    ASSERT_EQ(w.Open(Format(kAudioAlaw)), 1);
    std::vector<uint8_t> data(8192, 1);

    ASSERT_EQ(w.Write(data.data(), 7000), 1);
    EXPECT_EQ(w.Write(data.data(), 200), 0); // 7000 + 200 + 1024 > 8192
    EXPECT_EQ(w.GetLastRefusal(), kWaveRingFull);
    EXPECT_EQ(w.GetQueued(), 7000u);
    EXPECT_EQ(w.GetBytesWritten(), 7000u);

    ASSERT_EQ(w.Open(Format(kAudioAlaw)), 1); // reopening starts from nothing
    EXPECT_EQ(w.GetBytesWritten(), 0u);
    ASSERT_EQ(w.Write(data.data(), 6968), 1);
    EXPECT_EQ(w.Write(data.data(), 200), 1); // exactly 8192 is allowed
    EXPECT_EQ(w.GetLastRefusal(), kWaveTaken);
    EXPECT_EQ(w.GetBytesWritten(), 7168u);

    // Once the device has played on, the same write fits.
    Play(w, 200);
    EXPECT_EQ(w.Write(data.data(), 200), 1);
    EXPECT_EQ(w.GetQueued(), 6968u);
}

TEST_F(WaveOutTest, WritesAndPlaybackWrapAroundTheRingInOrder) {
    CWaveOut w;
    ASSERT_EQ(w.Open(Format(kAudioUpcm8)), 1);
    const std::vector<uint8_t> a = Pattern(6000, 3);
    const std::vector<uint8_t> b = Pattern(4000, 101);
    ASSERT_EQ(w.Write(a.data(), 6000), 1);
    const std::vector<uint8_t> first = Play(w, 4000);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), a.begin()));

    ASSERT_EQ(w.Write(b.data(), 4000), 1); // runs from offset 6000 over the end to 1808
    EXPECT_EQ(w.GetBytesWritten(), 10000u);
    const std::vector<uint8_t> rest = Play(w, 6000);
    EXPECT_TRUE(std::equal(rest.begin(), rest.begin() + 2000, a.begin() + 4000));
    EXPECT_TRUE(std::equal(rest.begin() + 2000, rest.end(), b.begin()));

    // With nothing new written the device replays what the ring holds.
    const std::vector<uint8_t> again = Play(w, 100);
    EXPECT_TRUE(std::equal(again.begin(), again.end(), a.begin() + 1808));
}

TEST_F(WaveOutTest, PumpPausesWhenStarvedAndRestartsWhenFed) {
    CWaveOut w;
    ASSERT_EQ(w.Open(Format(kAudioSpcm16)), 1);
    std::vector<uint8_t> data(4096, 5);

    // The first pause drops what was queued: the writer restarts where the device stopped.
    ASSERT_EQ(w.Write(data.data(), 500), 1);
    w.Pump();
    EXPECT_EQ(w.IsPaused(), 1);
    EXPECT_EQ(w.GetBytesWritten(), 0u);

    ASSERT_EQ(w.Write(data.data(), 1000), 1);
    w.Pump();
    EXPECT_EQ(w.IsPaused(), 1); // 1000 < 1024
    ASSERT_EQ(w.Write(data.data(), 24), 1);
    w.Pump();
    EXPECT_EQ(w.IsPaused(), 0); // 1024 queued

    Play(w, 200);
    w.Pump();
    EXPECT_EQ(w.IsPaused(), 1);
    EXPECT_EQ(w.GetQueued(), 824u);
    EXPECT_EQ(w.GetBytesWritten(), 1024u); // later pauses keep what is queued

    // A device that ran past everything written: the writer jumps to the play position.
    Play(w, 3000);
    w.Pump();
    EXPECT_EQ(w.GetBytesWritten(), 3200u);
    EXPECT_EQ(w.GetQueued(), 0u);
}

TEST_F(WaveOutTest, LateWriterStartsAtThePlayPositionNotBehindIt) {
    CWaveOut w;
    ASSERT_EQ(w.Open(Format(kAudioUpcm8)), 1);
    std::vector<uint8_t> old(2000, 0x11);
    ASSERT_EQ(w.Write(old.data(), 2000), 1);
    Play(w, 5000); // played the 2000 bytes and 3000 more
    const std::vector<uint8_t> fresh = Pattern(7000, 9);
    ASSERT_EQ(w.Write(fresh.data(), 7000), 1);
    EXPECT_EQ(w.GetBytesWritten(), 12000u);
    const std::vector<uint8_t> heard = Play(w, 7000);
    EXPECT_EQ(heard, fresh);
}

TEST_F(WaveOutTest, WriteExpandedStoresAlawValuesAndCountsTwoBytesPerCode) {
    CWaveOut w;
    ASSERT_EQ(w.Open(Format(kAudioAlaw)), 1);
    const uint8_t codes[3] = {0xD5, 0x55, 0x00};
    ASSERT_EQ(w.WriteExpanded(codes, 3), 1);
    EXPECT_EQ(w.GetBytesWritten(), 6u);
    const std::vector<uint8_t> out = Play(w, 6);
    EXPECT_EQ(static_cast<int16_t>(GetLe16(&out[0])), 8);
    EXPECT_EQ(static_cast<int16_t>(GetLe16(&out[2])), -8);
    EXPECT_EQ(static_cast<int16_t>(GetLe16(&out[4])), -5504);

    // The distance rule counts the expanded size.
    ASSERT_EQ(w.Open(Format(kAudioAlaw)), 1);
    std::vector<uint8_t> data(6000, 0xD5);
    ASSERT_EQ(w.Write(data.data(), 6000), 1);
    EXPECT_EQ(w.WriteExpanded(data.data(), 600), 0); // 6000 + 1200 + 1024 > 8192
    EXPECT_EQ(w.WriteExpanded(data.data(), 584), 1); // exactly 8192
    EXPECT_EQ(w.GetBytesWritten(), 7168u);
}

TEST_F(WaveOutTest, RefusesWhatCanNeverFitAndKeepsSamplesWhole) {
    CWaveOut w;
    ASSERT_EQ(w.Open(Format(kAudioSpcm16)), 1);
    std::vector<uint8_t> data(9000, 1);
    EXPECT_EQ(w.Write(data.data(), 8193), 0);
    EXPECT_EQ(w.GetLastRefusal(), kWaveTooLarge);
    EXPECT_EQ(w.WriteExpanded(data.data(), 4097), 0);
    EXPECT_EQ(w.GetLastRefusal(), kWaveTooLarge);
    EXPECT_EQ(w.Write(nullptr, 4), 0);
    EXPECT_EQ(w.Write(data.data(), -1), 0);
    EXPECT_EQ(w.GetBytesWritten(), 0u);

    // An odd byte on 16-bit output would shift every later sample.
    ASSERT_EQ(w.Write(data.data(), 5), 1);
    EXPECT_EQ(w.GetBytesWritten(), 4u);
}

TEST_F(WaveOutTest, RefusedWriteWakesADeviceThatPausedForLackOfData) {
    CWaveOut w;
    ASSERT_EQ(w.Open(Format(kAudioUpcm8)), 1);
    std::vector<uint8_t> data(8192, 0x40);
    w.Pump(); // first pause
    ASSERT_EQ(w.Write(data.data(), 7000), 1);
    w.Pump();
    ASSERT_EQ(w.IsPaused(), 0);
    Play(w, 6500);
    w.Pump();
    ASSERT_EQ(w.IsPaused(), 1); // 500 queued

    // 500 + 7000 + 1024 cannot fit, and a paused device would never make room.
    EXPECT_EQ(w.Write(data.data(), 7000), 0);
    EXPECT_EQ(w.GetLastRefusal(), kWaveRingFull);
    EXPECT_EQ(w.IsPaused(), 0);
    Play(w, 501);
    EXPECT_EQ(w.Write(data.data(), 7000), 1);
}

TEST_F(WaveOutTest, VolumeAndMuteActOnTheOutput) {
    CWaveOut w;
    ASSERT_EQ(w.Open(Format(kAudioSpcm16)), 1);
    std::vector<uint8_t> data(2048);
    for (size_t i = 0; i < data.size(); i += 2) {
        PutLe16(&data[i], static_cast<uint16_t>(i % 4 ? -10000 : 10000));
    }
    ASSERT_EQ(w.Write(data.data(), 2048), 1);

    auto next = [&](int expect) {
        const std::vector<uint8_t> out = Play(w, 4);
        EXPECT_EQ(static_cast<int16_t>(GetLe16(&out[0])), expect);
        EXPECT_EQ(static_cast<int16_t>(GetLe16(&out[2])), -expect);
    };
    next(10000);
    w.SetMute(1);
    EXPECT_EQ(w.GetMute(), 1);
    next(0);
    w.SetVolume(0x8000);
    EXPECT_EQ(w.GetDeviceVolume(), 0u);
    next(0);
    w.SetMute(0);
    EXPECT_EQ(w.GetDeviceVolume(), 0x80008000u);
    next(10000 * 0x8000 / 0xFFFF);
    w.SetVolume(0);
    next(0);
    w.SetVolume(0xFFFF);
    next(10000);

    w.SetVolume(0x12345);
    EXPECT_EQ(w.GetVolume(), 0x2345u);
    EXPECT_EQ(w.GetDeviceVolume(), 0x23452345u);
}

TEST_F(WaveOutTest, EightBitVolumeScalesAroundTheMidpoint) {
    CWaveOut w;
    ASSERT_EQ(w.Open(Format(kAudioUpcm8)), 1);
    const uint8_t data[4] = {0xFF, 0x00, 0x80, 0xC0};
    ASSERT_EQ(w.Write(data, 4), 1);
    w.SetVolume(0x8000);
    const std::vector<uint8_t> out = Play(w, 4);
    EXPECT_EQ(out[0], 128 + 127 * 0x8000 / 0xFFFF);
    EXPECT_EQ(out[1], 128 - 128 * 0x8000 / 0xFFFF);
    EXPECT_EQ(out[2], 0x80);
    EXPECT_EQ(out[3], 128 + 64 * 0x8000 / 0xFFFF);
    w.SetMute(1);
    EXPECT_EQ(Play(w, 4), std::vector<uint8_t>(4, 0x80)); // silence, not a DC step
}

TEST_F(WaveOutTest, VolumeIsRememberedButOnlyAppliedToAnOpenDevice) {
    CWaveOut w;
    w.SetVolume(0x1000);
    EXPECT_EQ(w.GetVolume(), 0x1000u);
    EXPECT_EQ(w.GetDeviceVolume(), 0xFFFFFFFFu); // no device yet
    w.SetMute(1);
    EXPECT_EQ(w.GetDeviceVolume(), 0xFFFFFFFFu);
    ASSERT_EQ(w.Open(Format(kAudioAlaw)), 1);
    EXPECT_EQ(w.GetMute(), 1);
    w.SetMute(1);
    EXPECT_EQ(w.GetDeviceVolume(), 0u);
    ASSERT_EQ(w.Open(Format(kAudioAlaw)), 1);
    EXPECT_EQ(w.GetDeviceVolume(), 0u); // reopening keeps what was applied
    w.SetMute(0);
    EXPECT_EQ(w.GetDeviceVolume(), 0x10001000u);
}

TEST_F(WaveOutTest, WithoutADeviceEverythingRefusesAtOnce) {
    CWaveOut w;
    const uint8_t data[16] = {};
    EXPECT_EQ(w.Write(data, 16), 0);
    EXPECT_EQ(w.GetLastRefusal(), kWaveNoDevice);
    EXPECT_EQ(w.WriteExpanded(data, 8), 0);
    EXPECT_EQ(w.GetLastRefusal(), kWaveNoDevice);
    w.Pump();
    EXPECT_EQ(w.Start(), 1);
    uint32_t p = 123;
    EXPECT_EQ(w.GetPosition(&p), 0);
    EXPECT_EQ(w.IsOpen(), 0);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(WaveOutTest, OpenFailureIsReportedOnceUntilAnOpenSucceeds) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    {
        CWaveOut w;
        EXPECT_EQ(w.Open(Format(kAudioAlaw)), 0);
        EXPECT_EQ(w.Open(Format(kAudioAlaw)), 0);
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_EQ(m_boxes[0], "Sound device open error !");
        const uint8_t data[4] = {};
        EXPECT_EQ(w.Write(data, 4), 0);
        EXPECT_EQ(w.GetLastRefusal(), kWaveNoDevice);

        setenv("SDL_AUDIODRIVER", "dummy", 1);
        EXPECT_EQ(w.Open(Format(kAudioAlaw)), 1);
        EXPECT_EQ(w.Write(data, 4), 1);
    }
    // A format the device cannot take fails the same way.
    CWaveOut w;
    WAVEFORMATEX bad = Format(kAudioAlaw);
    bad.wBitsPerSample = 12;
    EXPECT_EQ(w.Open(bad), 0);
    EXPECT_EQ(w.IsOpen(), 0);
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[1], "Sound device open error !");
    EXPECT_EQ(w.Open(Format(kAudioAlaw, 0)), 0);
    EXPECT_EQ(m_boxes.size(), 2u);
}

} // namespace
} // namespace tv
