#include "net/net_message.h"
#include "net/stream_demuxer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tv {
namespace {

using Bytes = std::vector<uint8_t>;

struct RecordingSink : IDemuxSink {
    std::vector<Bytes> video;
    std::vector<SYSTEMTIME> videoTimes;
    std::vector<Bytes> audio;
    std::vector<Bytes> control;

    void OnVideoPacket(const FrameRecord& p) override {
        video.emplace_back(p.data, p.data + p.length);
        SYSTEMTIME t;
        t.wYear = GetLe16(p.metadata);
        t.wMonth = GetLe16(p.metadata + 2);
        t.wDay = GetLe16(p.metadata + 6);
        t.wHour = GetLe16(p.metadata + 8);
        t.wMinute = GetLe16(p.metadata + 10);
        videoTimes.push_back(t);
    }
    void OnAudioPacket(const FrameRecord& p) override {
        audio.emplace_back(p.data, p.data + p.length);
    }
    void OnControlMessage(const uint8_t* m, uint32_t n) override { control.emplace_back(m, m + n); }
};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes Control(uint16_t type, std::initializer_list<uint16_t> params) {
    uint8_t buf[kControlMaxSize];
    const std::vector<uint16_t> p(params);
    const uint32_t n =
        BuildControlMessage(buf, sizeof buf, type, p.data(), static_cast<uint32_t>(p.size()));
    return Bytes(buf, buf + n);
}

const Bytes kV1 = {0x00, 0x00, 0x01, 0xF8, 0x11, 0x22};
const Bytes kV2 = {0x00, 0x00, 0x01, 0xF9, 0x33, 0x44, 0x55};
const Bytes kNextVideo = {0x00, 0x00, 0x01, 0xF8};

TEST(StreamDemuxer, WorkedExampleSplitsVideoAndAudio) {
    RecordingSink sink;
    CStreamDemuxer d(&sink);
    const Bytes s = {0x00, 0x00, 0x01, 0xF8, 0xA1, 0xA2, 0x00, 0x00, 0x01,
                     0xFA, 0xB1, 0xB2, 0xB3, 0xB4, 0x00, 0x00, 0x01, 0xF8};
    d.Feed(s.data(), s.size());
    ASSERT_EQ(sink.audio.size(), 1u);
    EXPECT_EQ(sink.audio[0], (Bytes{0xB3, 0xB4}));
    ASSERT_EQ(sink.video.size(), 1u);
    EXPECT_EQ(sink.video[0], (Bytes{0x00, 0x00, 0x01, 0xF8, 0xA1, 0xA2}));
    // The live stream carries no time: every picture gets the same stamp.
    EXPECT_EQ(sink.videoTimes[0].wYear, 2008);
    EXPECT_EQ(sink.videoTimes[0].wMonth, 1);
    EXPECT_EQ(sink.videoTimes[0].wDay, 1);
    EXPECT_EQ(sink.videoTimes[0].wHour, 10);
    EXPECT_EQ(d.GetState(), CStreamDemuxer::kVideo);
}

TEST(StreamDemuxer, EveryChunkingGivesTheSamePackets) {
    const Bytes stream = Cat({{0x42, 0x00, 0x00},
                              kV1,
                              {0x00, 0x00, 0x01, 0xFA, 0x01, 0x02, 0x10, 0x20, 0x30},
                              Control(kMsgStatusValue, {0x12}),
                              kV2,
                              Control(kMsgDisconnect, {}),
                              kNextVideo});
    RecordingSink whole;
    CStreamDemuxer dw(&whole);
    dw.Feed(stream.data(), stream.size());
    ASSERT_EQ(whole.video.size(), 2u);
    ASSERT_EQ(whole.audio.size(), 1u);
    ASSERT_EQ(whole.control.size(), 2u);

    // Every split point in two, which covers a start code cut after each of its bytes.
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        RecordingSink sink;
        CStreamDemuxer d(&sink);
        d.Feed(stream.data(), cut);
        d.Feed(stream.data() + cut, stream.size() - cut);
        EXPECT_EQ(sink.video, whole.video) << "cut at " << cut;
        EXPECT_EQ(sink.audio, whole.audio) << "cut at " << cut;
        EXPECT_EQ(sink.control, whole.control) << "cut at " << cut;
    }
    // And one byte at a time.
    RecordingSink bytewise;
    CStreamDemuxer db(&bytewise);
    for (uint8_t b : stream) {
        db.Feed(&b, 1);
    }
    EXPECT_EQ(bytewise.video, whole.video);
}

TEST(StreamDemuxer, StatusMessageBetweenPicturesLeavesThemWhole) {
    RecordingSink sink;
    CStreamDemuxer d(&sink);
    const Bytes s = Cat({kV1, Control(kMsgStatusValue, {0x0012}), kV2, kNextVideo});
    d.Feed(s.data(), s.size());
    ASSERT_EQ(sink.control.size(), 1u);
    EXPECT_EQ(GetHex16(sink.control[0].data() + 8), kMsgStatusValue);
    EXPECT_EQ(GetHex16(sink.control[0].data() + 12), 0x12);
    // The message's start code is not left behind in the first picture.
    ASSERT_EQ(sink.video.size(), 2u);
    EXPECT_EQ(sink.video[0], kV1);
    EXPECT_EQ(sink.video[1], kV2);
}

