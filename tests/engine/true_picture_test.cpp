// Every picture the engine shows is the one a forward decode from its
// channel's key picture gives at its packet, whichever way the user got there.

#include "display/video_wnd.h"
#include "engine/player_engine.h"
#include "engine_test_util.h"
#include "synth/sample_recording.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/wait.h>

#include <map>
#include <memory>
#include <set>
#include <vector>

using namespace tv;
using namespace tv::enginetest;

namespace {

uint64_t Fnv(const uint8_t* p, size_t n) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; ++i) {
        h = (h ^ p[i]) * 1099511628211ull;
    }
    return h;
}

std::string Sha256Hex(const uint8_t* p, size_t n) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(p, n, md, &len, EVP_sha256(), nullptr);
    std::string hex;
    char buf[3];
    for (unsigned int i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", md[i]);
        hex += buf;
    }
    return hex;
}

struct Logged {
    int channel;
    uint64_t offset;
    uint64_t hash;
    SYSTEMTIME time;
};

class TruePictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Channels 0, 2, 4, 6 stand still, the others move; key pictures
        // every five pictures of a channel.
        synth::SampleOptions o;
        o.seconds = 12;
        o.keyEvery = 5;
        o.stillChannels = 0x55;
        CQzfBlockWriter w;
        path = dir.File("updates.qzf");
        ASSERT_TRUE(w.OpenFile(path));
        ASSERT_TRUE(synth::WriteSampleRecording(o, w, nullptr, nullptr));
        w.Close();
        Reference();
        engine = std::make_unique<CPlayerEngine>();
        // Shown at the size the window had in the viewer.
        window.resize(640, 480);
        window.show();
        engine->Init(&window, nullptr, 4, 5, 8, 8000, 8);
        engine->SetMode(1, -1);
        engine->SetSplit(9, 0);
        engine->SetPictureSink([](int, const SYSTEMTIME&, const uint8_t*, int, int) {});
        engine->SetPictureObserver([this](int channel, uint64_t offset, const SYSTEMTIME& time,
                                          const uint8_t* picture, int width, int height) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_log.push_back({channel, offset, Fnv(picture, size_t(width) * height * 3 / 2), time});
        });
        engine->SetUnpaced(1);
    }

    // The forward decode of the whole recording, one buffer per channel.
    void Reference() {
        CStreamFile f;
        f.SetFormat(4);
        ASSERT_TRUE(f.Open(path, 0));
        CVideoDecoder d;
        d.SetMode(4);
        std::vector<uint8_t> packet(kEnginePacketSize);
        std::vector<std::vector<uint8_t>> pictures(16, std::vector<uint8_t>(kEnginePictureSize));
        for (int failures = 0; failures < 5;) {
            const int n = f.ReadForward(packet.data());
            if (n <= 0) {
                ++failures;
                continue;
            }
            if (f.IsAudio() || d.ParseHeader(packet.data(), n) == 0) {
                continue;
            }
            auto& pic = pictures[size_t(d.GetChannel())];
            ASSERT_TRUE(d.Decode(packet.data(), n, pic.data(), pic.size()));
            truth[f.GetPacketOffset()] = Fnv(pic.data(), d.GetPictureBytes());
            const SYSTEMTIME t = f.GetPacketTime();
            char when[64];
            std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth,
                          t.wDay, t.wHour, t.wMinute, t.wSecond);
            sha[f.GetPacketOffset()] = {Sha256Hex(pic.data(), d.GetPictureBytes()), when,
                                        d.GetChannel() + 1};
            order[d.GetChannel()].push_back(f.GetPacketOffset());
            if (d.IsKeyPicture()) {
                keys.insert(f.GetPacketOffset());
            }
        }
    }

    std::vector<Logged> Log() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_log;
    }
    size_t Mark() { return Log().size(); }
    // Every picture shown since mark is the true one of its packet.
    void ExpectTrue(size_t mark) {
        const auto log = Log();
        for (size_t i = mark; i < log.size(); ++i) {
            auto it = truth.find(log[i].offset);
            ASSERT_NE(it, truth.end()) << "no picture starts at " << log[i].offset;
            EXPECT_EQ(log[i].hash, it->second)
                << "channel " << log[i].channel << " at " << log[i].offset;
        }
    }
    void Run(const std::function<void()>& command) {
        const uint64_t taken = engine->GetCommandsTaken();
        command();
        ASSERT_TRUE(WaitFor([&] {
            return engine->GetCommandsTaken() > taken && engine->GetPlayState() == kStatePause;
        }));
    }
    void OpenPaused() {
        ASSERT_EQ(engine->OpenStream(path, 0), 1);
        engine->Pause();
        ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
        // Unpaced, the open may have played to the end before the pause was
        // taken: one more command makes sure none is left waiting.
        Run([&] { engine->Pause(); });
    }

    TempDir dir;
    std::string path;
    std::map<uint64_t, uint64_t> truth;
    struct Expected {
        std::string sha256;
        std::string time;
        int channel;
    };
    std::map<uint64_t, Expected> sha;
    std::map<int, std::vector<uint64_t>> order;
    CVideoWnd window; // outlives the engine
    std::set<uint64_t> keys;
    std::unique_ptr<CPlayerEngine> engine;
    std::mutex m_lock;
    std::vector<Logged> m_log;
};

