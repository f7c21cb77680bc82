#include "media_test_util.h"

#include "media/stream_file.h"
#include "platform/notifier.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tv;
using namespace tv::test;

namespace {

struct Recording {
    std::vector<uint8_t> file;
    std::vector<Delivery> expected; // forward: over-long packets keep their first bytes
    std::vector<Delivery> backward; // backward: their last bytes
};

void Expect(Recording& r, bool audio, int ch, const std::vector<uint8_t>& full) {
    const size_t keep = audio ? kMaxPacketSize - 6 : kMaxPacketSize;
    r.expected.push_back(
        {audio, ch, {full.begin(), full.begin() + static_cast<long>(std::min(keep, full.size()))}});
    const size_t tail = std::min<size_t>(kMaxPacketSize, full.size());
    r.backward.push_back({audio, ch, {full.end() - static_cast<long>(tail), full.end()}});
}

// A mix of video and audio packets of many sizes, some far longer than a block.
Recording MakeRecording(int format, bool diskOrder, uint32_t seed, int packets) {
    std::mt19937 rng(seed);
    Recording r;
    CQzfBlockWriter w;
    w.SetFormat(format);
    w.SetDiskByteOrder(diskOrder);
    w.AttachVector(&r.file);
    w.SetTime(static_cast<time_t>(1700000000));
    const size_t sizes[] = {1, 2, 5, 60, 4081, 4082, 4083, 4084, 4085, 4088, 9000, 131072, 140000};
    for (int i = 0; i < packets; ++i) {
        const size_t n = (i % 3 == 0) ? sizes[(i / 3) % std::size(sizes)] : 1 + rng() % 6000;
        if (rng() % 4 == 0) {
            const int ch = static_cast<int>(rng() % 4);
            std::vector<uint8_t> s = Payload(rng, n);
            w.WriteAudioPacket(ch, s.data(), s.size());
            Expect(r, true, ch, s);
        } else {
            std::vector<uint8_t> pkt = {0, 0, 1, static_cast<uint8_t>(rng() % 2 ? 0xF8 : 0xF9)};
            std::vector<uint8_t> body = Payload(rng, n);
            pkt.insert(pkt.end(), body.begin(), body.end());
            w.Write(pkt.data(), pkt.size());
            const int ch = pkt.size() >= 5 ? (pkt[4] & 0x0F) : 0;
            Expect(r, false, ch, pkt);
        }
        w.SetTime(static_cast<time_t>(1700000000 + i));
    }
    w.Finish();
    return r;
}

void ExpectSame(const std::vector<Delivery>& got, const std::vector<Delivery>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].audio, want[i].audio) << i;
        ASSERT_EQ(got[i].channel, want[i].channel) << i;
        ASSERT_EQ(got[i].bytes.size(), want[i].bytes.size()) << i;
        ASSERT_TRUE(got[i].bytes == want[i].bytes) << i;
    }
}

class StreamFileTest : public ::testing::Test {
protected:
    TempDir m_dir;
    std::vector<uint8_t> m_buf = std::vector<uint8_t>(kMaxPacketSize);
    std::string Put(const std::vector<uint8_t>& bytes, const std::string& name = "a.qzf") {
        const std::string p = m_dir.File(name);
        WriteBytes(p, bytes);
        return p;
    }
};

} // namespace

TEST_F(StreamFileTest, ForwardReadingDeliversEveryPacketAcrossBlocks) {
    struct Case {
        int format;
        bool disk;
    };
    for (const Case c : {Case{4, false}, Case{6, false}, Case{5, true}}) {
        SCOPED_TRACE(c.format);
        Recording r = MakeRecording(c.format, c.disk, 7u + static_cast<uint32_t>(c.format), 120);
        CStreamFile f;
        ASSERT_EQ(f.Open(Put(r.file), c.disk ? 1 : 0), 1);
        f.SetFormat(c.format);
        ExpectSame(ReadAllForward(f), r.expected);
        EXPECT_NE(f.GetAudioChannelMask(), 0);
        EXPECT_EQ(f.GetChannelMask(), 1);
    }
}

