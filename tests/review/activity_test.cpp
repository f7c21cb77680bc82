#include "media/block_writer.h"
#include "media/qzf_block.h"
#include "platform/system.h"
#include "review/activity_builder.h"
#include "review/activity_cache.h"
#include "review/activity_index.h"
#include "review/activity_scanner.h"
#include "synth/activity_scene.h"
#include "synth/sample_recording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tv;

namespace {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tv_review_XXXXXX";
        const char* p = mkdtemp(tmpl);
        m_path = p ? p : "/tmp";
    }
    ~TempDir() {
        const std::string cmd = "rm -rf '" + m_path + "'";
        if (std::system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not remove " << m_path;
    }
    std::string File(const std::string& n) const { return m_path + "/" + n; }

private:
    std::string m_path;
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& b) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// Channel 1: still. 2: an object moves in two stretches. 3: sensor noise on a
// still scene. 4: noise and flicker, an object moving once.
synth::SceneOptions Scene() {
    synth::SceneOptions o;
    o.seconds = 26;
    o.channels.resize(4);
    o.channels[1].moving = {{5, 9}, {18, 21}};
    o.channels[2].noise = 6;
    o.channels[3].noise = 5;
    o.channels[3].flicker = 4;
    o.channels[3].moving = {{12, 15}};
    return o;
}

// The scene's recordings, made once for the whole suite.
const std::vector<uint8_t>& SceneBytes(bool disk) {
    static std::vector<uint8_t> bytes[2];
    std::vector<uint8_t>& b = bytes[disk ? 1 : 0];
    if (b.empty()) {
        synth::SceneOptions o = Scene();
        o.diskImage = disk;
        CQzfBlockWriter w;
        w.AttachVector(&b);
        std::string error;
        EXPECT_EQ(synth::WriteActivityScene(o, w, &error), 1) << error;
    }
    return b;
}

uint32_t StartUtc() {
    return uint32_t(LocalToBlockTime(Scene().start, GetTimeZoneBias()));
}

// Every stretch of movement is found on its channel within two seconds, and
// nothing else.
void ExpectSceneEvents(const CActivityIndex& index) {
    const std::vector<ActivityEvent> ev = index.FindEvents(kDefaultActivityThreshold);
    const synth::SceneOptions o = Scene();
    size_t expected = 0;
    for (size_t c = 0; c < o.channels.size(); ++c) {
        for (const auto& [a, b] : o.channels[c].moving) {
            ++expected;
            bool found = false;
            for (const ActivityEvent& e : ev) {
                const double s = double(e.start) - StartUtc();
                const double t = double(e.end) - StartUtc();
                if (e.channel == int(c) && std::abs(s - a) <= 2 && std::abs(t + 1 - b) <= 2)
                    found = true;
            }
            EXPECT_TRUE(found) << "channel " << c + 1 << " moving from " << a << " to " << b;
        }
    }
    EXPECT_EQ(ev.size(), expected);
}

// A still channel with few key pictures: many seconds in which no block begins.
std::vector<uint8_t> SparseRecording(double seconds, int startSecond) {
    synth::SampleOptions o;
    o.channels = 1;
    o.seconds = seconds;
    o.audioFormat = 0;
    o.keyEvery = 40;
    o.stillChannels = 1;
    o.start.wSecond = uint16_t(startSecond % 60);
    o.start.wMinute = uint16_t(startSecond / 60);
    std::vector<uint8_t> b;
    CQzfBlockWriter w;
    w.AttachVector(&b);
    std::string error;
    EXPECT_EQ(synth::WriteSampleRecording(o, w, nullptr, &error), 1) << error;
    return b;
}

