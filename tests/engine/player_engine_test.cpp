#include "display/video_wnd.h"
#include "engine/player_engine.h"
#include "engine_test_util.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using namespace tv;
using namespace tv::enginetest;

namespace {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine = std::make_unique<CPlayerEngine>();
        // Shown at the size the window had in the viewer.
        wnd.resize(640, 480);
        wnd.show();
        engine->Init(&wnd, nullptr, 4, 5, 8, 8000, 8);
        engine->SetMode(1, -1);
        engine->SetPictureSink(log.Sink());
    }
    void TearDown() override { engine.reset(); }

    // Opens the recording and waits until the first picture was handed on.
    void OpenAndPause(const std::string& path) {
        ASSERT_EQ(engine->OpenStream(path, 0), 1);
        engine->Pause();
        ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    }

    TempDir dir;
    PictureLog log;
    CVideoWnd wnd; // outlives the engine
    std::unique_ptr<CPlayerEngine> engine;
};

TEST_F(EngineTest, DefaultsAndFrameTimeBeforeAnyBlock) {
    CPlayerEngine fresh;
    EXPECT_EQ(fresh.GetMode(), 2);
    EXPECT_EQ(fresh.GetPlayState(), 0);
    EXPECT_EQ(fresh.GetSpeed(), 1.0);
    EXPECT_EQ(fresh.GetRepeat(), 0);
    EXPECT_EQ(fresh.GetAutoReconnect(), 1);
    EXPECT_EQ(fresh.IsStreamOpen(), 0);
    SYSTEMTIME t;
    EXPECT_EQ(fresh.GetFrameTime(&t), 0);
    // Commands are taken in any mode; without a thread they only store values.
    EXPECT_EQ(fresh.Play(-3), 1);
    EXPECT_EQ(fresh.GetSpeed(), 3.0);
    EXPECT_EQ(fresh.Play(12), 1);
    EXPECT_EQ(fresh.GetSpeed(), 8.0);
    EXPECT_EQ(fresh.Play(0), 1);
    EXPECT_EQ(fresh.GetSpeed(), 1.0);
    EXPECT_EQ(fresh.GetPlayState(), 0);
}

TEST_F(EngineTest, InitSlotCountsAndSetMode) {
    struct {
        int channels;
        int slotCount;
    } cases[] = {{8, 9}, {1, 1}, {4, 4}, {12, 16}};
    for (const auto& c : cases) {
        CPlayerEngine e;
        EXPECT_EQ(e.Init(nullptr, nullptr, 4, 5, c.channels, 8000, 8), 1);
        EXPECT_EQ(e.GetSlotCount(), c.slotCount) << c.channels;
    }
    CVideoWnd w;
    CPlayerEngine e;
    e.Init(&w, nullptr, 4, 5, 8, 8000, 8);
    EXPECT_EQ(e.SetMode(1, -1), 1);
    EXPECT_EQ(e.GetSlotCount(), 9);
    EXPECT_EQ(w.GetChannelCount(), 9);
    EXPECT_EQ(e.SetMode(1, 9), 1);
    EXPECT_EQ(e.GetSlotCount(), 9);
    EXPECT_EQ(e.SetMode(1, 4), 1);
    EXPECT_EQ(e.GetSlotCount(), 4);
    EXPECT_EQ(e.SetMode(1, 17), 1);
    EXPECT_EQ(e.GetSlotCount(), 4);
    EXPECT_EQ(e.GetMode(), 1);
    EXPECT_EQ(e.SetMode(3, 9), 0);
    EXPECT_EQ(e.GetMode(), 1);
    EXPECT_EQ(e.GetSlotCount(), 4);
    EXPECT_EQ(e.SetMode(2, -1), 1);
    EXPECT_EQ(e.GetMode(), 2);
    EXPECT_EQ(w.GetChannelCount(), 1);
    EXPECT_EQ(w.GetEngineMode(), 2);
}