TEST_F(TruePictureTest, SeekShowsEveryChannelAtOnceAndPlaysOnTrue) {
    OpenPaused();
    const size_t mark = Mark();
    Run([&] { engine->Seek(engine->GetStreamSize() / 2 + 12345); });
    const auto log = Log();
    std::map<int, int> channels;
    for (size_t i = mark; i < log.size(); ++i) {
        ++channels[log[i].channel];
    }
    EXPECT_EQ(channels.size(), 8u);
    ExpectTrue(mark);
    Run([&] { engine->Play(1); });
    ExpectTrue(mark);
    EXPECT_GT(Log().size(), mark + 100);
}

TEST_F(TruePictureTest, ReverseFromTheEndShowsEveryPictureBackward) {
    OpenPaused();
    Run([&] { engine->Play(1); }); // to the end
    const size_t mark = Mark();
    Run([&] { engine->PlayBackward(1); });
    ExpectTrue(mark);
    const auto log = Log();
    std::map<int, std::vector<uint64_t>> back;
    for (size_t i = mark; i < log.size(); ++i) {
        back[log[i].channel].push_back(log[i].offset);
    }
    for (auto& [channel, offsets] : order) {
        // Each channel's last picture is on screen already; the rest, all of
        // them, in reverse order.
        std::vector<uint64_t> want(offsets.rbegin() + 1, offsets.rend());
        EXPECT_EQ(back[channel], want) << "channel " << channel;
    }
    EXPECT_LE(engine->GetReverseCacheBytes(), 8u * 12u * kEnginePictureSize);
}

TEST_F(TruePictureTest, FastSpeedsShowTruePicturesBothWays) {
    OpenPaused();
    Run([&] { engine->Seek(engine->GetStreamSize() / 3); });
    size_t mark = Mark();
    Run([&] {
        engine->Play(8);
        engine->FastForward();
    });
    ExpectTrue(mark);
    EXPECT_GT(Log().size(), mark + 50);
    mark = Mark();
    Run([&] {
        engine->PlayBackward(8);
        engine->FastBackward();
        engine->FastBackward();
    });
    ExpectTrue(mark);
    EXPECT_GT(Log().size(), mark + 50);
}

TEST_F(TruePictureTest, StepsMoveTheChannelOnScreenByOnePicture) {
    engine->SetSplit(1, 2);
    OpenPaused();
    Run([&] { engine->Seek(engine->GetStreamSize() / 2); });
    const size_t mark = Mark();
    for (int i = 0; i < 4; ++i) {
        Run([&] { engine->StepForward(); });
    }
    for (int i = 0; i < 6; ++i) {
        Run([&] { engine->StepBackward(); });
    }
    ExpectTrue(mark);
    const auto log = Log();
    ASSERT_EQ(log.size(), mark + 10);
    const auto& mine = order[2];
    for (size_t i = mark; i < log.size(); ++i) {
        EXPECT_EQ(log[i].channel, 2);
    }
    // Each step is the next (or previous) picture of channel 2.
    auto index = [&](uint64_t off) {
        return std::find(mine.begin(), mine.end(), off) - mine.begin();
    };
    for (size_t i = mark + 1; i < mark + 4; ++i) {
        EXPECT_EQ(index(log[i].offset), index(log[i - 1].offset) + 1);
    }
    EXPECT_EQ(index(log[mark + 4].offset), index(log[mark + 3].offset) - 1);
    for (size_t i = mark + 5; i < log.size(); ++i) {
        EXPECT_EQ(index(log[i].offset), index(log[i - 1].offset) - 1);
    }
}

