#include "media_test_util.h"

#include "media/stream_recorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>

using namespace tv;
using namespace tv::test;

namespace {

// Every data sync of this process, seen from the file's side: which file, how
// long it was when the sync began (what is on the disk once it returns) and
// which thread waited for it.
struct SyncCall {
    ino_t inode;
    off_t size;
    std::thread::id thread;
};
std::mutex g_syncLock;
std::vector<SyncCall> g_syncs;

std::vector<SyncCall> SyncsOf(const std::string& path) {
    struct stat st;
    std::vector<SyncCall> out;
    if (stat(path.c_str(), &st) != 0) {
        return out;
    }
    std::lock_guard<std::mutex> lock(g_syncLock);
    for (const SyncCall& c : g_syncs) {
        if (c.inode == st.st_ino) {
            out.push_back(c);
        }
    }
    return out;
}

} // namespace

extern "C" int fdatasync(int fd) {
    struct stat st;
    if (fstat(fd, &st) == 0) {
        std::lock_guard<std::mutex> lock(g_syncLock);
        g_syncs.push_back({st.st_ino, st.st_size, std::this_thread::get_id()});
    }
    return static_cast<int>(syscall(SYS_fdatasync, fd));
}

namespace {

// A live video packet: start code, flags byte (bit 7 key, low bits channel),
// 16-bit sequence number, then payload.
std::vector<uint8_t> Live(std::mt19937& rng, bool key, int channel, uint16_t seq, size_t n) {
    std::vector<uint8_t> p = {0,
                              0,
                              1,
                              0xF8,
                              static_cast<uint8_t>((key ? 0x80 : 0) | channel),
                              static_cast<uint8_t>(seq >> 8),
                              static_cast<uint8_t>(seq)};
    std::vector<uint8_t> body = Payload(rng, n > 7 ? n - 7 : 0);
    p.insert(p.end(), body.begin(), body.end());
    p.resize(n);
    return p;
}

class StreamRecorderTest : public ::testing::Test {
protected:
    TempDir m_dir;
    std::string m_path = m_dir.File("rec.qzf");
};

} // namespace

TEST_F(StreamRecorderTest, NothingIsWrittenBeforeTheFirstKeyPicture) {
    std::mt19937 rng(1);
    CStreamRecorder r;
    r.Configure(2, 4, 8);
    std::vector<uint8_t> p = Live(rng, true, 0, 1, 100);
    EXPECT_EQ(r.WriteVideo(p.data(), static_cast<int>(p.size())), 0); // not open
    ASSERT_EQ(r.Open(m_path), 1);
    EXPECT_EQ(r.Open(m_path), 0);
    EXPECT_EQ(r.WriteAudio(p.data(), 10), 0);
    for (uint16_t s = 1; s <= 3; ++s) {
        std::vector<uint8_t> q = Live(rng, false, 0, s, 50);
        EXPECT_EQ(r.WriteVideo(q.data(), static_cast<int>(q.size())), 0);
    }
    EXPECT_EQ(r.GetBytesWritten(), 0u);
    // A 10,000-byte key picture: header, 4088, header, 4088, header, 1824.
    std::vector<uint8_t> key = Live(rng, true, 0, 4, 10000);
    ASSERT_EQ(r.WriteVideo(key.data(), 10000), 1);
    EXPECT_EQ(r.GetBytesWritten(), 10024u);
    std::vector<uint8_t> shortOne = {0, 0, 1, 0xF8, 0x80, 0};
    EXPECT_EQ(r.WriteVideo(shortOne.data(), 6), 0); // too short to carry a sequence number
    r.Close();
    EXPECT_FALSE(r.IsOpen());
    std::vector<uint8_t> file = ReadBytes(m_path);
    ASSERT_EQ(file.size(), 12288u);
    QzfBlockHeader h;
    ASSERT_EQ(DecodeBlockHeader(file.data(), false, &h), 1);
    EXPECT_EQ(h.channelMask, 1);
    EXPECT_EQ(std::memcmp(&file[8], key.data(), 4088), 0);
    EXPECT_EQ(file[11], 0xF9);
}