TEST_F(StreamFileTest, BackwardReadingDeliversThePacketsInReverse) {
    Recording r = MakeRecording(6, false, 99, 90);
    CStreamFile f;
    ASSERT_EQ(f.Open(Put(r.file), 0), 1);
    f.SetFormat(6);
    f.SetPosition(f.GetSize() - 1);
    std::vector<Delivery> got;
    for (;;) {
        const int n = f.ReadBackward(m_buf.data());
        if (n == 0) {
            break;
        }
        got.push_back({f.IsAudio() != 0, f.GetChannel(), {m_buf.begin(), m_buf.begin() + n}});
    }
    // The reader reached the start; the mask of a big-endian block is read as in forward.
    EXPECT_EQ(f.GetPosition(), 0u);
    EXPECT_EQ(f.GetChannelMask(), 1);
    ExpectSame(got, std::vector<Delivery>(r.backward.rbegin(), r.backward.rend()));
}

TEST_F(StreamFileTest, OverLongPacketsKeepTheFirstOrLastBytes) {
    std::mt19937 rng(5);
    std::vector<uint8_t> file;
    CQzfBlockWriter w;
    w.AttachVector(&file);
    std::vector<uint8_t> big = Payload(rng, 200000 - 4);
    big[0] = 0x03; // channel 3
    w.WritePacket(0xF8, nullptr, 0);
    w.WritePacket(0xF8, big.data(), big.size());
    w.WritePacket(0xF8, big.data(), 10);
    w.Finish();
    CStreamFile f;
    ASSERT_EQ(f.Open(Put(file), 0), 1);
    ASSERT_EQ(f.ReadForward(m_buf.data()), 4); // the empty packet before it
    ASSERT_EQ(f.ReadForward(m_buf.data()), kMaxPacketSize);
    EXPECT_EQ(f.GetChannel(), 3);
    EXPECT_EQ(std::memcmp(m_buf.data() + 4, big.data(), kMaxPacketSize - 4), 0);
    ASSERT_EQ(f.ReadForward(m_buf.data()), 14);
    // Turning back delivers the packet before the last one: the big one, as its tail.
    ASSERT_EQ(f.ReadBackward(m_buf.data()), kMaxPacketSize);
    EXPECT_EQ(f.GetChannel(), 3);
    EXPECT_EQ(std::memcmp(m_buf.data(), big.data() + big.size() - kMaxPacketSize, kMaxPacketSize),
              0);
}

TEST_F(StreamFileTest, StartCodesStraddlingABoundaryAreFoundBothWays) {
    // Put the next start code's first byte at each of the last four stream
    // bytes of block 0 and check nothing is lost either way.
    for (int shift = 0; shift < 5; ++shift) {
        SCOPED_TRACE(shift);
        std::vector<uint8_t> file;
        CQzfBlockWriter w;
        w.AttachVector(&file);
        std::vector<uint8_t> a(kQzfPayloadSize - 4 - 4 - 3 + shift, 0x55);
        a[0] = 0x02;
        const uint8_t b[3] = {0x07, 0x00, 0x00};
        w.WritePacket(0xF8, a.data(), a.size());
        w.WritePacket(0xF9, b, 3);
        w.WritePacket(0xFB, b, 3);
        w.Finish();
        CStreamFile f;
        ASSERT_EQ(f.Open(Put(file), 0), 1);
        ASSERT_EQ(f.ReadForward(m_buf.data()), static_cast<int>(a.size() + 4));
        EXPECT_EQ(f.GetChannel(), 2);
        ASSERT_EQ(f.ReadForward(m_buf.data()), 7);
        EXPECT_EQ(f.GetChannel(), 7);
        ASSERT_EQ(f.ReadForward(m_buf.data()), 1); // audio: 3 bytes less the 2 skipped
        EXPECT_TRUE(f.IsAudio());
        EXPECT_EQ(f.GetChannel(), 1);
        // Turning back redelivers the packet before the last: the key picture.
        ASSERT_EQ(f.ReadBackward(m_buf.data()), 7);
        EXPECT_EQ(m_buf[3], 0xF9);
        ASSERT_EQ(f.ReadBackward(m_buf.data()), static_cast<int>(a.size() + 4));
        EXPECT_EQ(f.ReadBackward(m_buf.data()), 0);
    }
}