TEST_F(TruePictureTest, StepsInASplitMoveEveryVisibleChannelByOnePicture) {
    OpenPaused();
    Run([&] { engine->Seek(engine->GetStreamSize() / 2); });
    std::map<int, uint64_t> current;
    for (const auto& l : Log()) {
        current[l.channel] = l.offset;
    }
    auto position = [&](int channel, uint64_t off) {
        const auto& mine = order[channel];
        return std::find(mine.begin(), mine.end(), off) - mine.begin();
    };
    for (int dir : {1, 1, 1, -1, -1, -1, -1, 1}) {
        const size_t mark = Mark();
        Run([&] { dir > 0 ? engine->StepForward() : engine->StepBackward(); });
        ExpectTrue(mark);
        const auto log = Log();
        ASSERT_EQ(log.size(), mark + 8) << "step " << dir;
        std::map<int, int> seen;
        for (size_t i = mark; i < log.size(); ++i) {
            const auto& l = log[i];
            ++seen[l.channel];
            EXPECT_EQ(position(l.channel, l.offset), position(l.channel, current[l.channel]) + dir)
                << "channel " << l.channel;
            current[l.channel] = l.offset;
            if (i > mark) {
                EXPECT_EQ(l.offset > log[i - 1].offset, dir > 0); // in recording order
            }
        }
        EXPECT_EQ(seen.size(), 8u);
    }
}

TEST_F(TruePictureTest, PicturesLostWithABadBlockAreNotDrawnOver) {
    // Block headers whose checksum fails: the reader skips those blocks with
    // every packet in them, so updates after them have nothing true to apply to.
    {
        FILE* f = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fseek(f, 0, SEEK_END);
        const long blocks = std::ftell(f) / 4096;
        for (long b : {blocks / 3, blocks / 2, blocks / 2 + 7}) {
            std::fseek(f, b * 4096 + 7, SEEK_SET);
            const int c = std::fgetc(f);
            std::fseek(f, b * 4096 + 7, SEEK_SET);
            std::fputc(c ^ 0x5A, f);
        }
        std::fclose(f);
    }
    OpenPaused();
    size_t mark = Mark();
    Run([&] { engine->Seek(0); });
    Run([&] { engine->Play(1); }); // to the end
    ExpectTrue(mark);
    EXPECT_GT(Log().size(), mark + 200);
    mark = Mark();
    Run([&] { engine->PlayBackward(1); });
    ExpectTrue(mark);
    EXPECT_GT(Log().size(), mark + 200);
}

TEST_F(TruePictureTest, AJumpLeavesNoPictureOfAnotherPlaceOnScreen) {
    engine->SetPictureSink({}); // into the window itself
    OpenPaused();
    Run([&] { engine->Seek(engine->GetStreamSize() / 2); });
    CVideoWnd* wnd = &window;
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(wnd->HasPicture(c), 1) << c;
    }
    // At the very start only the first channel has recorded anything yet.
    Run([&] { engine->Seek(0); });
    EXPECT_EQ(wnd->HasPicture(0), 1);
    for (int c = 1; c < 8; ++c) {
        EXPECT_EQ(wnd->HasPicture(c), 0) << c;
    }
    // Stepping on brings each channel back with its first picture.
    for (int i = 0; i < 7; ++i) {
        Run([&] { engine->StepForward(); });
    }
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(wnd->HasPicture(c), 1) << c;
    }
}

TEST_F(TruePictureTest, PicturesAtAPlaceAreWhatASeekThereShows) {
    OpenPaused();
    for (uint64_t at : {engine->GetStreamSize() / 2 + 12345, engine->GetStreamSize() / 5}) {
        const size_t mark = Mark();
        Run([&] { engine->Seek(at); });
        std::map<int, uint64_t> shown;
        const auto log = Log();
        for (size_t i = mark; i < log.size(); ++i) {
            shown[log[i].channel] = log[i].offset;
        }
        std::vector<NavPicture> pictures;
        ASSERT_EQ(engine->GetPicturesAt(at, 0xFF, 0, &pictures), 1);
        ASSERT_EQ(pictures.size(), shown.size());
        for (const NavPicture& p : pictures) {
            EXPECT_FALSE(p.ahead);
            EXPECT_EQ(p.offset, shown[p.channel]) << "channel " << p.channel;
            EXPECT_EQ(Fnv(p.yuv.data(), p.yuv.size()), truth[p.offset]) << "channel " << p.channel;
        }
    }
    // At the start only channel 0 has a picture; the others get the first
    // one playing on shows.
    std::vector<NavPicture> first;
    ASSERT_EQ(engine->GetPicturesAt(0, 0xFF, 0, &first), 1);
    ASSERT_EQ(first.size(), 8u);
    for (const NavPicture& p : first) {
        EXPECT_EQ(p.offset, order[p.channel][0]) << "channel " << p.channel;
        EXPECT_EQ(p.ahead, p.channel != 0) << "channel " << p.channel;
        EXPECT_EQ(Fnv(p.yuv.data(), p.yuv.size()), truth[p.offset]) << "channel " << p.channel;
    }
    // Between a key picture and its first update the key picture is what
    // the channel shows; at the update, the update drawn over it.
    const auto& mine = order[1];
    size_t k = mine.size() / 2;
    while (keys.count(mine[k]) == 0 || keys.count(mine[k + 1]) != 0) {
        ++k;
    }
    uint64_t between = 0;
    for (const auto& [channel, offsets] : order) {
        for (uint64_t o : offsets) {
            if (o > mine[k] && o < mine[k + 1]) {
                between = o;
            }
        }
    }
    ASSERT_NE(between, 0u);
    for (auto [place, want] : {std::pair{between, mine[k]}, std::pair{mine[k + 1], mine[k + 1]}}) {
        std::vector<NavPicture> one;
        ASSERT_EQ(engine->GetPicturesAt(place, 0x02, 0, &one), 1);
        ASSERT_EQ(one.size(), 1u);
        EXPECT_EQ(one[0].offset, want);
        EXPECT_EQ(Fnv(one[0].yuv.data(), one[0].yuv.size()), truth[want]);
    }
}