// The headless output keeps the split and page as the window would, so that
// qzftool play shows and steps over the channels the viewer does.
TEST(HeadlessOutput, SplitsAndPagesAsTheVideoWindowDoes) {
    CVideoWnd wnd;
    CHeadlessOutput headless;
    IVideoOutput* outputs[] = {&wnd, &headless};
    struct Step {
        int channels; // 0 keeps the count
        int split;
        int page;
    } steps[] = {{9, 4, -1},  {0, 4, -1}, {0, 4, -1}, {0, 4, -1},  {0, 9, 0}, {0, 16, 0},
                 {0, 0, 0},   {0, -4, 0}, {0, 1, 7},  {0, 4, -1},  {4, 4, 1}, {0, 9, 0},
                 {16, 9, -1}, {0, 9, -1}, {0, 9, -1}, {17, 16, 0}, {1, 4, 0}, {0, 1, -1}};
    for (const Step& step : steps) {
        int result[2][3];
        for (int i = 0; i < 2; ++i) {
            if (step.channels != 0) {
                outputs[i]->SetChannelCount(step.channels);
            }
            result[i][0] = outputs[i]->SetSplit(step.split, step.page);
            result[i][1] = outputs[i]->GetSplit(nullptr, &result[i][2]);
        }
        EXPECT_EQ(result[1][0], result[0][0]) << step.split << " " << step.page;
        EXPECT_EQ(result[1][1], result[0][1]) << step.split << " " << step.page;
        EXPECT_EQ(result[1][2], result[0][2]) << step.split << " " << step.page;
        EXPECT_EQ(outputs[1]->GetChannelCount(), outputs[0]->GetChannelCount());
    }
}

TEST_F(EngineTest, ColoursOfZeroBecomeNearBlack) {
    engine->SetTextColour(0);
    EXPECT_EQ(wnd.GetTextColour(), 0x050505u);
    engine->SetOutlineColour(0);
    EXPECT_EQ(wnd.GetOutlineColour(), 0x050505u);
    engine->SetTextColour(0x123456);
    EXPECT_EQ(wnd.GetTextColour(), 0x123456u);
}

TEST_F(EngineTest, OpeningPlaysForwardAtOnceAndTheEndPauses) {
    RecordingBuilder rec;
    for (int i = 0; i < 40; ++i) {
        rec.Picture(i % 8);
    }
    const std::string path = rec.Save(dir.File("forward.qzf"));
    EXPECT_EQ(engine->OpenStream(dir.File("missing.qzf"), 0), 0);
    EXPECT_FALSE(engine->HasThread());

    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    EXPECT_EQ(engine->GetStreamPath(), path);
    EXPECT_EQ(engine->GetStreamSize(), std::filesystem::file_size(path));
    // The first pass takes the play command: state 2, pictures come at once.
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePlay; }));
    ASSERT_TRUE(WaitFor([&] { return log.Count() > 0; }));
    SYSTEMTIME t;
    ASSERT_TRUE(WaitFor([&] { return engine->GetFrameTime(&t) == 1; }));
    EXPECT_EQ(t.wYear, 2023);
    EXPECT_EQ(t.wMonth, 11);
    // Five failed reads at the end: paused, every picture shown once, in order.
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    const auto shown = log.All();
    ASSERT_EQ(shown.size(), 40u);
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i].channel, static_cast<int>(i % 8));
        EXPECT_EQ(shown[i].width, 640);
        EXPECT_EQ(shown[i].height, 224);
    }
    EXPECT_EQ(engine->GetFramePeriod(), 16666);
    EXPECT_EQ(engine->StopPlayback(), 1);
    EXPECT_EQ(engine->GetPlayState(), kStateReady);
    EXPECT_EQ(engine->GetFrameTime(&t), 0);
    // The recording stays open after a stop.
    EXPECT_EQ(engine->IsStreamOpen(), 1);
}

TEST_F(EngineTest, RepeatStartsAgainAtTheBeginning) {
    RecordingBuilder rec;
    for (int i = 0; i < 6; ++i) {
        rec.Picture(i);
    }
    const std::string path = rec.Save(dir.File("repeat.qzf"));
    engine->SetRepeat(1);
    EXPECT_EQ(engine->GetRepeat(), 1);
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= 20; }));
    EXPECT_EQ(engine->GetPlayState(), kStatePlay);
    const auto shown = log.All();
    for (size_t i = 0; i < 18; ++i) {
        EXPECT_EQ(shown[i].channel, static_cast<int>(i % 6)) << i;
    }
}