TEST_F(StreamFileTest, DirectionChangesRedeliverTheLastPacket) {
    std::vector<uint8_t> file;
    CQzfBlockWriter w;
    w.AttachVector(&file);
    const uint8_t a[5] = {0x01, 0x11, 0x11, 0x11, 0x11};
    const uint8_t b[5] = {0x02, 0x22, 0x00, 0x00, 0x01};
    const uint8_t c[5] = {0x03, 0x33, 0x33, 0x33, 0x33};
    w.WritePacket(0xF8, a, 5);
    w.WritePacket(0xF8, b, 5);
    w.WritePacket(0xF8, c, 5);
    w.Finish();
    CStreamFile f;
    ASSERT_EQ(f.Open(Put(file), 0), 1);
    ASSERT_EQ(f.ReadForward(m_buf.data()), 9);
    EXPECT_EQ(f.GetChannel(), 1);
    ASSERT_EQ(f.ReadForward(m_buf.data()), 9);
    EXPECT_EQ(f.GetChannel(), 2);
    ASSERT_EQ(f.ReadBackward(m_buf.data()), 9);
    EXPECT_EQ(f.GetChannel(), 1);
    // Backward leaves the position inside A, so forward goes on with B.
    ASSERT_EQ(f.ReadForward(m_buf.data()), 9);
    EXPECT_EQ(f.GetChannel(), 2);
    ASSERT_EQ(f.ReadForward(m_buf.data()), 9);
    EXPECT_EQ(f.GetChannel(), 3);
}

TEST_F(StreamFileTest, AudioPacketsSkipTwoBytesAndShortOnesDeliverNothing) {
    std::vector<uint8_t> file;
    CQzfBlockWriter w;
    w.AttachVector(&file);
    const uint8_t fill[40] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    const uint8_t ctrl[8] = {0x10, 0x20, 0x00, 0x00, 0x01, 0xFE, 0x30, 0x40};
    w.WritePacket(0xF8, fill, 40);
    w.WritePacket(0xFC, ctrl, 8); // channel 2: 2 skipped + 6 samples (00 00 01 FE is data)
    w.WritePacket(0xFD, ctrl, 1); // too short to hold its two skipped bytes
    w.WritePacket(0xF8, fill, 3);
    w.Finish();
    CStreamFile f;
    ASSERT_EQ(f.Open(Put(file), 0), 1);
    ASSERT_EQ(f.ReadForward(m_buf.data()), 44);
    ASSERT_EQ(f.ReadForward(m_buf.data()), 6);
    EXPECT_TRUE(f.IsAudio());
    EXPECT_EQ(f.GetChannel(), 2);
    EXPECT_EQ(std::memcmp(m_buf.data(), ctrl + 2, 6), 0);
    ASSERT_EQ(f.ReadForward(m_buf.data()), 7);
    EXPECT_FALSE(f.IsAudio());
    EXPECT_EQ(f.GetAudioChannelMask(), 4);
    ASSERT_EQ(f.ReadBackward(m_buf.data()), 6);
    EXPECT_EQ(f.GetChannel(), 2);
    ASSERT_EQ(f.ReadBackward(m_buf.data()), 44);
}

TEST_F(StreamFileTest, ABadBlockIsSkippedWholeAndChangesNothing) {
    std::vector<uint8_t> file;
    CQzfBlockWriter w;
    w.AttachVector(&file);
    w.SetFrameGap(5);
    w.SetTime(static_cast<time_t>(1000000000));
    std::vector<uint8_t> one(100, 0x44);
    w.WritePacket(0xF8, one.data(), one.size());
    std::vector<uint8_t> filler(2 * kQzfBlockSize, 0x44);
    w.WritePacket(0xF8, filler.data(), filler.size());
    w.SetFrameGap(9);
    w.SetTime(static_cast<time_t>(2000000000));
    for (int i = 0; i < 2000; ++i) {
        w.WritePacket(0xF8, one.data(), 10);
    }
    w.Finish();
    file[kQzfBlockSize + 2] ^= 0x40; // block 1: checksum fails
    CStreamFile f;
    ASSERT_EQ(f.Open(Put(file), 0), 1);
    ASSERT_EQ(f.ReadForward(m_buf.data()), 104);
    SYSTEMTIME before;
    ASSERT_EQ(f.GetBlockTime(&before), 1);
    EXPECT_EQ(f.ReadForward(m_buf.data()), 0);
    EXPECT_EQ(f.GetPosition(), 2u * kQzfBlockSize);
    EXPECT_EQ(f.GetFrameGap(), 5);
    SYSTEMTIME after;
    ASSERT_EQ(f.GetBlockTime(&after), 1);
    EXPECT_EQ(before, after);
    // The next read starts at the block after the bad one with the first start code there.
    ASSERT_EQ(f.ReadForward(m_buf.data()), 14);
    EXPECT_EQ(f.GetFrameGap(), 5); // block 2 was begun by the long packet
    // Backward onto the bad block: result 0, position at its start.
    f.SetPosition(2 * kQzfBlockSize + 20);
    int n = 0;
    while ((n = f.ReadBackward(m_buf.data())) != 0) {
    }
    EXPECT_EQ(f.GetPosition(), 1u * kQzfBlockSize);
}

