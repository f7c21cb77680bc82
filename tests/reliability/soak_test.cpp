// A long run of local playback on repeat, switching speeds, directions and
// splits, that reports the resident memory at the start and the end. Disabled
// in the default suite; run it by hand:
//   TV_SOAK_SECONDS=180 reliability_tests --gtest_also_run_disabled_tests
//   --gtest_filter='*Soak*'

#include "engine/engine_test_util.h"
#include "engine/playback_rules.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

using namespace tv;
using namespace tv::enginetest;

namespace {

long ResidentKb() {
    std::ifstream in("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    in >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

TEST(Soak, DISABLED_RepeatPlaybackKeepsMemoryFlat) {
    const char* env = std::getenv("TV_SOAK_SECONDS");
    const int seconds = env != nullptr ? std::atoi(env) : 180;
    TempDir dir;
    RecordingBuilder rec;
    for (int i = 0; i < 400; ++i) {
        rec.Picture(i % 8);
        if (i % 2 == 0) {
            rec.Audio(320);
        }
    }
    const std::string path = rec.Save(dir.File("soak.qzf"));
    PictureLog log;
    auto engine = std::make_unique<CPlayerEngine>();
    engine->Init(nullptr, nullptr, 4, 5, 8, 8000, 8);
    engine->SetMode(1, -1);
    engine->SetRepeat(1);
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetPicturesShown() > 20; }));

    const double speeds[] = {1, 2, 4, 8, -2, 0.5};
    const int splits[] = {1, 4, 8, 1, 2};
    // Warmed up: caches, the sound device and the window surfaces exist now.
    const long startKb = ResidentKb();
    long peakKb = startKb;
    const uint32_t start = GetTickCount();
    int step = 0;
    while (GetTickCount() - start < static_cast<uint32_t>(seconds) * 1000u) {
        const double speed = speeds[step % 6];
        if (speed < 0) {
            engine->PlayBackward(-speed);
        } else {
            engine->Play(speed);
        }
        engine->SetSplit(splits[step % 5], 0);
        if (step % 7 == 6) {
            engine->Seek(0);
        }
        ++step;
        Sleep(1000);
        const long kb = ResidentKb();
        peakKb = kb > peakKb ? kb : peakKb;
        if (step % 30 == 0) {
            std::printf("soak %4d s: %ld kB resident, %llu pictures\n", step, kb,
                        static_cast<unsigned long long>(engine->GetPicturesShown()));
        }
    }
    const long endKb = ResidentKb();
    std::printf("soak: %d s, %d commands, %llu pictures, resident %ld kB at start, %ld kB at "
                "end, %ld kB peak\n",
                seconds, step, static_cast<unsigned long long>(engine->GetPicturesShown()), startKb,
                endKb, peakKb);
    EXPECT_TRUE(engine->HasThread());
    EXPECT_GT(engine->GetPicturesShown(), static_cast<uint64_t>(seconds));
    // Flat: the buffers are made once; a leak per picture would show in megabytes.
    EXPECT_LT(endKb - startKb, 16 * 1024);
    engine.reset();
}

} // namespace