// The first second where two indexes differ, or an empty string.
std::string Difference(const CActivityIndex& a, const CActivityIndex& b) {
    const auto& x = a.Seconds();
    const auto& y = b.Seconds();
    for (size_t i = 0; i < std::min(x.size(), y.size()); ++i)
        if (x[i].time != y[i].time || x[i].present != y[i].present || x[i].offset != y[i].offset ||
            std::memcmp(x[i].level, y[i].level, kActivityChannels) != 0)
            return "second " + std::to_string(i) + " (time " + std::to_string(x[i].time) + ")";
    return x.size() == y.size()
               ? std::string()
               : "sizes " + std::to_string(x.size()) + " and " + std::to_string(y.size());
}

class ActivityTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = m_dir.File("scene.qzf");
        WriteBytes(m_path, SceneBytes(false));
        setenv("XDG_CACHE_HOME", m_dir.File("cache").c_str(), 1);
    }
    TempDir m_dir;
    std::string m_path;
};

TEST_F(ActivityTest, FindsTheMovingObjectAndIgnoresNoiseAndStillChannels) {
    CActivityIndex index;
    CActivityScanner s;
    std::string error;
    ASSERT_EQ(s.Scan(m_path, ActivityScanOptions{}, 0, &index, nullptr, nullptr, &error), 1)
        << error;
    EXPECT_EQ(index.ChannelMask(), 0x000F);
    EXPECT_EQ(index.FirstTime(), StartUtc());
    EXPECT_EQ(index.LastTime(), StartUtc() + 25);
    ExpectSceneEvents(index);
}

// The scene leaves most channels without a picture: their empty buffers are
// written and read back (the sanitizer build checks how).
TEST_F(ActivityTest, StateOfAScanWithEmptyChannelsRestoresToTheSameBytes) {
    CActivityIndex index;
    CActivityScanner s;
    std::string error;
    ASSERT_EQ(s.Scan(m_path, ActivityScanOptions{}, 0, &index, nullptr, nullptr, &error), 1)
        << error;
    std::vector<uint8_t> state, again;
    s.SaveState(&state);
    CActivityScanner r;
    ASSERT_TRUE(r.RestoreState(state.data(), state.size(), ActivityScanOptions{}));
    r.SaveState(&again);
    EXPECT_EQ(again, state);
    CActivityIndex restored;
    r.GetIndex(&restored);
    EXPECT_EQ(Difference(restored, index), "");
}

TEST_F(ActivityTest, DiskRingWithUnwrittenAndBadBlocks) {
    // A recorder disk that wrapped round: the newest blocks first, then a
    // stretch never written, a block that fails its checksum, the oldest.
    const std::vector<uint8_t>& rec = SceneBytes(true);
    const size_t blocks = rec.size() / kQzfBlockSize;
    const size_t cut = blocks * 2 / 3 * kQzfBlockSize;
    std::vector<uint8_t> disk(rec.begin() + long(cut), rec.end());
    disk.resize(disk.size() + 20 * kQzfBlockSize, 0);
    std::vector<uint8_t> bad(kQzfBlockSize, 0x5A);
    disk.insert(disk.end(), bad.begin(), bad.end());
    disk.insert(disk.end(), rec.begin(), rec.begin() + long(cut));
    const std::string path = m_dir.File("disk.img");
    WriteBytes(path, disk);

    ActivityScanOptions opt;
    opt.disk = true;
    CActivityIndex index;
    ActivityCacheUse use;
    std::string error;
    ASSERT_EQ(LoadActivityIndex(path, opt, &index, nullptr, nullptr, &use, &error), 1) << error;
    EXPECT_EQ(index.FirstTime(), StartUtc());
    EXPECT_EQ(index.LastTime(), StartUtc() + 25);
    ExpectSceneEvents(index);
    // Read as a file instead, no block is valid and nothing is found.
    CActivityIndex wrong;
    ASSERT_EQ(
        LoadActivityIndex(path, ActivityScanOptions{}, &wrong, nullptr, nullptr, &use, &error), 1);
    EXPECT_TRUE(wrong.Empty());
}