TEST_F(StreamRecorderTest, SequenceGapsAndPacketAdaptation) {
    CStreamRecorder r;
    r.Configure(2, 4, 9);
    ASSERT_EQ(r.Open(m_path), 1);
    struct Step {
        uint16_t seq;
        int gap;
    };
    // The first packet of a recording has no gap to its predecessor: the
    // packet before it belongs to another recording, or to none.
    for (const Step s :
         {Step{100, 1}, Step{103, 3}, Step{65535, 65432}, Step{0, 1}, Step{7, 7}, Step{7, 1}}) {
        uint8_t p[8] = {
            0, 0, 1, 0xF8, 0x85, static_cast<uint8_t>(s.seq >> 8), static_cast<uint8_t>(s.seq), 0};
        r.WriteVideo(p, 8);
        EXPECT_EQ(r.GetFrameGap(), s.gap) << s.seq;
        EXPECT_EQ(p[3], 0xF9);
        EXPECT_EQ(p[4], 0x0A);
    }
    r.Close();
    // Nor does the first packet of the next recording, whatever the last
    // packet of this one said.
    ASSERT_EQ(r.Open(m_dir.File("again.qzf")), 1);
    uint8_t again[8] = {0, 0, 1, 0xF8, 0x85, 0x12, 0x34, 0};
    r.WriteVideo(again, 8);
    EXPECT_EQ(r.GetFrameGap(), 1);
    r.Close();
    CStreamRecorder r16;
    r16.Configure(2, 4, 16);
    ASSERT_EQ(r16.Open(m_dir.File("r16.qzf")), 1);
    uint8_t p[8] = {0, 0, 1, 0xF8, 0x85, 0xFF, 0, 0};
    r16.WriteVideo(p, 8);
    EXPECT_EQ(p[3], 0xF9);
    EXPECT_EQ(p[4], 0x00);
    EXPECT_EQ(p[5], 0x07);
    // Format 2 keeps the packet as it came, except for the slot rule.
    CStreamRecorder r2;
    r2.Configure(2, 2, 8);
    ASSERT_EQ(r2.Open(m_dir.File("r2.qzf")), 1);
    uint8_t q[8] = {0, 0, 1, 0xF8, 0x85, 0xFF, 0, 0};
    r2.WriteVideo(q, 8);
    EXPECT_EQ(q[3], 0xF8);
    EXPECT_EQ(q[4], 0x85);
}

TEST_F(StreamRecorderTest, CloseEndsOnAWholeBlock) {
    std::mt19937 rng(2);
    CStreamRecorder r;
    r.Configure(2, 5, 8);
    ASSERT_EQ(r.Open(m_path), 1);
    std::vector<uint8_t> key = Live(rng, true, 0, 1, 4984);
    ASSERT_EQ(r.WriteVideo(key.data(), 4984), 1);
    EXPECT_EQ(r.GetBytesWritten(), 5000u);
    r.Close();
    EXPECT_EQ(ReadBytes(m_path).size(), 8192u);
    EXPECT_TRUE(r.GetErrorText().empty());
    // Reopening starts a new file.
    ASSERT_EQ(r.Open(m_path), 1);
    r.Close();
    EXPECT_EQ(ReadBytes(m_path).size(), 0u);
}