TEST_F(StreamFileTest, SeekTargetAndPosition) {
    std::vector<uint8_t> file;
    CQzfBlockWriter w;
    w.AttachVector(&file);
    std::vector<uint8_t> v(3000, 0x21);
    for (int i = 0; i < 20; ++i) {
        w.WriteAudioPacket(1, v.data(), 2500);
        w.WritePacket(0xF8, v.data(), v.size());
    }
    w.Finish();
    CStreamFile f;
    EXPECT_EQ(f.ReadAtSeekTarget(m_buf.data()), 0);
    ASSERT_EQ(f.Open(Put(file), 0), 1);
    EXPECT_EQ(f.SetSeekTarget(f.GetSize()), 0);
    ASSERT_EQ(f.SetSeekTarget(f.GetSize() - 1), 1);
    EXPECT_EQ(f.ReadAtSeekTarget(m_buf.data()), 0);
    // Block 4's first start code opens an audio packet; a video one follows.
    ASSERT_EQ(f.SetSeekTarget(4 * kQzfBlockSize + 100), 1);
    EXPECT_EQ(f.ReadAtSeekTarget(m_buf.data()), 3004);
    EXPECT_FALSE(f.IsAudio());
    EXPECT_EQ(f.GetAudioSeen(), 1);
    f.SetPosition(f.GetSize() + 5); // ignored
    EXPECT_LT(f.GetPosition(), f.GetSize());
}

TEST_F(StreamFileTest, GarbageAndTruncatedFilesNeverDeliverAnything) {
    std::mt19937 rng(11);
    std::vector<uint8_t> junk(10 * kQzfBlockSize + 123);
    for (auto& b : junk) {
        b = static_cast<uint8_t>(rng());
    }
    CStreamFile f;
    ASSERT_EQ(f.Open(Put(junk), 0), 1);
    SYSTEMTIME t;
    EXPECT_EQ(f.GetBlockTime(&t), 0); // nothing read yet
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(f.ReadForward(m_buf.data()), 0);
    }
    f.SetPosition(f.GetSize() - 1);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(f.ReadBackward(m_buf.data()), 0);
    }
    // A recording cut inside its last block: whole blocks still play.
    Recording r = MakeRecording(4, false, 3, 30);
    std::vector<uint8_t> cut(r.file.begin(), r.file.end() - 1000);
    ASSERT_EQ(f.Open(Put(cut, "cut.qzf"), 0), 1);
    std::vector<Delivery> got = ReadAllForward(f);
    ASSERT_FALSE(got.empty());
    ASSERT_LT(got.size(), r.expected.size());
    got.pop_back(); // may be the cut one... it is not: a packet ends at a start code
    ExpectSame(got, std::vector<Delivery>(r.expected.begin(),
                                          r.expected.begin() + static_cast<long>(got.size())));
    EXPECT_EQ(f.Open(m_dir.File("missing.qzf"), 0), 0);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.ReadForward(m_buf.data()), 0);
}

TEST_F(StreamFileTest, ARecordingStillBeingWrittenReadsOnAsItGrows) {
    Recording r = MakeRecording(4, false, 5, 60);
    const size_t half = (r.file.size() / kQzfBlockSize / 2) * kQzfBlockSize;
    const std::string path =
        Put(std::vector<uint8_t>(r.file.begin(), r.file.begin() + long(half)), "grow.qzf");
    CStreamFile f;
    ASSERT_EQ(f.Open(path, 0), 1);
    size_t before = 0;
    while (f.ReadForward(m_buf.data()) > 0) {
        ++before;
    }
    ASSERT_GT(before, 0u);
    WriteBytes(path, r.file);
    size_t after = 0;
    for (int misses = 0; misses < 3;) {
        if (f.ReadForward(m_buf.data()) > 0) {
            ++after;
        } else {
            ++misses;
        }
    }
    EXPECT_EQ(f.GetSize(), r.file.size());
    // At most the packet that ran into the old end is lost.
    EXPECT_GE(before + after + 1, r.expected.size());
}