TEST_F(ActivityTest, CacheIsUsedOnReopenRebuiltOnChangeAndExtendedOnGrowth) {
    CActivityIndex first, again;
    ActivityCacheUse use;
    std::string error;
    ASSERT_EQ(LoadActivityIndex(m_path, {}, &first, nullptr, nullptr, &use, &error), 1) << error;
    EXPECT_EQ(use, ActivityCacheUse::kBuilt);
    int calls = 0;
    auto count = [&calls](uint64_t, uint64_t) { ++calls; };
    ASSERT_EQ(LoadActivityIndex(m_path, {}, &again, nullptr, count, &use, &error), 1);
    EXPECT_EQ(use, ActivityCacheUse::kLoaded);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(again.FindEvents(0.01).size(), first.FindEvents(0.01).size());
    ASSERT_EQ(again.Seconds().size(), first.Seconds().size());

    // The same size, other content: scanned anew.
    std::vector<uint8_t> other = SceneBytes(false);
    other[other.size() - kQzfBlockSize + 100] ^= 0xFF;
    WriteBytes(m_path, other);
    ASSERT_EQ(LoadActivityIndex(m_path, {}, &again, nullptr, nullptr, &use, &error), 1);
    EXPECT_EQ(use, ActivityCacheUse::kBuilt);

    // A recording in progress: first a part of it, then all of it.
    const std::vector<uint8_t>& all = SceneBytes(false);
    const std::string growing = m_dir.File("growing.qzf");
    const size_t part = all.size() / 2 / kQzfBlockSize * kQzfBlockSize;
    WriteBytes(growing, std::vector<uint8_t>(all.begin(), all.begin() + long(part)));
    CActivityIndex grown;
    ASSERT_EQ(LoadActivityIndex(growing, {}, &grown, nullptr, nullptr, &use, &error), 1);
    EXPECT_LT(grown.LastTime(), StartUtc() + 20);
    WriteBytes(growing, all);
    uint64_t from = ~0ull;
    auto where = [&from](uint64_t done, uint64_t) { from = std::min(from, done); };
    ASSERT_EQ(LoadActivityIndex(growing, {}, &grown, nullptr, where, &use, &error), 1);
    EXPECT_EQ(use, ActivityCacheUse::kExtended);
    EXPECT_GT(from, part / 2); // the start was not read again
    ExpectSceneEvents(grown);
}

TEST_F(ActivityTest, ExtendingAGrownRecordingGivesWhatAFreshScanGives) {
    // Cut anywhere: inside a packet, inside a second, off a block boundary.
    std::vector<uint8_t> all = SceneBytes(false);
    const std::vector<uint8_t> sparse = SparseRecording(20, 40);
    all.insert(all.end(), sparse.begin(), sparse.end());
    WriteBytes(m_path, all);
    CActivityIndex fresh;
    CActivityScanner s;
    std::string error;
    ASSERT_EQ(s.Scan(m_path, {}, 0, &fresh, nullptr, nullptr, &error), 1) << error;
    const std::string growing = m_dir.File("growing.qzf");
    const size_t blocks = all.size() / kQzfBlockSize;
    for (size_t cut = 1; cut < blocks; cut += 1 + cut / 6) {
        const size_t at = cut * kQzfBlockSize + (cut % 3) * 1000;
        WriteBytes(growing, std::vector<uint8_t>(all.begin(), all.begin() + long(at)));
        CActivityIndex index;
        ActivityCacheUse use;
        ASSERT_EQ(LoadActivityIndex(growing, {}, &index, nullptr, nullptr, &use, &error), 1);
        WriteBytes(growing, all);
        ASSERT_EQ(LoadActivityIndex(growing, {}, &index, nullptr, nullptr, &use, &error), 1);
        EXPECT_EQ(use, ActivityCacheUse::kExtended) << "cut at " << at;
        EXPECT_EQ(Difference(index, fresh), "") << "cut at " << at;
        // What was cached is the extended index, not the one before.
        ASSERT_EQ(LoadActivityIndex(growing, {}, &index, nullptr, nullptr, &use, &error), 1);
        EXPECT_EQ(use, ActivityCacheUse::kLoaded);
        EXPECT_EQ(Difference(index, fresh), "") << "cut at " << at << ", reloaded";
    }
}