TEST_F(StreamRecorderTest, EveryPacketReadsBackAsRecorded) {
    const size_t sizes[] = {7, 8, 100, 4081, 4085, 4088, 4089, 8176, 20000, 131072, 140000};
    for (int format : {0, 4, 5, 6}) {
        SCOPED_TRACE(format);
        std::mt19937 rng(static_cast<uint32_t>(format) + 40);
        CStreamRecorder r;
        r.Configure(2, format, 8);
        r.SetFixedTime(1700000000);
        ASSERT_EQ(r.Open(m_path), 1);
        std::vector<Delivery> want;
        uint16_t seq = 0;
        for (int i = 0; i < 60; ++i) {
            const size_t n = (i % 2 == 0) ? sizes[(i / 2) % std::size(sizes)] : 7 + rng() % 3000;
            std::vector<uint8_t> v = Live(rng, i % 5 == 0, static_cast<int>(rng() % 8), ++seq, n);
            ASSERT_EQ(r.WriteVideo(v.data(), static_cast<int>(v.size())), 1);
            v.resize(std::min<size_t>(v.size(), kMaxPacketSize)); // as adapted
            want.push_back({false, v[4] & 0x0F, v});
            const size_t an = 1 + rng() % (i == 17 ? 140000 : 2000);
            std::vector<uint8_t> a = Payload(rng, an);
            ASSERT_EQ(r.WriteAudio(a.data(), static_cast<int>(a.size())), 1);
            a.resize(std::min<size_t>(a.size(), kMaxPacketSize - 6));
            want.push_back({true, 0, a});
        }
        r.Close();
        ASSERT_TRUE(r.GetErrorText().empty());
        CStreamFile f;
        ASSERT_EQ(f.Open(m_path, 0), 1);
        f.SetFormat(format);
        EXPECT_EQ(f.GetSize() % kQzfBlockSize, 0u);
        std::vector<Delivery> got = ReadAllForward(f);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(got[i].audio, want[i].audio) << i;
            ASSERT_EQ(got[i].channel, want[i].channel) << i;
            ASSERT_EQ(got[i].bytes.size(), want[i].bytes.size()) << i;
            ASSERT_TRUE(got[i].bytes == want[i].bytes) << i;
        }
        // Format 0 keeps a calendar time in its headers; it reads back the same.
        SYSTEMTIME t;
        ASSERT_EQ(f.GetBlockTime(&t), 1);
        EXPECT_EQ(f.GetBlockTimeUtc(), 1700000000u);
        EXPECT_EQ(f.FindTime(1700000000u), 0);
    }
}

TEST_F(StreamRecorderTest, AFullDiskStopsTheRecordingAndKeepsWhatWasWritten) {
    std::mt19937 rng(3);
    CStreamRecorder r;
    r.Configure(2, 4, 8);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    ASSERT_EQ(r.Open(m_path), 1);
    struct rlimit lim = old;
    lim.rlim_cur = 10 * kQzfBlockSize + 1234; // the disk fills inside block 10
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    std::vector<std::vector<uint8_t>> written;
    uint16_t seq = 0;
    int failures = 0;
    for (int i = 0; i < 100 && failures == 0; ++i) {
        std::vector<uint8_t> v = Live(rng, i == 0, 1, ++seq, 700 + rng() % 900);
        if (r.WriteVideo(v.data(), static_cast<int>(v.size())) == 1) {
            written.push_back(v);
        } else {
            ++failures;
        }
    }
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(r.IsOpen());
    EXPECT_NE(r.GetErrorText().find("rec.qzf"), std::string::npos);
    uint8_t more[8] = {0, 0, 1, 0xF8, 0x80, 0, 9, 0};
    EXPECT_EQ(r.WriteVideo(more, 8), 0);
    r.Close(); // nothing left to do, and no crash
    // What reached the disk reads back packet by packet, up to where it filled.
    CStreamFile f;
    ASSERT_EQ(f.Open(m_path, 0), 1);
    EXPECT_EQ(f.GetSize(), static_cast<uint64_t>(lim.rlim_cur));
    std::vector<Delivery> got = ReadAllForward(f);
    ASSERT_GE(got.size() + 6, written.size()); // at most a block's worth is lost
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_TRUE(got[i].bytes == written[i]) << i;
    }
}

TEST_F(StreamRecorderTest, OpenAndCloseFromAnotherThreadNeverTearAWrite) {
    CStreamRecorder r;
    r.Configure(2, 4, 8);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::mt19937 rng(4);
        uint16_t seq = 0;
        while (!stop) {
            ++seq;
            std::vector<uint8_t> v = Live(rng, seq % 10 == 1, 0, seq, 500);
            r.WriteVideo(v.data(), static_cast<int>(v.size()));
            std::vector<uint8_t> a = Payload(rng, 300);
            r.WriteAudio(a.data(), 300);
        }
    });
    // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + std::string.
    auto name = [](int i) {
        std::string n = "r";
        n += std::to_string(i);
        n += ".qzf";
        return n;
    };
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(r.Open(m_dir.File(name(i % 3))), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        r.Close();
    }
    stop = true;
    writer.join();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadBytes(m_dir.File(name(i))).size() % kQzfBlockSize, 0u);
    }
}