TEST_F(StreamFileTest, BlockTimeIsLocalStandardTime) {
    std::vector<uint8_t> file;
    CQzfBlockWriter w;
    w.AttachVector(&file);
    w.SetTime(static_cast<time_t>(951827696)); // 2000-02-29 12:34:56 UTC
    const uint8_t x[4] = {1, 2, 3, 4};
    w.WritePacket(0xF8, x, 4);
    w.WritePacket(0xF8, x, 4);
    w.Finish();
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "EST5EDT", 1);
    CStreamFile f;
    ASSERT_EQ(f.Open(Put(file), 0), 1);
    ASSERT_EQ(f.ReadForward(m_buf.data()), 8);
    SYSTEMTIME t;
    ASSERT_EQ(f.GetBlockTime(&t), 1);
    EXPECT_EQ(t.wHour, 7);
    EXPECT_EQ(t.wDay, 29);
    EXPECT_EQ(f.GetBlockTimeUtc(), 951827696u);
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    f.Close();
    EXPECT_EQ(f.GetBlockTime(&t), 0);
}

TEST_F(StreamFileTest, CopyRangeWritesWholeBlocksInFileOrder) {
    Recording r = MakeRecording(4, true, 21, 40);
    std::vector<uint8_t> plain = r.file;
    SwapWords(plain.data(), plain.size());
    CStreamFile f;
    const std::string src = Put(r.file);
    ASSERT_EQ(f.Open(src, 1), 1);
    const std::string out = m_dir.File("CAPTURE.QZF");
    ASSERT_EQ(f.CopyRange(kQzfBlockSize + 10, kQzfBlockSize + 20, out), 1);
    std::vector<uint8_t> copied = ReadBytes(out);
    ASSERT_EQ(copied.size(), static_cast<size_t>(kQzfBlockSize));
    EXPECT_TRUE(std::equal(copied.begin(), copied.end(), plain.begin() + kQzfBlockSize));
    ASSERT_EQ(f.CopyRange(5, 3 * kQzfBlockSize + 1, out), 1);
    EXPECT_EQ(ReadBytes(out).size(), 4u * kQzfBlockSize);
    EXPECT_EQ(f.CopyRange(20, 10, out), 0);
    EXPECT_EQ(f.CopyRange(0, f.GetSize(), out), 0);
    // The recording itself, by another spelling or a hard link, is refused and untouched.
    EXPECT_EQ(f.CopyRange(0, 100, m_dir.Path() + "/./a.qzf"), 0);
    ASSERT_EQ(link(src.c_str(), m_dir.File("same.qzf").c_str()), 0);
    EXPECT_EQ(f.CopyRange(0, 100, m_dir.File("same.qzf")), 0);
    EXPECT_EQ(ReadBytes(src), r.file);
}

TEST_F(StreamFileTest, CopyRangeRemovesTheCopyWhenTheDiskFills) {
    Recording r = MakeRecording(4, false, 22, 60);
    ASSERT_GT(r.file.size(), 20u * kQzfBlockSize);
    CStreamFile f;
    ASSERT_EQ(f.Open(Put(r.file), 0), 1);
    const std::string out = m_dir.File("part.qzf");
    // A file size limit stands in for a full disk.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit lim = old;
    lim.rlim_cur = 5 * kQzfBlockSize;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    const int ok = f.CopyRange(0, 20 * kQzfBlockSize, out);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(ok, 0);
    EXPECT_NE(access(out.c_str(), F_OK), 0);
}