TEST_F(EngineTest, StepForwardOverAudioStopsAfterOnePicture) {
    RecordingBuilder rec;
    rec.Picture(0);
    for (int i = 0; i < 30; ++i) {
        rec.Audio(800);
    }
    rec.Picture(5);
    rec.Picture(5);
    rec.Picture(6);
    const std::string path = rec.Save(dir.File("step.qzf"));
    engine->SetSplit(9, 0);
    OpenAndPause(path);
    engine->Seek(0);
    ASSERT_TRUE(WaitFor([&] {
        return engine->GetPlayState() == kStatePause && log.Count() > 0 && log.Last().channel == 0;
    }));
    const size_t before = log.Count();
    engine->StepForward();
    ASSERT_TRUE(WaitFor([&] { return log.Count() == before + 1; }));
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    EXPECT_EQ(log.Last().channel, 5);
    // Channel 5 again begins the next step, which channel 6 joins.
    engine->StepForward();
    ASSERT_TRUE(WaitFor([&] { return log.Count() == before + 3; }));
    EXPECT_EQ(log.All()[before + 1].channel, 5);
    EXPECT_EQ(log.Last().channel, 6);
}

TEST_F(EngineTest, SeekIntoARunOfAudioShowsTheNextPicture) {
    RecordingBuilder rec;
    rec.Picture(1);
    for (int i = 0; i < 60; ++i) {
        rec.Audio(1000);
    }
    const uint64_t audioEnd = rec.Offset();
    rec.Picture(7);
    rec.Picture(2);
    const std::string path = rec.Save(dir.File("seek.qzf"));
    ASSERT_GT(audioEnd, 40960u);
    OpenAndPause(path);
    const size_t before = log.Count();
    engine->Seek(8 * 4096);
    ASSERT_TRUE(WaitFor([&] { return log.Count() > before && log.Last().channel == 7; }));
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    EXPECT_GE(engine->GetPosition(), audioEnd);
}

TEST_F(EngineTest, APauseRightAfterOpeningIsNotLost) {
    RecordingBuilder rec;
    rec.Picture(0);
    for (int i = 0; i < 100; ++i) {
        rec.Audio(1000); // twelve seconds of sound
    }
    rec.Picture(1);
    const std::string path = rec.Save(dir.File("openpause.qzf"));
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    engine->Pause();
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    EXPECT_LT(engine->GetAudioPacketsPlayed(), 100u);
    EXPECT_LT(engine->GetPosition(), engine->GetStreamSize() / 2);
    EXPECT_EQ(engine->StopPlayback(), 1);
}

TEST_F(EngineTest, AtSpeedTwoAudioIsNotPlayedAndCostsNoTime) {
    RecordingBuilder rec;
    rec.SetFrameGap(2);
    for (int i = 0; i < 6; ++i) {
        rec.Picture(i);
        rec.Audio(400);
        rec.Audio(400);
    }
    const std::string path = rec.Save(dir.File("speed2.qzf"));
    engine->Play(2);
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    EXPECT_EQ(log.Count(), 6u);
    EXPECT_EQ(engine->GetAudioPacketsPlayed(), 0u);
    // Only pictures stand for recording time; sound not played is passed over.
    EXPECT_EQ(engine->GetPacedPasses(), 6u);
}

TEST_F(EngineTest, AtSpeedOneAudioGoesToTheWaveOutput) {
    RecordingBuilder rec;
    for (int i = 0; i < 4; ++i) {
        rec.Picture(i);
        rec.Audio(400);
    }
    const std::string path = rec.Save(dir.File("speed1.qzf"));
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    EXPECT_EQ(log.Count(), 4u);
    // No sound device in a test run means the packets are dropped, never retried for ever.
    if (engine->GetAudioPacketsPlayed() == 0) {
        GTEST_SKIP() << "no sound device: audio packets dropped";
    }
    EXPECT_EQ(engine->GetAudioPacketsPlayed(), 4u);
}

