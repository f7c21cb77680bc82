// A recording cut short or overwritten while the engine plays it: the engine
// must keep running, stop at the new end with a pause, and play again from the
// start; the sanitizers catch any read outside its buffers on the way.

#include "engine/engine_test_util.h"
#include "engine/playback_rules.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <unistd.h>

using namespace tv;
using namespace tv::enginetest;

namespace {

class PlaybackFaults : public ::testing::Test {
protected:
    void SetUp() override {
        engine = std::make_unique<CPlayerEngine>();
        engine->Init(nullptr, nullptr, 4, 5, 8, 8000, 8);
        engine->SetMode(1, -1);
        engine->SetPictureSink(log.Sink());
        RecordingBuilder rec;
        for (int i = 0; i < 240; ++i) {
            rec.Picture(i % 8);
            if (i % 4 == 0) {
                rec.Audio(320);
            }
        }
        path = rec.Save(dir.File("cut.qzf"));
        fullSize = std::filesystem::file_size(path);
    }
    void TearDown() override { engine.reset(); }

    // Plays at the fastest speed until some pictures were shown.
    void StartPlaying() {
        ASSERT_EQ(engine->OpenStream(path, 0), 1);
        engine->Play(8);
        ASSERT_TRUE(WaitFor([&] { return log.Count() >= 10; }));
    }

    TempDir dir;
    PictureLog log;
    std::unique_ptr<CPlayerEngine> engine;
    std::string path;
    uint64_t fullSize = 0;
};

TEST_F(PlaybackFaults, TruncatedWhilePlayingEndsInAPauseAndPlaysAgain) {
    StartPlaying();
    // Cut in the middle of a block, well inside a packet.
    const uint64_t cut = fullSize / 2 + 1234;
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(cut)), 0);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    EXPECT_TRUE(engine->HasThread());
    EXPECT_LE(engine->GetPosition(), fullSize);
    const size_t firstRun = log.Count();
    EXPECT_GE(firstRun, 10u);
    EXPECT_LT(firstRun, 240u); // the cut-off half is gone, not invented

    // Playing backward from the end and forward from the start still works.
    // Commands are taken one at a time, so each is seen through before the next.
    engine->PlayBackward(8);
    ASSERT_TRUE(WaitFor([&] { return log.Count() > firstRun; }));
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    ASSERT_EQ(engine->Seek(0), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPosition() < fullSize / 4; }));
    const size_t beforeReplay = log.Count();
    engine->Play(8);
    ASSERT_TRUE(WaitFor([&] { return log.Count() > beforeReplay + 10; }));
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    // Every picture handed on was a whole one.
    for (const auto& p : log.All()) {
        ASSERT_EQ(p.width, 640);
        ASSERT_GE(p.channel, 0);
        ASSERT_LT(p.channel, 8);
    }
}

TEST_F(PlaybackFaults, OverwrittenWithGarbageOrEmptiedWhilePlaying) {
    StartPlaying();
    // Random bytes over the second half, headers included, as another program
    // reusing the file would leave it.
    {
        std::mt19937 rng(12);
        std::vector<uint8_t> junk(fullSize / 2);
        for (auto& b : junk) {
            b = static_cast<uint8_t>(rng());
        }
        const int fd = open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, junk.data(), junk.size(), static_cast<off_t>(fullSize / 2)),
                  static_cast<ssize_t>(junk.size()));
        close(fd);
    }
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    EXPECT_TRUE(engine->HasThread());
    // Then the file is emptied under the engine; every command still ends in a pause.
    ASSERT_EQ(truncate(path.c_str(), 0), 0);
    const std::function<int()> commands[] = {
        [&] { return engine->Seek(0); },         [&] { return engine->Play(1); },
        [&] { return engine->PlayBackward(2); }, [&] { return engine->StepForward(); },
        [&] { return engine->StepBackward(); },  [&] { return engine->FastForward(); },
    };
    for (const auto& command : commands) {
        command();
        Sleep(100); // give the worker the command before the next replaces it
        ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    }
    EXPECT_TRUE(engine->HasThread());
    EXPECT_EQ(engine->StopPlayback(), 1);
}

} // namespace