TEST_F(StreamFileTest, FindTimeLandsOnTheFirstBlockAtOrAfter) {
    // 3000 blocks, one second apart, with a stretch of bad blocks and a
    // stretch where the clock went back.
    std::vector<uint8_t> file(3000 * static_cast<size_t>(kQzfBlockSize));
    std::vector<uint32_t> times(3000);
    for (size_t b = 0; b < 3000; ++b) {
        uint32_t t = 1000000 + static_cast<uint32_t>(b) * 2;
        if (b >= 2000 && b < 2100) {
            t -= 500; // non-monotonic stretch
        }
        times[b] = t;
        QzfBlockHeader h;
        h.time = t;
        h.channelMask = 1;
        EncodeBlockHeader(h, false, &file[b * kQzfBlockSize]);
    }
    for (size_t b = 1200; b < 1700; ++b) {
        file[b * kQzfBlockSize + 7] ^= 0xFF; // bad stretch
    }
    CStreamFile f;
    ASSERT_EQ(f.Open(Put(file), 0), 1);
    uint32_t found = 0;
    EXPECT_EQ(f.FindTime(0u, &found), 0);
    EXPECT_EQ(found, 1000000u);
    EXPECT_EQ(f.FindTime(1000001u, &found), static_cast<int64_t>(kQzfBlockSize));
    EXPECT_EQ(f.FindTime(1000000u + 2 * 777), 777 * static_cast<int64_t>(kQzfBlockSize));
    // Inside the bad stretch: the first good block after it.
    EXPECT_EQ(f.FindTime(1000000u + 2 * 1300, &found), 1700 * static_cast<int64_t>(kQzfBlockSize));
    EXPECT_EQ(found, 1000000u + 2 * 1700);
    EXPECT_EQ(f.FindTime(1000000u + 2 * 2999 + 1), -1);
    EXPECT_EQ(f.FindTime(1000000u + 2 * 2999), 2999 * static_cast<int64_t>(kQzfBlockSize));
    // The block the search names always has a time at or after the one asked for.
    for (uint32_t t = 1000000; t < 1006000; t += 37) {
        const int64_t off = f.FindTime(t, &found);
        ASSERT_GE(off, 0);
        EXPECT_GE(found, t);
        EXPECT_EQ(found, times[static_cast<size_t>(off / kQzfBlockSize)]);
    }
    // Through the local-time form.
    SYSTEMTIME local = BlockTimeToLocal(1000000u + 2 * 500, f.GetTimeZoneBias());
    EXPECT_EQ(f.FindTime(local), 500 * static_cast<int64_t>(kQzfBlockSize));
}

TEST_F(StreamFileTest, SourcesWithoutASizeSayOpenError) {
    std::vector<std::string> shown;
    SetMessageBoxHandler(
        [&](const std::string& text, const std::string&) { shown.push_back(text); });
    CStreamFile f;
    EXPECT_EQ(f.Open("/dev/null", 1), 0);
    SetMessageBoxHandler(nullptr);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Open Error");
    EXPECT_FALSE(f.IsOpen());
    // A missing file fails quietly.
    EXPECT_EQ(f.Open(m_dir.File("none"), 0), 0);
    EXPECT_EQ(shown.size(), 1u);
    // Nothing valid to find in an empty or junk file.
    ASSERT_EQ(f.Open(Put({}, "empty.qzf"), 0), 1);
    EXPECT_EQ(f.FindTime(0u), -1);
    EXPECT_EQ(f.ReadForward(m_buf.data()), 0);
    EXPECT_EQ(f.SetSeekTarget(0), 0);
    ASSERT_EQ(f.Open(Put(std::vector<uint8_t>(64 * kQzfBlockSize, 0x5A), "junk.qzf"), 0), 1);
    EXPECT_EQ(f.FindTime(0u), -1);
}

