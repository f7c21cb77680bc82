#include "test_packets.h"
#include "video/video_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace tv {
namespace {

using testing::AppendSlice;
using testing::PacketHeader;

// A packet of n slices, each holding just its row number and a padding byte,
// and a last byte so that even n = 0 is longer than a bare header.
std::vector<uint8_t> SlicePacket(std::vector<uint8_t> head, int n) {
    for (int i = 0; i < n; ++i)
        AppendSlice(head, i % 17, "11111111");
    head.push_back(0xFF);
    return head;
}

TEST(VideoHeader, ShortPacketStillReadsFieldsThenRefuses) {
    CVideoDecoder d;
    ASSERT_EQ(d.SetMode(VF_QZB2), 1);
    const uint8_t p[6] = {0x00, 0x00, 0x01, 0xF9, 0x13, 0x00};
    EXPECT_EQ(d.ParseHeader(p, 6), 0);
    EXPECT_EQ(d.GetChannel(), 3);
    EXPECT_EQ(d.GetQuantScale(), 1);
    EXPECT_EQ(d.IsKeyPicture(), 1);
    EXPECT_EQ(d.GetWidth(), 320);
    EXPECT_EQ(d.GetHeight(), 112);
    EXPECT_EQ(d.ParseHeader(p, 5), 0);
    EXPECT_EQ(d.ParseHeader(nullptr, 100), 0);
}

TEST(VideoHeader, FieldLayoutsByFormatCode) {
    CVideoDecoder d;
    auto p = SlicePacket({0x00, 0x00, 0x01, 0xF8, 0x8E}, 14);
    d.SetMode(VF_QZF);
    EXPECT_GT(d.ParseHeader(p.data(), int(p.size())), 0);
    EXPECT_EQ(d.GetChannel(), 0); // 6 is taken as 0
    EXPECT_EQ(d.GetQuantScale(), 1);
    EXPECT_EQ(d.IsKeyPicture(), 1);
    p[4] = 0x0B; // channel 3, scale 1, update
    d.ParseHeader(p.data(), int(p.size()));
    EXPECT_EQ(d.GetChannel(), 3);
    EXPECT_EQ(d.IsKeyPicture(), 0);

    auto q = SlicePacket({0x00, 0x00, 0x01, 0xF8, 0x8E, 0x12, 0x34}, 17);
    d.SetMode(VF_QZD);
    EXPECT_GT(d.ParseHeader(q.data(), int(q.size())), 0);
    EXPECT_EQ(d.GetChannel(), 0);
    EXPECT_EQ(d.GetQuantScale(), 1);
    EXPECT_EQ(d.IsKeyPicture(), 1);
    EXPECT_EQ(d.GetFormat2Value(), 0x1234);
    EXPECT_EQ(d.GetWidth(), 640);
    EXPECT_EQ(d.GetHeight(), 272);

    for (int mode : {VF_QZE, VF_QZB, VF_QZB2, VF_QZA}) {
        d.SetMode(mode);
        auto r = SlicePacket(PacketHeader(false, 9, 14), 14);
        EXPECT_GT(d.ParseHeader(r.data(), int(r.size())), 0) << mode;
        EXPECT_EQ(d.GetChannel(), 9);
        EXPECT_EQ(d.GetQuantScale(), 14);
        EXPECT_EQ(d.IsKeyPicture(), 0);
        EXPECT_EQ(d.IsDualPicture(), 0);
        EXPECT_EQ(d.GetWidth(), 640);
        EXPECT_EQ(d.GetHeight(), 224);
    }
}

TEST(VideoHeader, DualPictureFieldsOfFormat5) {
    CVideoDecoder d;
    d.SetMode(VF_QZB3);
    auto p = SlicePacket({0x00, 0x00, 0x01, 0xF9, 0x25, 0x84}, 14);
    EXPECT_GT(d.ParseHeader(p.data(), int(p.size())), 0);
    EXPECT_EQ(d.IsDualPicture(), 1);
    EXPECT_EQ(d.GetChannel(), 5);
    EXPECT_EQ(d.GetLeftChannel(), 5);
    EXPECT_EQ(d.GetRightChannel(), 0);
    EXPECT_EQ(d.IsLeftAbsent(), 1);
    EXPECT_EQ(d.IsRightAbsent(), 0);
    p[5] = 0x80 | (7 << 3) | 0x02 | 0x01;
    d.ParseHeader(p.data(), int(p.size()));
    EXPECT_EQ(d.GetRightChannel(), 7);
    EXPECT_EQ(d.IsLeftAbsent(), 0);
    EXPECT_EQ(d.IsRightAbsent(), 1);
    // Another code clears the dual flag.
    d.SetMode(VF_QZB2);
    d.ParseHeader(p.data(), int(p.size()));
    EXPECT_EQ(d.IsDualPicture(), 0);
}

TEST(VideoHeader, SliceCountDecidesSizeAndAcceptance) {
    CVideoDecoder d;
    d.SetMode(VF_QZB2);
    const struct {
        int n, w, h;
        bool accepted;
    } cases[] = {{0, 320, 112, false},  {7, 320, 112, false},  {8, 320, 128, false},
                 {10, 640, 224, false}, {13, 640, 224, false}, {14, 640, 224, true},
                 {15, 640, 272, false}, {16, 640, 272, false}, {17, 640, 272, true}};
    for (const auto& c : cases) {
        auto p = SlicePacket(PacketHeader(true, 1, 2), c.n);
        const int r = d.ParseHeader(p.data(), int(p.size()));
        EXPECT_EQ(r != 0, c.accepted) << c.n;
        EXPECT_EQ(d.GetSliceCount(), unsigned(c.n));
        EXPECT_EQ(d.GetWidth(), c.w) << c.n;
        EXPECT_EQ(d.GetHeight(), c.h) << c.n;
        if (c.accepted) {
            EXPECT_EQ(r, int(p.size()));
        }
    }
    // 18 or more keep the size of the parse before, and more than the table holds are refused.
    for (int n : {18, 20, 21, 40}) {
        auto p = SlicePacket(PacketHeader(true, 1, 2), n);
        EXPECT_EQ(d.ParseHeader(p.data(), int(p.size())), 0) << n;
        EXPECT_EQ(d.GetHeight(), 272);
    }
}

TEST(VideoHeader, ScanStopsAtTheNextPacketsStartCode) {
    CVideoDecoder d;
    d.SetMode(VF_QZB2);
    auto p = SlicePacket(PacketHeader(true, 1, 2), 14);
    const int end = int(p.size());
    p.insert(p.end(), {0x00, 0x00, 0x01, 0xFA, 0x00, 0x00});
    // Slice start codes behind it are not seen.
    AppendSlice(p, 0, "1111");
    AppendSlice(p, 1, "1111");
    AppendSlice(p, 2, "1111");
    EXPECT_EQ(d.ParseHeader(p.data(), int(p.size())), end + 3);
    EXPECT_EQ(d.GetSliceCount(), 14u);
    EXPECT_EQ(d.GetSliceOffset(0), 5u);
}

TEST(VideoHeader, OnlyStartCodesFromOffset5Count) {
    CVideoDecoder d;
    d.SetMode(VF_QZB2);
    // Bytes 3-5 and 4-6 look like 00 00 01 but overlap the header.
    std::vector<uint8_t> p = {0x00, 0x00, 0x01, 0xF9, 0x00, 0x00, 0x01, 0x20};
    for (int i = 0; i < 14; ++i)
        AppendSlice(p, i, "1");
    EXPECT_GT(d.ParseHeader(p.data(), int(p.size())), 0);
    EXPECT_EQ(d.GetSliceCount(), 14u);
    EXPECT_EQ(d.GetSliceOffset(0), 8u);

    // A picture start code beginning at offset 5 ends the scan at once.
    std::vector<uint8_t> q = {0x00, 0x00, 0x01, 0xF9, 0x11, 0x00, 0x00, 0x01, 0xF8};
    for (int i = 0; i < 14; ++i)
        AppendSlice(q, i, "1");
    EXPECT_EQ(d.ParseHeader(q.data(), int(q.size())), 0);
    EXPECT_EQ(d.GetSliceCount(), 0u);
}

TEST(VideoHeader, RefusalsAndModeChanges) {
    CVideoDecoder d;
    d.SetMode(VF_QZB2);
    auto p = SlicePacket(PacketHeader(true, 1, 15), 14);
    EXPECT_EQ(d.ParseHeader(p.data(), int(p.size())), 0); // scale 15
    p = SlicePacket({0x00, 0x00, 0x01, 0xFA, 0x11}, 14);
    EXPECT_EQ(d.ParseHeader(p.data(), int(p.size())), 0); // audio start code
    p = SlicePacket({0x00, 0x00, 0x02, 0xF9, 0x11}, 14);
    EXPECT_EQ(d.ParseHeader(p.data(), int(p.size())), 0);

    p = SlicePacket(PacketHeader(true, 1, 2), 14);
    EXPECT_GT(d.ParseHeader(p.data(), int(p.size())), 0);
    EXPECT_EQ(d.SetMode(3), 1);
    EXPECT_EQ(d.GetWidth(), 0);
    EXPECT_EQ(d.GetHeight(), 0);
    EXPECT_EQ(d.GetQuantScale(), 0);
    EXPECT_EQ(d.SetMode(7), 0);
    EXPECT_EQ(d.SetMode(-1), 0);
    EXPECT_EQ(d.GetMode(), 3);

    // A 6-byte format-2 packet has no byte 6 to read.
    d.SetMode(VF_QZD);
    const std::vector<uint8_t> shortPacket = {0x00, 0x00, 0x01, 0xF8, 0x88, 0x7F};
    EXPECT_EQ(d.ParseHeader(shortPacket.data(), int(shortPacket.size())), 0);
    EXPECT_EQ(d.GetFormat2Value(), 0x7F00);
}

// The scan jumps between 01 bytes; it must find what shifting every byte
// through the 32-bit state finds.
TEST(VideoHeader, ScanMatchesBytewiseStateMachine) {
    std::mt19937 rng(3);
    // Pieces that make, break and overlap start codes.
    const std::vector<std::vector<uint8_t>> pieces = {{0x00, 0x00, 0x01, 0x20},
                                                      {0x00, 0x00, 0x01, 0x00},
                                                      {0x00, 0x00, 0x01},
                                                      {0x00},
                                                      {0x01},
                                                      {0x20},
                                                      {0xF8},
                                                      {0x00, 0x00, 0x01, 0x20},
                                                      {0x00, 0x00, 0x01, 0x8F}};
    CVideoDecoder d;
    d.SetMode(VF_QZB2);
    int acceptedSeen = 0;
    for (int n = 0; n < 40000; ++n) {
        std::vector<uint8_t> p = {0x00, 0x00, 0x01, 0xF9, 0x12};
        const int len = 1 + int(rng() % 40);
        for (int i = 0; i < len; ++i) {
            const auto& piece = pieces[rng() % pieces.size()];
            p.insert(p.end(), piece.begin(), piece.end());
        }
        if (rng() % 8 == 0) // sometimes the next packet's start code
            p.insert(p.end(),
                     {0x00, 0x00, 0x01, uint8_t(0xF8 + rng() % 6), 0x00, 0x00, 0x01, 0x20});
        uint32_t state = 0xFFFFFFFFu;
        unsigned count = 0;
        std::vector<unsigned> offsets;
        int stop = int(p.size());
        for (int i = 5; i < int(p.size()); ++i) {
            state = (state << 8) | p[i];
            if (state >= 0x1F8 && state <= 0x1FD) {
                stop = i;
                break;
            }
            if ((state >> 8) == 1) {
                offsets.push_back(unsigned(i - 3));
                ++count;
            }
        }
        const int r = d.ParseHeader(p.data(), int(p.size()));
        ASSERT_EQ(d.GetSliceCount(), count) << n;
        for (unsigned i = 0; i < std::min(count, 20u); ++i)
            ASSERT_EQ(d.GetSliceOffset(int(i)), offsets[i]) << n;
        if (count == 14 || count == 17) {
            ASSERT_EQ(r, stop) << n;
            ++acceptedSeen;
        } else {
            ASSERT_EQ(r, 0);
        }
    }
    EXPECT_GT(acceptedSeen, 0);
}

TEST(VideoHeader, FormatNames) {
    EXPECT_STREQ(VideoFormatName(4), "QZ_QZB2");
    EXPECT_EQ(VideoFormatFromName("QZ_QZA"), 6);
    EXPECT_EQ(VideoFormatFromName("QZ_QZF"), 0);
    EXPECT_EQ(VideoFormatFromName("qz_qzb2"), -1);
    EXPECT_EQ(VideoFormatName(7), nullptr);
}

} // namespace
} // namespace tv