TEST_F(EngineTest, FastForwardLadderWhilePlaying) {
    RecordingBuilder rec;
    rec.SetFrameGap(20);
    for (int i = 0; i < 60; ++i) {
        rec.Picture(i % 8);
    }
    const std::string path = rec.Save(dir.File("ladder.qzf"));
    // With repeat on, playing forward never leaves state 2 by itself.
    engine->SetRepeat(1);
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePlay; }));
    engine->FastForward();
    EXPECT_EQ(engine->GetSpeed(), 8.0);
    engine->FastForward();
    EXPECT_EQ(engine->GetSpeed(), 16.0);
    engine->FastForward();
    EXPECT_EQ(engine->GetSpeed(), 32.0);
    engine->FastForward();
    EXPECT_EQ(engine->GetSpeed(), 32.0);
    engine->Pause();
    EXPECT_EQ(engine->GetSpeed(), 1.0);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    engine->Play(3);
    engine->Pause();
    EXPECT_EQ(engine->GetSpeed(), 3.0);
    engine->PlayBackward(1);
    engine->FastForward();
    EXPECT_EQ(engine->GetSpeed(), 8.0);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePlay; }));
    engine->FastBackward();
    EXPECT_EQ(engine->GetSpeed(), 8.0);
}

TEST_F(EngineTest, CommandsCutALongPacingWaitShort) {
    RecordingBuilder rec;
    rec.SetFrameGap(127); // 128 x 16.666 ms: over two seconds per picture
    for (int i = 0; i < 4; ++i) {
        rec.Picture(i);
    }
    const std::string path = rec.Save(dir.File("slow.qzf"));
    engine->Play(0.25);
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return log.Count() == 1; }));
    // The loop waits eight seconds for the next picture; the pause is taken
    // during that wait, not after it.
    engine->Pause();
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }, 5000));
    EXPECT_EQ(log.Count(), 1u);
    engine->StopPlayback();
    EXPECT_FALSE(engine->HasThread());
}

TEST_F(EngineTest, BackwardPlayShowsPicturesInReverse) {
    RecordingBuilder rec;
    for (int i = 0; i < 16; ++i) {
        rec.Picture(i % 8);
    }
    const std::string path = rec.Save(dir.File("back.qzf"));
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    const size_t before = log.Count();
    engine->PlayBackward(4);
    ASSERT_TRUE(WaitFor(
        [&] { return engine->GetPlayState() == kStatePause && log.Count() >= before + 7; }));
    const auto shown = log.All();
    // What is on screen is not shown again: going back starts at the
    // pictures before the last of each channel.
    EXPECT_EQ(shown[before].channel, 7);
    for (size_t i = before + 1; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i].channel, shown[i - 1].channel - 1) << i;
    }
    EXPECT_EQ(shown.back().channel, 0);
}

TEST_F(EngineTest, UpdatePicturesShowTheirOwnChannelUnderWhatTheyDoNotCode) {
    // Key pictures of two channels, then an update of each that codes one
    // corner: everywhere else each channel keeps its own picture, never the
    // other channel's.
    RecordingBuilder rec;
    rec.Picture(0);
    rec.Picture(5);
    rec.Raw(CornerUpdate(0));
    rec.Raw(CornerUpdate(5));
    rec.Raw(CornerUpdate(3)); // a channel with no key picture yet: not shown at all
    rec.Picture(6);
    const std::string path = rec.Save(dir.File("updates.qzf"));
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause && log.Count() >= 5; }));
    const auto shown = log.All();
    ASSERT_EQ(shown.size(), 5u);
    ASSERT_EQ(shown[2].channel, 0);
    ASSERT_EQ(shown[3].channel, 5);
    ASSERT_NE(shown[0].firstLuma, shown[1].firstLuma);
    EXPECT_EQ(shown[2].firstLuma, shown[0].firstLuma);
    EXPECT_EQ(shown[3].firstLuma, shown[1].firstLuma);
    EXPECT_EQ(shown[4].channel, 6);
}