TEST(StreamDemuxer, StatusMessageInsideAPictureIsTakenOut) {
    RecordingSink sink;
    CStreamDemuxer d(&sink);
    const Bytes s = Cat({{0x00, 0x00, 0x01, 0xF8, 0x01, 0x02},
                         Control(kMsgStatusValues, {1, 2, 3, 4, 5}),
                         {0x03, 0x04},
                         kNextVideo});
    d.Feed(s.data(), s.size());
    ASSERT_EQ(sink.video.size(), 1u);
    EXPECT_EQ(sink.video[0], (Bytes{0x00, 0x00, 0x01, 0xF8, 0x01, 0x02, 0x03, 0x04}));
    ASSERT_EQ(sink.control.size(), 1u);
    EXPECT_EQ(sink.control[0].size(), 32u);
}

TEST(StreamDemuxer, ControlMessageAfterAudioMakesNoStartCodePacket) {
    RecordingSink sink;
    CStreamDemuxer d(&sink);
    const Bytes s = Cat({{0x00, 0x00, 0x01, 0xFA, 0x00, 0x04, 0x80, 0x81, 0x82, 0x83},
                         Control(kMsgStatusValue, {7}),
                         kV1,
                         kNextVideo});
    d.Feed(s.data(), s.size());
    ASSERT_EQ(sink.audio.size(), 1u);
    EXPECT_EQ(sink.audio[0], (Bytes{0x80, 0x81, 0x82, 0x83}));
    EXPECT_EQ(sink.control.size(), 1u);
    ASSERT_EQ(sink.video.size(), 1u);
    EXPECT_EQ(sink.video[0], kV1);
}

TEST(StreamDemuxer, ImpossibleControlLengthsAreDiscarded) {
    for (const char* len : {"000B", "0401", "FFFF", "00G0"}) {
        RecordingSink sink;
        CStreamDemuxer d(&sink);
        const std::string text = std::string("\0\0\1\xFE", 4) + len + "0007";
        const Bytes bad(text.begin(), text.end());
        // A stream of bytes after it that would overflow a 1,024-byte assembly.
        Bytes filler(3000, 0x41);
        const Bytes s = Cat({kV1, bad, filler, Control(kMsgDisconnect, {}), kV2, kNextVideo});
        d.Feed(s.data(), s.size());
        ASSERT_EQ(sink.control.size(), 1u) << len;
        EXPECT_EQ(GetHex16(sink.control[0].data() + 8), kMsgDisconnect);
        ASSERT_EQ(sink.video.size(), 2u);
        // The broken message is dropped with its length field; what follows
        // is picture again, and nothing was written past the assembly.
        EXPECT_EQ(sink.video[0].size(), kV1.size() + 4 + filler.size()) << len;
        EXPECT_EQ(sink.video[1], kV2);
    }
}

TEST(StreamDemuxer, StartCodeInsideControlMessageEndsIt) {
    RecordingSink sink;
    CStreamDemuxer d(&sink);
    const Bytes s = Cat({{0x00, 0x00, 0x01, 0xFE, '0', '0', '1', '0', '0', '0'}, kV1, kNextVideo});
    d.Feed(s.data(), s.size());
    EXPECT_TRUE(sink.control.empty());
    ASSERT_EQ(sink.video.size(), 1u);
    EXPECT_EQ(sink.video[0], kV1);
}

TEST(StreamDemuxer, OversizePacketsAreCutAtTheirCapacity) {
    RecordingSink sink;
    CStreamDemuxer d(&sink);
    Bytes big = {0x00, 0x00, 0x01, 0xF8};
    big.resize(200000, 0x55);
    Bytes audio = {0x00, 0x00, 0x01, 0xFA, 0x00, 0x00};
    audio.resize(6 + 5000, 0x66);
    const Bytes s = Cat({big, audio, kV1, kNextVideo});
    d.Feed(s.data(), s.size());
    ASSERT_EQ(sink.video.size(), 2u);
    EXPECT_EQ(sink.video[0].size(), CStreamDemuxer::kVideoCapacity);
    EXPECT_EQ(sink.video[0].back(), 0x55); // nothing but picture bytes were cut
    EXPECT_EQ(sink.video[1], kV1);
    ASSERT_EQ(sink.audio.size(), 1u);
    EXPECT_EQ(sink.audio[0].size(), CStreamDemuxer::kAudioCapacity);
    EXPECT_EQ(sink.audio[0].back(), 0x66);
}