TEST_F(StreamFileTest, ANamedPipeIsRefusedWithoutWaitingForAWriter) {
    const std::string fifo = m_dir.File("pipe.qzf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // In a child, so that an open that blocks fails the test instead of hanging it.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        SetMessageBoxHandler([](const std::string&, const std::string&) {});
        CStreamFile f;
        _exit(f.Open(fifo, 0) == 0 && !f.IsOpen() ? 0 : 1);
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 3000 && done == 0; ++i) {
        done = waitpid(pid, &status, WNOHANG);
        usleep(10000);
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "opening a named pipe did not return within 30 s";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(StreamFileTest, PacketsTellTheirOwnOffsetAndBlockTimeBothWays) {
    // Each packet starts in a block of one second and ends in blocks of the
    // next: its time is the block its start code begins in, read either way.
    std::mt19937 rng(5);
    std::vector<uint8_t> bytes;
    CQzfBlockWriter w;
    w.SetFormat(4);
    w.AttachVector(&bytes);
    w.SetChannelMask(1);
    w.SetFrameGap(1);
    std::vector<uint64_t> offsets;
    std::vector<uint32_t> times;
    for (int i = 0; i < 6; ++i) {
        w.SetTime(static_cast<time_t>(1000 + 10 * i));
        // The block the packet starts in was begun under the time before.
        times.push_back(static_cast<uint32_t>(
            w.GetBytesWritten() % kQzfBlockSize == 0 ? 1000 + 10 * i : 1000 + 10 * (i - 1)));
        const uint64_t at = w.GetBytesWritten();
        offsets.push_back(at % kQzfBlockSize == 0 ? at + kQzfHeaderSize : at);
        std::vector<uint8_t> p = {0, 0, 1, 0xF9, static_cast<uint8_t>(i)};
        const std::vector<uint8_t> body = Payload(rng, 9000);
        p.insert(p.end(), body.begin(), body.end());
        w.Write(p.data(), p.size());
    }
    const uint8_t tail[4] = {0, 0, 1, 0xF8};
    w.Write(tail, 4);
    w.Finish();
    CStreamFile f;
    ASSERT_EQ(f.Open(Put(bytes), 0), 1);
    f.SetFormat(4);
    int later = 0; // deliveries made from a block of a later time
    for (size_t i = 0; i < offsets.size(); ++i) {
        ASSERT_GT(f.ReadForward(m_buf.data()), 0) << i;
        EXPECT_EQ(f.GetPacketOffset(), offsets[i]) << i;
        EXPECT_EQ(f.GetPacketTimeUtc(), times[i]) << i;
        EXPECT_EQ(m_buf[4], i);
        later += f.GetBlockTimeUtc() != times[i] ? 1 : 0;
    }
    EXPECT_GT(later, 3);
    // Back from the last one: the reader lands before the packet named.
    ASSERT_EQ(f.SetPositionBefore(offsets.back()), 1);
    for (size_t i = offsets.size() - 1; i-- > 0;) {
        ASSERT_GT(f.ReadBackward(m_buf.data()), 0) << i;
        EXPECT_EQ(f.GetPacketOffset(), offsets[i]) << i;
        EXPECT_EQ(f.GetPacketTimeUtc(), times[i]) << i;
        EXPECT_EQ(m_buf[4], i);
    }
}

TEST_F(StreamFileTest, ASeekInsideABlockLandsOnThePacketThatStartsThere) {
    // Several pictures to a block: a seek to one of them (an event's first
    // picture) must not land on the block's first.
    std::mt19937 rng(6);
    std::vector<uint8_t> bytes;
    CQzfBlockWriter w;
    w.SetFormat(4);
    w.AttachVector(&bytes);
    w.SetChannelMask(1);
    w.SetFrameGap(1);
    w.SetTime(2000);
    std::vector<uint64_t> offsets;
    for (int i = 0; i < 40; ++i) {
        const uint64_t at = w.GetBytesWritten();
        offsets.push_back(at % kQzfBlockSize == 0 ? at + kQzfHeaderSize : at);
        std::vector<uint8_t> p = {0, 0, 1, 0xF9, static_cast<uint8_t>(i)};
        const std::vector<uint8_t> body = Payload(rng, 600);
        p.insert(p.end(), body.begin(), body.end());
        w.Write(p.data(), p.size());
    }
    w.Finish();
    CStreamFile f;
    ASSERT_EQ(f.Open(Put(bytes), 0), 1);
    f.SetFormat(4);
    for (const size_t i : {size_t(3), size_t(9), size_t(20)}) {
        ASSERT_NE(offsets[i] % kQzfBlockSize, kQzfHeaderSize) << i; // not a block's first
        f.SetSeekTarget(offsets[i]);
        ASSERT_GT(f.ReadAtSeekTarget(m_buf.data()), 0) << i;
        EXPECT_EQ(f.GetPacketOffset(), offsets[i]) << i;
        EXPECT_EQ(m_buf[4], i);
    }
    // A block's own start still takes its first video packet.
    f.SetSeekTarget(kQzfBlockSize);
    ASSERT_GT(f.ReadAtSeekTarget(m_buf.data()), 0);
    EXPECT_EQ(f.GetPacketOffset() / kQzfBlockSize, 1u);
}