TEST_F(ActivityTest, SecondsWithoutABlockOfTheirOwnAreRecordedButRealGapsStay) {
    // Half a minute without a break, then unwritten blocks and a restart two
    // seconds on, then a stop of a minute.
    std::vector<uint8_t> b = SparseRecording(30, 0);
    const size_t firstEnd = b.size();
    b.resize(b.size() + 8 * kQzfBlockSize, 0);
    const std::vector<uint8_t> second = SparseRecording(10, 32);
    b.insert(b.end(), second.begin(), second.end());
    const std::vector<uint8_t> third = SparseRecording(6, 100);
    b.insert(b.end(), third.begin(), third.end());
    WriteBytes(m_path, b);
    CActivityIndex index;
    CActivityScanner s;
    std::string error;
    ASSERT_EQ(s.Scan(m_path, {}, 0, &index, nullptr, nullptr, &error), 1) << error;
    const uint32_t t0 = uint32_t(LocalToBlockTime(synth::SampleOptions{}.start, GetTimeZoneBias()));
    std::vector<uint32_t> times;
    for (const ActivitySecond& x : index.Seconds()) {
        times.push_back(x.time - t0);
        // Where the second can be played from: its own part.
        EXPECT_EQ(x.time - t0 < 30, x.offset < firstEnd) << "at " << x.time - t0;
    }
    // Each part's last second may have no block that begins in it.
    const std::pair<uint32_t, uint32_t> parts[] = {{0, 29}, {32, 41}, {100, 105}};
    for (const auto& [a, b] : parts)
        for (uint32_t t = a; t < b; ++t) {
            const long i = index.FindSecond(t0 + t);
            ASSERT_GE(i, 0);
            EXPECT_EQ(index.Seconds()[size_t(i)].time, t0 + t) << "missing " << t;
            EXPECT_EQ(index.Seconds()[size_t(i)].present, 1) << "at " << t;
        }
    for (uint32_t t : times)
        EXPECT_TRUE(std::any_of(std::begin(parts), std::end(parts),
                                [t](const auto& p) { return t >= p.first && t <= p.second; }))
            << "not recorded: " << t;
}