TEST_F(TruePictureTest, NavigationWhilePlayingLeavesPlaybackAlone) {
    OpenPaused();
    Run([&] { engine->Seek(0); });
    const size_t mark = Mark();
    const uint64_t taken = engine->GetCommandsTaken();
    engine->Play(1);
    std::vector<NavPicture> pictures;
    SYSTEMTIME noon{};
    noon.wYear = 2024;
    noon.wMonth = 6;
    noon.wDay = 1;
    noon.wHour = 12;
    for (int i = 0;
         i < 5 || engine->GetCommandsTaken() == taken || engine->GetPlayState() == kStatePlay;
         ++i) {
        ASSERT_EQ(engine->GetPicturesAt(engine->GetStreamSize() * (i % 5) / 5, 0xFF, 0, &pictures),
                  1);
        EXPECT_EQ(engine->GetFirstChannelMask(), 0xFFu);
        TimePlace place;
        EXPECT_EQ(engine->FindTime(noon, &place), 1);
    }
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }));
    ExpectTrue(mark);
    // On from the first picture to the end in recording order, every picture once.
    const auto log = Log();
    std::map<int, std::vector<uint64_t>> played;
    for (size_t i = mark; i < log.size(); ++i) {
        played[log[i].channel].push_back(log[i].offset);
    }
    for (auto& [channel, offsets] : order) {
        std::vector<uint64_t> want;
        for (uint64_t o : offsets) {
            if (o > order[0][0]) {
                want.push_back(o);
            }
        }
        EXPECT_EQ(played[channel], want) << "channel " << channel;
    }
}

TEST_F(TruePictureTest, QzfToolPlayLogsWhatTheEngineShows) {
    const char* bin = std::getenv("TV_BINARY_DIR");
    const std::string tool = std::string(bin != nullptr ? bin : ".") + "/tools/qzftool/qzftool";
    const std::string out = dir.File("play.jsonl");
    auto run = [&](const std::string& args) {
        const int status = std::system((tool + " play " + args + " 2>/dev/null").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    ASSERT_EQ(
        run(path + " --seek-offset 400000 --reverse --unpaced --split 4 --page 1 --log " + out), 0);
    FILE* f = std::fopen(out.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char line[512];
    int lines = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        int channel = 0;
        unsigned long long offset = 0;
        char when[32] = {};
        char hash[80] = {};
        double ms = -1;
        ASSERT_EQ(std::sscanf(line,
                              "{\"channel\": %d, \"offset\": %llu, \"time\": \"%19[^\"]\", "
                              "\"sha256\": \"%64[0-9a-f]\", \"wall_ms\": %lf}",
                              &channel, &offset, when, hash, &ms),
                  5)
            << line;
        auto it = sha.find(offset);
        ASSERT_NE(it, sha.end()) << line;
        EXPECT_EQ(it->second.sha256, hash) << line;
        EXPECT_EQ(it->second.time, when) << line;
        EXPECT_EQ(it->second.channel, channel) << line;
        EXPECT_GE(ms, 0.0);
        ++lines;
    }
    std::fclose(f);
    EXPECT_GT(lines, 100); // back to the beginning, every channel
    // Go to Time: the picture found is the first of that second.
    ASSERT_EQ(run(path + " --seek-time \"2024-06-01 12:00:05\" --step 1 --split 1 --log " + out),
              0);
    f = std::fopen(out.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string last;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        last = line;
    }
    std::fclose(f);
    EXPECT_NE(last.find("\"time\": \"2024-06-01 12:00:05\""), std::string::npos) << last;
    EXPECT_EQ(run(path + " --speed 3 --log " + out), 2);
    EXPECT_EQ(run(dir.File("missing.qzf") + " --log " + out), 2);
}

} // namespace