TEST_F(EngineTest, DualPicturesAreSplitIntoHalves) {
    CPlayerEngine dual;
    dual.Init(nullptr, nullptr, 5, 5, 8, 8000, 8);
    dual.SetMode(1, 16);
    PictureLog dualLog;
    dual.SetPictureSink(dualLog.Sink());
    RecordingBuilder rec(5);
    rec.Raw(DualPacket(2, 3, false, false));
    rec.Raw(DualPacket(4, 5, true, false));
    rec.Raw(DualPacket(6, 7, false, true));
    const std::string path = rec.Save(dir.File("dual.qzf"));
    ASSERT_EQ(dual.OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return dual.GetPlayState() == kStatePause; }));
    const auto shown = dualLog.All();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].channel, 2);
    EXPECT_EQ(shown[1].channel, 3);
    EXPECT_EQ(shown[2].channel, 5);
    EXPECT_EQ(shown[3].channel, 6);
    for (const auto& s : shown) {
        EXPECT_EQ(s.width, 320);
        EXPECT_EQ(s.height, 224);
    }
    // Left halves carry the darker picture, right halves the brighter one.
    EXPECT_LT(shown[0].firstLuma, 100);
    EXPECT_GT(shown[1].firstLuma, 140);
    EXPECT_GT(shown[2].firstLuma, 140);
    EXPECT_LT(shown[3].firstLuma, 100);
}

TEST_F(EngineTest, DisabledChannelsAreNotDecoded) {
    RecordingBuilder rec;
    for (int i = 0; i < 8; ++i) {
        rec.Picture(i);
    }
    const std::string path = rec.Save(dir.File("gate.qzf"));
    engine->SetChannelEnable(3, 0);
    EXPECT_EQ(engine->GetChannelEnable(3), 0);
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    const auto shown = log.All();
    ASSERT_EQ(shown.size(), 7u);
    for (const auto& s : shown) {
        EXPECT_NE(s.channel, 3);
    }
}

TEST_F(EngineTest, NotARecordingPausesAfterFiveBadBlocks) {
    const std::string path = dir.File("noise.qzf");
    {
        std::vector<uint8_t> noise(4096 * 12);
        for (size_t i = 0; i < noise.size(); ++i) {
            noise[i] = static_cast<uint8_t>(i * 37 + 11);
        }
        FILE* f = fopen(path.c_str(), "wb");
        fwrite(noise.data(), 1, noise.size(), f);
        fclose(f);
    }
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    EXPECT_EQ(log.Count(), 0u);
    EXPECT_LT(engine->GetPosition(), 4096u * 12);
}

TEST_F(EngineTest, ExportRangeCopiesWholeBlocks) {
    RecordingBuilder rec;
    for (int i = 0; i < 8; ++i) {
        rec.Picture(i);
    }
    const std::string path = rec.Save(dir.File("range.qzf"));
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    const std::string out = dir.File("CAPTURE.QZF");
    EXPECT_EQ(engine->ExportRange(10, 20, out), 1);
    EXPECT_EQ(std::filesystem::file_size(out), 4096u);
    EXPECT_EQ(engine->ExportRange(20, 10, out), 0);
}

TEST_F(EngineTest, ModeSwitchToClientStopsLocalPlayback) {
    RecordingBuilder rec;
    rec.SetFrameGap(60);
    for (int i = 0; i < 8; ++i) {
        rec.Picture(i);
    }
    const std::string path = rec.Save(dir.File("switch.qzf"));
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePlay; }));
    EXPECT_EQ(engine->SetMode(2, -1), 1);
    EXPECT_FALSE(engine->HasThread());
    EXPECT_EQ(engine->GetPlayState(), kStateReady);
}

// Pictures with sound between them: about a second of A-law at 8000 Hz,
// more than the wave ring holds, so a device that stops draining is noticed.
std::string SoundAndPictures(const TempDir& dir, const std::string& name) {
    RecordingBuilder rec;
    for (int i = 0; i < 8; ++i) {
        rec.Picture(i);
        rec.Audio(500);
        rec.Audio(500);
    }
    return rec.Save(dir.File(name));
}

TEST_F(EngineTest, ChoosingPlayerModeAgainKeepsPlaybackGoing) {
    const std::string path = SoundAndPictures(dir, "again.qzf");
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= 1; }));
    EXPECT_EQ(engine->SetMode(1, -1), 1);
    EXPECT_TRUE(engine->HasThread());
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }, 10000));
    EXPECT_EQ(log.Count(), 8u);
    if (engine->GetAudioPacketsPlayed() == 0) {
        GTEST_SKIP() << "no sound device: audio packets dropped";
    }
    // The device was left alone, so none of the sound was given up.
    EXPECT_EQ(engine->GetAudioPacketsPlayed(), 16u);
}