TEST_F(ActivityTest, CacheIsRebuiltUnlessItIsAnIntactRegularFileOfItsOwn) {
    CActivityIndex fresh, index;
    ActivityCacheUse use;
    std::string error;
    ASSERT_EQ(LoadActivityIndex(m_path, {}, &fresh, nullptr, nullptr, &use, &error), 1) << error;
    const std::string cache = ActivityCachePath(m_path, {});
    std::ifstream in(cache, std::ios::binary);
    const std::vector<uint8_t> good((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(good.size(), 100u);
    for (size_t at : {size_t(8), good.size() / 3, good.size() / 2, good.size() - 1}) {
        std::vector<uint8_t> bad = good;
        bad[at] ^= 0x04;
        WriteBytes(cache, bad);
        ASSERT_EQ(LoadActivityIndex(m_path, {}, &index, nullptr, nullptr, &use, &error), 1);
        EXPECT_EQ(use, ActivityCacheUse::kBuilt) << "byte " << at << " changed";
        EXPECT_EQ(Difference(index, fresh), "");
    }

    // A link planted where a temporary file could be expected is not followed.
    const std::string victim = m_dir.File("victim");
    WriteBytes(victim, {1, 2, 3});
    ASSERT_EQ(unlink(cache.c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), (cache + ".tmp" + std::to_string(getpid())).c_str()), 0);
    ASSERT_EQ(LoadActivityIndex(m_path, {}, &index, nullptr, nullptr, &use, &error), 1);
    struct stat st;
    ASSERT_EQ(lstat(cache.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    ASSERT_EQ(stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 3);

    // A link to an endless device and a FIFO in the cache's place: in a child
    // whose memory is bounded and that an alarm ends if it hangs.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        alarm(60);
        long pages = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(f);
        }
        const rlimit lim{rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (1ull << 30),
                         RLIM_INFINITY};
        setrlimit(RLIMIT_AS, &lim);
        try {
            for (int i = 0; i < 2; ++i) {
                unlink(cache.c_str());
                if ((i == 0 ? symlink("/dev/zero", cache.c_str()) : mkfifo(cache.c_str(), 0600)) !=
                    0)
                    _exit(2);
                CActivityIndex got;
                if (LoadActivityIndex(m_path, {}, &got, nullptr, nullptr, &use, &error) != 1 ||
                    use != ActivityCacheUse::kBuilt || !Difference(got, fresh).empty())
                    _exit(3);
            }
        } catch (...) {
            _exit(4); // out of memory
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

TEST_F(ActivityTest, CacheFolderMustBeTheUsersOwnAndClosedToOthers) {
    const std::string dir = m_dir.File("cache/tessavin-viewer");
    ASSERT_EQ(mkdir(m_dir.File("cache").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    CActivityIndex index;
    ActivityCacheUse use;
    std::string error, note;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(
            LoadActivityIndex(m_path, {}, &index, nullptr, nullptr, &use, &error, nullptr, &note),
            1);
        EXPECT_EQ(use, ActivityCacheUse::kBuilt);
        EXPECT_NE(note.find(dir), std::string::npos) << note;
    }
    EXPECT_NE(access(ActivityCachePath(m_path, {}).c_str(), F_OK), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
    ASSERT_EQ(LoadActivityIndex(m_path, {}, &index, nullptr, nullptr, &use, &error, nullptr, &note),
              1);
    EXPECT_EQ(note, "");
    ASSERT_EQ(LoadActivityIndex(m_path, {}, &index, nullptr, nullptr, &use, &error), 1);
    EXPECT_EQ(use, ActivityCacheUse::kLoaded);

    // Without HOME and XDG_CACHE_HOME: the user's home, never a shared folder.
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    unsetenv("XDG_CACHE_HOME");
    unsetenv("HOME");
    const std::string fallback = ActivityCacheDir();
    if (!home.empty())
        setenv("HOME", home.c_str(), 1);
    EXPECT_NE(fallback.rfind("/tmp", 0), 0u) << fallback;
}

TEST_F(ActivityTest, BuilderPublishesWhatItFindsAndFollowsAGrowingRecording) {
    auto finish = [](CActivityBuilder& b) {
        for (int i = 0; i < 3000 && !b.IsDone(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return b.IsDone();
    };
    const std::vector<uint8_t>& all = SceneBytes(false);
    const size_t part = all.size() / 2 / kQzfBlockSize * kQzfBlockSize;
    WriteBytes(m_path, std::vector<uint8_t>(all.begin(), all.begin() + long(part)));
    CActivityBuilder b;
    b.Start(m_path, {});
    ASSERT_TRUE(finish(b));
    CActivityIndex got;
    uint64_t version = 0;
    bool exact = false;
    ASSERT_TRUE(b.Fetch(&got, &version, &exact));
    EXPECT_TRUE(exact);
    EXPECT_FALSE(b.Fetch(&got, &version, &exact));
    const uint32_t halfway = got.LastTime();
    WriteBytes(m_path, all);
    b.Refresh();
    ASSERT_TRUE(finish(b));
    ASSERT_TRUE(b.Fetch(&got, &version, &exact));
    EXPECT_GT(got.LastTime(), halfway);
    ExpectSceneEvents(got);
    // Another window on the same recording takes the cache.
    CActivityBuilder other;
    other.Start(m_path, {});
    ASSERT_TRUE(finish(other));
    CActivityIndex cached;
    version = 0;
    ASSERT_TRUE(other.Fetch(&cached, &version, &exact));
    EXPECT_EQ(cached.Seconds().size(), got.Seconds().size());
}

TEST_F(ActivityTest, DamagedPicturesAreSkippedAndTheRestStillCounts) {
    // Stream bytes changed at random behind intact block headers: pictures
    // whose codes make no sense are dropped, nothing is read out of bounds.
    std::vector<uint8_t> b = SceneBytes(false);
    std::mt19937 rng(3);
    for (int i = 0; i < 4000; ++i) {
        const size_t at = rng() % b.size();
        if (at % kQzfBlockSize >= kQzfHeaderSize)
            b[at] = uint8_t(rng());
    }
    const std::string path = m_dir.File("damaged.qzf");
    WriteBytes(path, b);
    CActivityIndex index;
    CActivityScanner s;
    std::string error;
    ASSERT_EQ(s.Scan(path, {}, 0, &index, nullptr, nullptr, &error), 1) << error;
    EXPECT_EQ(index.FirstTime(), StartUtc());
    EXPECT_EQ(index.LastTime(), StartUtc() + 25);
}

TEST_F(ActivityTest, CancelStopsTheScanAndSavesNothing) {
    std::atomic<bool> cancel{true};
    CActivityIndex index;
    ActivityCacheUse use;
    std::string error;
    EXPECT_EQ(LoadActivityIndex(m_path, {}, &index, &cancel, nullptr, &use, &error), 0);
    EXPECT_EQ(error, "cancelled");
    cancel = false;
    ASSERT_EQ(LoadActivityIndex(m_path, {}, &index, &cancel, nullptr, &use, &error), 1);
    EXPECT_EQ(use, ActivityCacheUse::kBuilt);
    EXPECT_EQ(LoadActivityIndex("/nonexistent/x.qzf", {}, &index, nullptr, nullptr, &use, &error),
              0);
    EXPECT_NE(error.find("cannot open"), std::string::npos);
}

TEST_F(ActivityTest, EventWalkAndToolOutput) {
    CActivityIndex index;
    ActivityCacheUse use;
    std::string error;
    ASSERT_EQ(LoadActivityIndex(m_path, {}, &index, nullptr, nullptr, &use, &error), 1);
    const uint32_t t0 = StartUtc();
    ActivityEvent e;
    // Forward from the start: channel 2 at 5, channel 4 at 12, channel 2 at 18.
    ASSERT_TRUE(index.NextEventStart(t0, true, 0xFFFF, 0.01, &e));
    EXPECT_NEAR(double(e.start - t0), 5, 2);
    ASSERT_TRUE(index.NextEventStart(e.start, true, 0xFFFF, 0.01, &e));
    EXPECT_EQ(e.channel, 3);
    // Only channel 2 shown: its second period follows its first.
    ASSERT_TRUE(index.NextEventStart(t0 + 10, true, 0x0002, 0.01, &e));
    EXPECT_EQ(e.channel, 1);
    EXPECT_NEAR(double(e.start - t0), 18, 2);
    ASSERT_TRUE(index.NextEventStart(e.start, false, 0x0002, 0.01, &e));
    EXPECT_NEAR(double(e.start - t0), 5, 2);
    EXPECT_FALSE(index.NextEventStart(e.start, false, 0x0002, 0.01, &e));
    EXPECT_FALSE(index.NextEventStart(t0, true, 0x0001, 0.01, &e));

    const char* bin = std::getenv("TV_BINARY_DIR");
    ASSERT_NE(bin, nullptr);
    const std::string cmd =
        std::string(bin) + "/tools/qzftool/qzftool activity '" + m_path + "' --json --utc 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    ASSERT_EQ(pclose(p), 0) << out;
    const SYSTEMTIME st = BlockTimeToLocal(index.FindEvents(0.01)[0].start, 0);
    char start[64];
    std::snprintf(start, sizeof(start),
                  "{\"channel\":2,\"start\":\"%04u-%02u-%02u %02u:%02u:%02u\"", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond);
    EXPECT_NE(out.find(start), std::string::npos) << out.substr(0, 300);
    EXPECT_NE(out.find("\"seconds\":[{\"time\":"), std::string::npos);
}

} // namespace