TEST(StreamDemuxer, UnknownStartCodesStayInThePacketAndResetStartsAfresh) {
    RecordingSink sink;
    CStreamDemuxer d(&sink);
    const Bytes withSlice = {0x00, 0x00, 0x01, 0xF8, 0x09, 0x00, 0x00, 0x01,
                             0x08, 0x77, 0x00, 0x00, 0x01, 0xF3, 0x78};
    const Bytes s = Cat({withSlice, kNextVideo});
    d.Feed(s.data(), s.size());
    ASSERT_EQ(sink.video.size(), 1u);
    EXPECT_EQ(sink.video[0], withSlice);

    // Half a picture, then a new connection: the half is gone, not glued on.
    const Bytes half = {0x00, 0x00, 0x01, 0xF8, 0x01, 0x02, 0x03, 0x00, 0x00};
    d.Feed(half.data(), half.size());
    d.Reset();
    EXPECT_EQ(d.GetState(), CStreamDemuxer::kScanning);
    EXPECT_EQ(d.GetRegister(), 0xFFFFFFFFu);
    const Bytes s2 = Cat({{0x01, 0xF9, 0x99}, kV1, kNextVideo});
    d.Feed(s2.data(), s2.size());
    ASSERT_EQ(sink.video.size(), 2u);
    EXPECT_EQ(sink.video[1], kV1);
}

TEST(StreamDemuxer, RandomStreamsInRandomChunks) {
    // Packets whose bodies never hold a start code, with status messages
    // in between and inside pictures, fed in random chunks.
    std::mt19937 rng(7);
    Bytes stream;
    std::vector<Bytes> wantVideo;
    std::vector<Bytes> wantAudio;
    size_t wantControl = 0;
    for (int i = 0; i < 300; ++i) {
        const int kind = static_cast<int>(rng() % 3);
        if (kind == 0) {
            Bytes v = {0x00, 0x00, 0x01, static_cast<uint8_t>(0xF8 + (rng() & 1))};
            const size_t n = 1 + rng() % 3000;
            for (size_t k = 0; k < n; ++k) {
                v.push_back(static_cast<uint8_t>(1 + rng() % 255));
            }
            wantVideo.push_back(v);
            if (rng() % 4 == 0) {
                const size_t at = 4 + rng() % (v.size() - 3);
                Bytes withMsg(v.begin(), v.begin() + static_cast<long>(at));
                const Bytes m = Control(kMsgStatusValue, {static_cast<uint16_t>(i)});
                withMsg.insert(withMsg.end(), m.begin(), m.end());
                withMsg.insert(withMsg.end(), v.begin() + static_cast<long>(at), v.end());
                v = withMsg;
                ++wantControl;
            }
            stream.insert(stream.end(), v.begin(), v.end());
        } else if (kind == 1) {
            Bytes a = {0x00, 0x00, 0x01, 0xFA, 0x01, 0x40};
            Bytes samples;
            const size_t n = 1 + rng() % 600;
            for (size_t k = 0; k < n; ++k) {
                samples.push_back(static_cast<uint8_t>(1 + rng() % 255));
            }
            wantAudio.push_back(samples);
            a.insert(a.end(), samples.begin(), samples.end());
            stream.insert(stream.end(), a.begin(), a.end());
        } else {
            const Bytes m = Control(kMsgStatusValues, {1, 2, 3, 4, static_cast<uint16_t>(i)});
            stream.insert(stream.end(), m.begin(), m.end());
            ++wantControl;
        }
    }
    stream.insert(stream.end(), kNextVideo.begin(), kNextVideo.end());

    RecordingSink sink;
    CStreamDemuxer d(&sink);
    size_t pos = 0;
    while (pos < stream.size()) {
        const size_t n = std::min<size_t>(stream.size() - pos, 1 + rng() % 5000);
        d.Feed(stream.data() + pos, n);
        pos += n;
    }
    EXPECT_EQ(sink.video, wantVideo);
    EXPECT_EQ(sink.audio, wantAudio);
    EXPECT_EQ(sink.control.size(), wantControl);
}

TEST(StreamDemuxer, BulkCopyAgreesWithTheByteByByteRegister) {
    // Start codes of every kind, runs of zeros and 01 bytes that almost make
    // one, at every offset against the receive boundaries.
    std::mt19937 rng(11);
    const uint8_t alphabet[] = {0x00, 0x00, 0x00, 0x01, 0x01, 0xF8, 0xF9, 0xFA,
                                0xFE, 0xF3, 0x30, '0',  '1',  'C',  0x44, 0xFF};
    for (int round = 0; round < 200; ++round) {
        Bytes stream(1 + rng() % 3000);
        for (auto& b : stream) {
            b = alphabet[rng() % sizeof alphabet];
        }
        RecordingSink fast;
        RecordingSink slow;
        CStreamDemuxer df(&fast);
        CStreamDemuxer ds(&slow);
        size_t pos = 0;
        while (pos < stream.size()) {
            const size_t n = std::min<size_t>(stream.size() - pos, 1 + rng() % 40);
            df.Feed(stream.data() + pos, n);
            pos += n;
        }
        ds.FeedBytewise(stream.data(), stream.size());
        ASSERT_EQ(fast.video, slow.video) << "round " << round;
        ASSERT_EQ(fast.audio, slow.audio) << "round " << round;
        ASSERT_EQ(fast.control, slow.control) << "round " << round;
        EXPECT_EQ(df.GetRegister(), ds.GetRegister());
        EXPECT_EQ(df.GetState(), ds.GetState());
    }
}

} // namespace
} // namespace tv