TEST_F(EngineTest, ASoundDeviceThatNeverDrainsDoesNotStallPictures) {
    const std::string path = SoundAndPictures(dir, "stall.qzf");
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= 1; }));
    // Opened again and never started: the ring fills and stays full.
    WAVEFORMATEX wf;
    CAudioConverter().Configure(5, 8000, &wf);
    engine->GetWaveOut()->Open(wf);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }, 10000));
    EXPECT_EQ(log.Count(), 8u);
    EXPECT_EQ(engine->ExportRange(0, 10, dir.File("range.qzf")), 1);
}

TEST_F(EngineTest, VolumeAndMuteAreKept) {
    engine->SetVolume(0x1234);
    EXPECT_EQ(engine->GetVolume(), 0x1234);
    engine->SetVolume(0x7FFFF);
    EXPECT_EQ(engine->GetVolume(), 0xFFFF);
    engine->SetMute(1);
    EXPECT_EQ(engine->GetMute(), 1);
    engine->SetMute(0);
    EXPECT_EQ(engine->GetMute(), 0);
}

TEST_F(EngineTest, PicturesReachTheVideoWindow) {
    engine->SetPictureSink(nullptr);
    RecordingBuilder rec;
    for (int i = 0; i < 4; ++i) {
        rec.Picture(i);
    }
    const std::string path = rec.Save(dir.File("window.qzf"));
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(wnd.HasPicture(c), 1) << c;
    }
    EXPECT_EQ(wnd.HasPicture(5), 0);
}

// An export keeps the recording's time at x1, but not the stretch a seek
// skipped, nor fast play stretched back to the recording's length.
TEST_F(EngineTest, ExportsKeepToWhatWasWatched) {
    engine->SetPictureSink(nullptr);
    engine->SetUnpaced(1);
    RecordingBuilder rec;
    std::vector<uint64_t> secondAt;
    for (int s = 0; s < 60; ++s) {
        rec.SetTime(time_t(1700000000 + s));
        secondAt.push_back(rec.Offset());
        for (int i = 0; i < 4; ++i) {
            rec.Picture(0);
        }
    }
    const std::string path = rec.Save(dir.File("export.qzf"));
    // Runs a command and waits until the worker took it and paused after it.
    auto run = [&](const std::function<void()>& command, uint64_t commands = 1) {
        const uint64_t taken = engine->GetCommandsTaken();
        command();
        return WaitFor([&] {
            return engine->GetCommandsTaken() >= taken + commands &&
                   engine->GetPlayState() == kStatePause;
        });
    };
    OpenAndPause(path);
    ASSERT_TRUE(run([&] { engine->Seek(secondAt[0]); }));

    CAviWriter* writer = engine->GetAviWriter();
    ASSERT_EQ(writer->Open(dir.File("export.avi"), 24, 6750, 640, 448, 300, nullptr, 30), 0);
    engine->SetExport(1, kExportPerPicture);
    wnd.SetExportMode(1);
    std::atomic<bool> pausing{false};
    engine->SetPictureObserver([&](int, uint64_t, const SYSTEMTIME& t, const uint8_t*, int, int) {
        if (t.wSecond == 30 && !pausing.exchange(true)) {
            engine->Pause();
        }
    });
    // Seconds 0 to 10 (:30 on the clock) at x1, then a seek to second 50 and on to the end:
    // twenty seconds watched of sixty recorded.
    ASSERT_TRUE(run([&] { engine->Play(1); }, 2));
    ASSERT_TRUE(run([&] { engine->Seek(secondAt[50]); }));
    ASSERT_TRUE(run([&] { engine->Play(1); }));
    const int64_t watched = writer->GetVideoLength();
    EXPECT_GT(watched, 15 * 30);
    EXPECT_LT(watched, 25 * 30);

    // The whole recording at x2, as fast as it decodes: the export follows
    // the time that took, not the minute the recording holds.
    ASSERT_TRUE(run([&] { engine->Seek(secondAt[0]); }));
    ASSERT_TRUE(run([&] { engine->Play(2); }));
    EXPECT_LT(writer->GetVideoLength() - watched, 30 * 30);
    engine->SetExport(0, 0);
    wnd.SetExportMode(0);
    EXPECT_EQ(writer->Close(), 0);
    EXPECT_GT(writer->GetVideoFramesWritten(), 100);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