TEST_F(StreamRecorderTest, ARecordingCutAtAnyByteReadsBackToItsLastWholeBlock) {
    std::mt19937 rng(5);
    CStreamRecorder r;
    r.Configure(2, 4, 8);
    ASSERT_EQ(r.Open(m_path), 1);
    std::vector<std::vector<uint8_t>> written;
    std::vector<uint64_t> ends; // file length once each packet is written
    uint16_t seq = 0;
    for (int i = 0; i < 40; ++i) {
        std::vector<uint8_t> v = Live(rng, i == 0, 1, ++seq, 7 + rng() % 1500);
        ASSERT_EQ(r.WriteVideo(v.data(), static_cast<int>(v.size())), 1);
        written.push_back(v);
        ends.push_back(r.GetBytesWritten());
    }
    // What a kill leaves: every packet written so far, the last block partial.
    const std::vector<uint8_t> file = ReadBytes(m_path);
    ASSERT_EQ(file.size(), ends.back());
    const std::string cut = m_dir.File("cut.qzf");
    WriteBytes(cut, file);
    for (uint64_t c = 2 * kQzfBlockSize; c >= kQzfBlockSize; --c) {
        ASSERT_EQ(truncate(cut.c_str(), static_cast<off_t>(c)), 0);
        const uint64_t whole = c / kQzfBlockSize * kQzfBlockSize;
        // A packet is complete once the next one's start code is in a whole block.
        size_t complete = 0;
        while (complete + 1 < ends.size()) {
            const uint64_t e = ends[complete];
            const uint64_t off = e % kQzfBlockSize;
            const uint64_t codeEnd = e + 4 + (off == 0 || off > kQzfBlockSize - 4 ? 8 : 0);
            if (codeEnd > whole) {
                break;
            }
            ++complete;
        }
        CStreamFile f;
        ASSERT_EQ(f.Open(cut, 0), 1);
        f.SetFormat(4);
        const std::vector<Delivery> got = ReadAllForward(f);
        ASSERT_EQ(got.size(), complete) << c;
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_TRUE(got[i].bytes == written[i]) << c << " " << i;
        }
    }
    r.Close();
}

TEST_F(StreamRecorderTest, WholeBlocksReachTheDiskSoonFromAThreadOfTheirOwn) {
    std::mt19937 rng(6);
    CStreamRecorder r;
    r.Configure(2, 4, 8);
    ASSERT_EQ(r.Open(m_path), 1);
    uint16_t seq = 0;
    while (r.GetBytesWritten() < 3 * kQzfBlockSize + 100) {
        ++seq;
        std::vector<uint8_t> v = Live(rng, seq == 1, 1, seq, 900);
        ASSERT_EQ(r.WriteVideo(v.data(), static_cast<int>(v.size())), 1);
    }
    // No more writes: what is written must still go to the disk on its own.
    bool durable = false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!durable && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        durable = r.GetDurableBytes() >= 3 * kQzfBlockSize;
    }
    EXPECT_TRUE(durable);
    std::vector<SyncCall> syncs = SyncsOf(m_path);
    ASSERT_FALSE(syncs.empty());
    EXPECT_GE(syncs.back().size, 3 * kQzfBlockSize); // the disk holds what is said to be durable
    for (const SyncCall& c : syncs) {
        EXPECT_NE(c.thread, std::this_thread::get_id()); // the writing thread never waits
    }
    EXPECT_EQ(r.GetDurableBytes() % kQzfBlockSize, 0u);
    // Closing makes the whole file durable, padding included.
    r.Close();
    syncs = SyncsOf(m_path);
    EXPECT_EQ(static_cast<uint64_t>(syncs.back().size), ReadBytes(m_path).size());
    EXPECT_EQ(r.GetDurableBytes(), ReadBytes(m_path).size());
}
