#include "synth/test_pattern.h"
#include "synth/video_encoder.h"
#include "test_packets.h"
#include "video/parallel_decoder.h"
#include "video/video_decoder.h"
#include "video/video_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace tv {
namespace {

using testing::AppendSlice;
using testing::PacketHeader;
using testing::Repeat;

constexpr int W = 640;
constexpr int H = 224;
constexpr size_t kPicture = size_t(W) * H * 3 / 2;
const std::string kGrey = "10000000 10"; // DC 128, end of block

std::vector<uint8_t> KeyPicture(int scale, const std::string& block, int rows = 14) {
    auto p = PacketHeader(true, 2, scale);
    for (int r = 0; r < rows; ++r)
        AppendSlice(p, r, Repeat(block, 40 * 6));
    return p;
}

struct alignas(16) Coefs {
    int16_t v[64] = {};
};

// What one block must look like after the generic transform.
Coefs Expected(std::initializer_list<std::pair<int, int>> coefs) {
    Coefs c;
    for (auto [pos, value] : coefs)
        c.v[pos] = int16_t(value);
    IdctGeneric(c.v);
    return c;
}

// The 8x8 block b of macroblock (r, c) in a 640 x 224 picture.
bool BlockEquals(const std::vector<uint8_t>& pic, int r, int c, int b, const Coefs& e) {
    const uint8_t* base;
    int pitch;
    if (b < 4) {
        base = pic.data() + size_t(16 * r + 8 * (b >> 1)) * W + 16 * c + 8 * (b & 1);
        pitch = W;
    } else {
        base = pic.data() + size_t(W) * H * (b == 4 ? 4 : 5) / 4 + size_t(8 * r) * (W / 2) + 8 * c;
        pitch = W / 2;
    }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            if (base[y * pitch + x] != e.v[8 * y + x])
                return false;
    return true;
}

bool BlockIsFill(const std::vector<uint8_t>& pic, int r, int c, int b, uint8_t fill) {
    Coefs e;
    std::fill(std::begin(e.v), std::end(e.v), int16_t(fill));
    return BlockEquals(pic, r, c, b, e);
}

class VideoDecode : public ::testing::Test {
protected:
    void SetUp() override {
        d.SetMode(VF_QZB2);
        d.ForceVariant(kVariantGeneric);
        pic.assign(kPicture + 64, 0xEE); // 64 guard bytes
    }
    int Run(const std::vector<uint8_t>& p) {
        if (d.ParseHeader(p.data(), int(p.size())) == 0)
            return -1;
        return d.Decode(p.data(), int(p.size()), pic.data());
    }
    bool GuardIntact() const {
        return std::all_of(pic.begin() + kPicture, pic.end(), [](uint8_t v) { return v == 0xEE; });
    }
    CVideoDecoder d;
    std::vector<uint8_t> pic;
};

TEST_F(VideoDecode, GreyKeyPictureInEveryVariant) {
    for (int v = 0; v < kVariantCount; ++v) {
        d.ForceVariant(v);
        std::fill(pic.begin(), pic.begin() + kPicture, 0);
        ASSERT_EQ(Run(KeyPicture(1, kGrey)), 1) << v;
        EXPECT_TRUE(std::all_of(pic.begin(), pic.begin() + kPicture, [](uint8_t s) {
            return s == 128;
        })) << IdctVariantName(v);
        EXPECT_TRUE(GuardIntact());
    }
}

TEST_F(VideoDecode, DequantisationFollowsScaleChanges) {
    // DC 128; run 0 level 2 positive; end of block.
    const std::string block = "10000000 0100 0 10";
    ASSERT_EQ(Run(KeyPicture(1, block)), 1);
    EXPECT_TRUE(BlockEquals(pic, 0, 0, 0, Expected({{0, 1024}, {1, 8}})));
    EXPECT_TRUE(BlockEquals(pic, 13, 39, 5, Expected({{0, 1024}, {1, 8}})));
    ASSERT_EQ(Run(KeyPicture(3, block)), 1);
    EXPECT_TRUE(BlockEquals(pic, 5, 7, 2, Expected({{0, 1024}, {1, 24}})));
    ASSERT_EQ(Run(KeyPicture(1, block)), 1);
    EXPECT_TRUE(BlockEquals(pic, 5, 7, 2, Expected({{0, 1024}, {1, 8}})));
}

TEST_F(VideoDecode, EscapeLevelForms) {
    // Level byte 0x80 then 0x00: level 0, the block stays flat.
    ASSERT_EQ(Run(KeyPicture(1, "10000000 000001 000000 10000000 00000000 10")), 1);
    EXPECT_TRUE(BlockIsFill(pic, 3, 3, 0, 128));
    // Level byte 0x00 then 0x05: +5, as the run 0 level 5 code gives it.
    ASSERT_EQ(Run(KeyPicture(2, "10000000 000001 000000 00000000 00000101 10")), 1);
    const Coefs five = Expected({{0, 1024}, {1, (5 * 2 * 16) >> 2}});
    EXPECT_TRUE(BlockEquals(pic, 3, 3, 0, five));
    std::fill(pic.begin(), pic.end(), 0);
    ASSERT_EQ(Run(KeyPicture(2, "10000000 00100110 0 10")), 1);
    EXPECT_TRUE(BlockEquals(pic, 3, 3, 0, five));
    // 0x81..0xFF: -(256 - l); 0x80 then m: -(256 - m).
    ASSERT_EQ(Run(KeyPicture(2, "10000000 000001 000001 11111101 10")), 1);
    EXPECT_TRUE(BlockEquals(pic, 1, 1, 1, Expected({{0, 1024}, {8, -((3 * 2 * 16) >> 2)}})));
    ASSERT_EQ(Run(KeyPicture(2, "10000000 000001 000000 10000000 11111110 10")), 1);
    EXPECT_TRUE(BlockEquals(pic, 1, 1, 1, Expected({{0, 1024}, {1, -((2 * 2 * 16) >> 2)}})));
}

TEST_F(VideoDecode, CoefficientsClampTo2047AndMinus2048) {
    // Run 62 puts the coefficient at scan position 63 (matrix 83, scale 14).
    ASSERT_EQ(Run(KeyPicture(14, "10000000 000001 111110 00000000 11111111 10")), 1);
    EXPECT_TRUE(BlockEquals(pic, 0, 0, 0, Expected({{0, 1024}, {63, 2047}})));
    ASSERT_EQ(Run(KeyPicture(14, "10000000 000001 111110 10000000 00000001 10")), 1);
    EXPECT_TRUE(BlockEquals(pic, 0, 0, 0, Expected({{0, 1024}, {63, -2048}})));
}

TEST_F(VideoDecode, ScanPastPosition63FailsAfterEarlierBlocks) {
    auto p = PacketHeader(true, 0, 1);
    AppendSlice(p, 0, Repeat(kGrey, 240));
    // Row 1: two good macroblocks, then a run to position 64.
    AppendSlice(p, 1, Repeat(kGrey, 12) + "10000000 000001 111111 00000001 10");
    for (int r = 2; r < 14; ++r)
        AppendSlice(p, r, Repeat(kGrey, 240));
    EXPECT_EQ(Run(p), 0);
    EXPECT_TRUE(BlockIsFill(pic, 0, 39, 3, 128));
    EXPECT_TRUE(BlockIsFill(pic, 1, 1, 5, 128));
    EXPECT_TRUE(BlockIsFill(pic, 1, 2, 0, 0xEE));
    EXPECT_TRUE(BlockIsFill(pic, 2, 0, 0, 0xEE));

    // After 63 a missing end of block is the same failure.
    auto q = PacketHeader(true, 0, 1);
    for (int r = 0; r < 14; ++r)
        AppendSlice(q, r, "10000000 000001 111110 00000001 11 0");
    EXPECT_EQ(Run(q), 0);
}

TEST_F(VideoDecode, TwelveLeadingZerosAndBadRowsFail) {
    EXPECT_EQ(Run(KeyPicture(1, "10000000 000000000000 1111")), 0);
    auto p = PacketHeader(true, 0, 1);
    for (int r = 0; r < 14; ++r)
        AppendSlice(p, r == 9 ? 14 : r, Repeat(kGrey, 240));
    EXPECT_EQ(Run(p), 0);
    EXPECT_TRUE(BlockIsFill(pic, 8, 0, 0, 128));
    EXPECT_TRUE(GuardIntact());
}

TEST_F(VideoDecode, UpdatePictureCodesOnlyWhatItSays) {
    ASSERT_EQ(Run(KeyPicture(1, kGrey)), 1);
    auto p = PacketHeader(false, 2, 1);
    const std::string dark = "01000000 10"; // DC 64
    // Row 0: skip two macroblocks, code column 2 with only its top-left luma block.
    AppendSlice(p, 0, "000011 0001" + Repeat(dark, 3) + "000000");
    // Row 1: column 0 fully coded, then the row ends at once.
    AppendSlice(p, 1, "000001 1111" + Repeat(dark, 6) + "000000");
    // Row 2: the last column, coded by one jump; the slice ends by itself.
    AppendSlice(p, 2, "101000 1000" + Repeat(dark, 3));
    for (int r = 3; r < 14; ++r)
        AppendSlice(p, r, "000000");
    ASSERT_EQ(Run(p), 1);
    EXPECT_TRUE(BlockIsFill(pic, 0, 1, 0, 128));
    EXPECT_TRUE(BlockIsFill(pic, 0, 2, 0, 64));
    EXPECT_TRUE(BlockIsFill(pic, 0, 2, 1, 128));
    EXPECT_TRUE(BlockIsFill(pic, 0, 2, 3, 128));
    EXPECT_TRUE(BlockIsFill(pic, 0, 2, 4, 64));
    EXPECT_TRUE(BlockIsFill(pic, 0, 2, 5, 64));
    EXPECT_TRUE(BlockIsFill(pic, 0, 3, 4, 128));
    for (int b = 0; b < 6; ++b)
        EXPECT_TRUE(BlockIsFill(pic, 1, 0, b, 64)) << b;
    EXPECT_TRUE(BlockIsFill(pic, 1, 1, 0, 128));
    EXPECT_TRUE(BlockIsFill(pic, 2, 39, 3, 64));
    EXPECT_TRUE(BlockIsFill(pic, 2, 39, 0, 128));
    EXPECT_TRUE(BlockIsFill(pic, 2, 38, 5, 128));
    EXPECT_TRUE(BlockIsFill(pic, 5, 5, 5, 128));
}

TEST_F(VideoDecode, UpdateKeepsAnotherStreamsPicture) {
    std::fill(pic.begin(), pic.begin() + kPicture, 77);
    auto p = PacketHeader(false, 2, 1);
    for (int r = 0; r < 14; ++r)
        AppendSlice(p, r, r == 4 ? "000001 0000" + Repeat(kGrey, 2) + "000000" : "000000");
    ASSERT_EQ(Run(p), 1);
    EXPECT_TRUE(BlockIsFill(pic, 4, 0, 4, 128));
    EXPECT_TRUE(BlockIsFill(pic, 4, 0, 0, 77));
    EXPECT_EQ(std::count(pic.begin(), pic.begin() + kPicture, 77), long(kPicture) - 128);
}

TEST_F(VideoDecode, AddressIncrementPastTheRowFailsWithoutWriting) {
    for (const char* inc : {"111111", "101001"}) { // to column 62, to column 40
        std::fill(pic.begin(), pic.end(), 0xEE);
        auto p = PacketHeader(false, 2, 1);
        for (int r = 0; r < 14; ++r)
            AppendSlice(p, r, std::string(inc) + "1111" + Repeat(kGrey, 6) + "000000");
        EXPECT_EQ(Run(p), 0) << inc;
        EXPECT_TRUE(std::all_of(pic.begin(), pic.end(), [](uint8_t v) { return v == 0xEE; }));
    }
}

TEST_F(VideoDecode, SlicesInAnyOrderAndRowsTwice) {
    auto p = PacketHeader(true, 0, 1);
    for (int r = 13; r >= 1; --r)
        AppendSlice(p, r, Repeat(kGrey, 240));
    AppendSlice(p, 13, Repeat("00100000 10", 240)); // row 13 again, DC 32
    ASSERT_EQ(Run(p), 1);
    EXPECT_TRUE(BlockIsFill(pic, 1, 0, 0, 128));
    EXPECT_TRUE(BlockIsFill(pic, 13, 20, 3, 32));
    EXPECT_TRUE(BlockIsFill(pic, 0, 0, 0, 0xEE)); // row 0 never came
}

TEST_F(VideoDecode, ReaderStaysInsideAnExactSizePacket) {
    const auto full = KeyPicture(1, kGrey);
    // A heap block of exactly the packet's size: any read past it is caught
    // by the address sanitizer build.
    {
        std::vector<uint8_t> exact(full.begin(), full.end());
        exact.shrink_to_fit();
        ASSERT_EQ(Run(exact), 1);
    }
    // Cut inside the last slice: the missing bits read as zeros and fail.
    std::vector<uint8_t> cut(full.begin(), full.end() - 40);
    cut.shrink_to_fit();
    EXPECT_EQ(Run(cut), 0);
    EXPECT_TRUE(BlockIsFill(pic, 12, 39, 5, 128));
}

TEST_F(VideoDecode, PreconditionsRefuseWithoutWriting) {
    const auto p = KeyPicture(1, kGrey);
    // After SetMode the scale and size are 0 until a parse.
    EXPECT_EQ(d.Decode(p.data(), int(p.size()), pic.data()), 0);
    ASSERT_GT(d.ParseHeader(p.data(), int(p.size())), 0);
    EXPECT_EQ(d.Decode(nullptr, int(p.size()), pic.data()), 0);
    EXPECT_EQ(d.Decode(p.data(), 4, pic.data()), 0);
    EXPECT_EQ(d.Decode(p.data(), int(p.size()), pic.data(), kPicture - 1), 0);
    EXPECT_TRUE(std::all_of(pic.begin(), pic.end(), [](uint8_t v) { return v == 0xEE; }));
    EXPECT_EQ(d.Decode(p.data(), int(p.size()), pic.data(), kPicture), 1);
    // Scale 0 passes the parse but is never decoded.
    const auto zero = KeyPicture(0, kGrey);
    EXPECT_GT(d.ParseHeader(zero.data(), int(zero.size())), 0);
    EXPECT_EQ(d.Decode(zero.data(), int(zero.size()), pic.data()), 0);
}

// Random blocks of every kind of code (short codes alone and in runs, long
// codes, escapes, DC only), decoded and compared block by block with the
// reference dequantisation and each variant's own transform and store. Scale
// 15 is reached only by decoding a packet the parse refused, after a packet of
// the same slices; it needs the clamp that lower scales do without.
TEST(VideoCoefficients, RandomBlocksMatchTheReferenceInEveryVariant) {
    std::mt19937 rng(2026);
    for (int scale : {1, 6, 14, 15}) {
        auto p = PacketHeader(true, 0, scale);
        std::vector<Coefs> ref;
        for (int r = 0; r < 14; ++r) {
            p.insert(p.end(), {0x00, 0x00, 0x01});
            synth::CBitWriter bw(p);
            bw.Put(uint32_t(r), 5);
            for (int b = 0; b < 240; ++b) {
                Coefs c;
                const int dc = int(rng() % 256);
                bw.Put(uint32_t(dc), 8);
                c.v[0] = int16_t(8 * dc);
                const int count = rng() % 3 == 0 ? 0 : int(rng() % 40);
                int k = 0;
                for (int n = 0; n < count; ++n) {
                    int run, level;
                    const unsigned pick = rng() % 100;
                    if (pick < 4) {
                        run = int(rng() % 8);
                        level = int(rng() % 255) + 1;
                        if (rng() % 2)
                            level = -level;
                        if (k + run + 1 > 63)
                            break;
                        bw.Put(kEscapeBits, kEscapeLength);
                        bw.Put(uint32_t(run), 6);
                        if (level >= 128)
                            bw.Put(uint32_t(level), 16);
                        else if (level <= -128)
                            bw.Put(0x8000u | uint32_t(256 + level), 16);
                        else
                            bw.Put(uint32_t(level & 0xFF), 8);
                    } else {
                        const CoeffCode& code =
                            kCoeffCodes[pick < 80 ? rng() % 12 : rng() % kCoeffCodeCount];
                        run = code.run;
                        if (k + run + 1 > 63)
                            break;
                        const bool negative = rng() % 2;
                        level = negative ? -code.level : code.level;
                        bw.Put(code.bits, code.length);
                        bw.Put(negative ? 1 : 0, 1);
                    }
                    k += run + 1;
                    const int pos = kZigzag[k];
                    const int v = (std::abs(level) * scale * kIntraQuantMatrix[pos]) >> 2;
                    c.v[pos] = int16_t(level < 0 ? -std::min(v, 2048) : std::min(v, 2047));
                }
                bw.Put(kEobBits, kEobLength);
                ref.push_back(c);
            }
            bw.AlignWithOnes();
        }
        CVideoDecoder d;
        d.SetMode(VF_QZB2);
        for (int v = 0; v < kVariantCount; ++v) {
            d.ForceVariant(v);
            DspContext ctx;
            InitDspContext(ctx, v);
            std::vector<uint8_t> pic(kPicture, 0xEE);
            if (scale == 15) {
                auto q = p;
                q[4] = 0xE0;
                ASSERT_GT(d.ParseHeader(q.data(), int(q.size())), 0);
            }
            EXPECT_EQ(d.ParseHeader(p.data(), int(p.size())) != 0, scale < 15);
            ASSERT_EQ(d.Decode(p.data(), int(p.size()), pic.data()), 1) << scale;
            for (int i = 0; i < int(ref.size()); ++i) {
                Coefs e = ref[size_t(i)];
                ctx.idct(e.v);
                uint8_t out[64];
                ctx.storeBlock(e.v, out, 8);
                for (int j = 0; j < 64; ++j)
                    e.v[j] = out[j];
                const int mb = i / 6;
                ASSERT_TRUE(BlockEquals(pic, mb / 40, mb % 40, i % 6, e))
                    << "scale " << scale << " variant " << v << " block " << i;
            }
        }
    }
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double se = 0;
    for (size_t i = 0; i < n; ++i)
        se += double(a[i] - b[i]) * (a[i] - b[i]);
    return se == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * double(n) / se);
}

TEST(VideoRoundTrip, EncodedPatternsDecodeInEveryVariant) {
    for (int lines : {224, 272}) {
        const size_t bytes = synth::CVideoEncoder::PictureBytes(lines);
        std::vector<uint8_t> src(bytes), pkt;
        synth::DrawTestPattern(src.data(), 640, lines, 5, 10, "2026-12-08 12:00:00");
        synth::CVideoEncoder enc;
        synth::PictureHeader h;
        h.channel = 5;
        h.quantScale = 2;
        ASSERT_GT(enc.EncodePicture(src.data(), lines, h, nullptr, pkt), 0u);
        std::vector<uint8_t> out[kVariantCount];
        CVideoDecoder d;
        d.SetMode(VF_QZB2);
        for (int v = 0; v < kVariantCount; ++v) {
            d.ForceVariant(v);
            out[v].assign(bytes, 0);
            ASSERT_GT(d.ParseHeader(pkt.data(), int(pkt.size())), 0);
            EXPECT_EQ(d.GetChannel(), 5);
            EXPECT_EQ(d.GetHeight(), lines);
            ASSERT_EQ(d.Decode(pkt.data(), int(pkt.size()), out[v].data()), 1);
            EXPECT_GT(Psnr(out[v].data(), src.data(), bytes), 34.0) << lines << " " << v;
        }
        EXPECT_EQ(out[kVariantMmx], out[kVariantSse2]);
        EXPECT_EQ(out[kVariantMmxSse], out[kVariantSse2]);
        int worst = 0;
        for (size_t i = 0; i < bytes; ++i)
            worst = std::max(worst, std::abs(out[kVariantGeneric][i] - out[kVariantSse2][i]));
        EXPECT_LE(worst, 2);
    }
}

TEST(VideoRoundTrip, UpdatePicturesFollowTheMovingPattern) {
    const int lines = 224;
    const size_t bytes = synth::CVideoEncoder::PictureBytes(lines);
    synth::CChannelEncoder enc(lines);
    CVideoDecoder d;
    d.SetMode(VF_QZB2);
    std::vector<uint8_t> src(bytes), pic(bytes, 0), pkt;
    size_t keyBytes = 0;
    for (int f = 0; f < 8; ++f) {
        synth::DrawTestPattern(src.data(), 640, lines, 1, f, nullptr);
        synth::PictureHeader h;
        h.channel = 1;
        h.quantScale = 3;
        h.key = f == 0;
        ASSERT_GT(enc.Encode(src.data(), h, pkt), 0u);
        if (f == 0)
            keyBytes = pkt.size();
        else
            EXPECT_LT(pkt.size(), keyBytes / 2) << f;
        ASSERT_GT(d.ParseHeader(pkt.data(), int(pkt.size())), 0);
        EXPECT_EQ(d.IsKeyPicture(), f == 0 ? 1 : 0);
        ASSERT_EQ(d.Decode(pkt.data(), int(pkt.size()), pic.data()), 1);
        EXPECT_GT(Psnr(pic.data(), src.data(), bytes), 32.0) << f;
    }
}

TEST(VideoRoundTrip, EveryHeaderLayout) {
    const int lines = 272;
    const size_t bytes = synth::CVideoEncoder::PictureBytes(lines);
    std::vector<uint8_t> src(bytes), pic(bytes), pkt;
    synth::DrawTestPattern(src.data(), 640, lines, 3, 0, nullptr);
    synth::CVideoEncoder enc;
    CVideoDecoder d;
    for (int format = 0; format < VF_COUNT; ++format) {
        for (bool key : {true, false}) {
            synth::PictureHeader h;
            h.format = format;
            h.channel = 3;
            h.quantScale = 5;
            h.key = key;
            h.format2Value = 0xBEEF;
            h.dual = true;
            h.rightChannel = 6;
            h.rightAbsent = true;
            ASSERT_GT(enc.EncodePicture(src.data(), lines, h, nullptr, pkt), 0u);
            d.SetMode(format);
            ASSERT_GT(d.ParseHeader(pkt.data(), int(pkt.size())), 0) << format;
            EXPECT_EQ(d.GetChannel(), format == VF_QZD ? 0 : 3) << format;
            EXPECT_EQ(d.GetQuantScale(), 5);
            EXPECT_EQ(d.IsKeyPicture(), key ? 1 : 0) << format;
            EXPECT_EQ(d.IsDualPicture(), format == VF_QZB3 ? 1 : 0);
            if (format == VF_QZB3) {
                EXPECT_EQ(d.GetRightChannel(), 6);
                EXPECT_EQ(d.IsRightAbsent(), 1);
                EXPECT_EQ(d.IsLeftAbsent(), 0);
            }
            if (format == VF_QZD) {
                EXPECT_EQ(d.GetFormat2Value(), 0xBEEF);
            }
            ASSERT_EQ(d.Decode(pkt.data(), int(pkt.size()), pic.data()), 1);
            EXPECT_GT(Psnr(pic.data(), src.data(), bytes), 30.0);
        }
    }
}

// Channels decoded side by side give the pictures of one decoder working
// through the packets in order with a buffer per channel, for any number of
// threads and however the packets fall into runs; update pictures make any
// reordering within a channel show.
TEST(VideoParallel, SamePicturesAsOneDecoderInOrder) {
    const int lines = 224;
    const size_t bytes = synth::CVideoEncoder::PictureBytes(lines);
    synth::CChannelEncoder enc(lines);
    std::vector<std::vector<uint8_t>> packets;
    std::vector<uint8_t> src(bytes);
    for (int f = 0; f < 6; ++f) {
        for (int ch = 0; ch < 8; ++ch) {
            synth::DrawTestPattern(src.data(), 640, lines, ch, f * 3, nullptr);
            synth::PictureHeader h;
            h.channel = ch;
            h.quantScale = 2 + ch;
            h.key = f == 0;
            std::vector<uint8_t> pkt;
            ASSERT_GT(enc.Encode(src.data(), h, pkt), 0u);
            packets.push_back(std::move(pkt));
        }
    }
    packets.push_back({0x00, 0x00, 0x01, 0xF9, 0x13, 0x00}); // refused
    CVideoDecoder one;
    one.SetMode(VF_QZB2);
    std::vector<std::vector<uint8_t>> buffers(16, std::vector<uint8_t>(bytes, 0));
    std::vector<std::vector<uint8_t>> want;
    std::vector<int> wantResult;
    for (const auto& p : packets) {
        int r = 0;
        if (one.ParseHeader(p.data(), int(p.size())))
            r = one.Decode(p.data(), int(p.size()), buffers[size_t(one.GetChannel())].data());
        want.push_back(buffers[size_t(one.GetChannel())]);
        wantResult.push_back(r);
    }
    for (int threads : {1, 3}) {
        for (size_t runLength : {size_t(5), packets.size()}) {
            CParallelDecoder par(threads, VF_QZB2);
            std::vector<std::vector<uint8_t>> got(packets.size());
            std::vector<int> result(packets.size(), -1);
            for (size_t start = 0; start < packets.size(); start += runLength) {
                for (size_t i = start; i < std::min(packets.size(), start + runLength); ++i)
                    EXPECT_EQ(
                        par.Add(packets[i].data(), int(packets[i].size()), packets[i][4] & 0xF),
                        i - start);
                par.Run([&](size_t i, const CVideoDecoder&, const uint8_t* pic, int r) {
                    got[start + i].assign(pic, pic + bytes);
                    result[start + i] = r;
                });
                EXPECT_EQ(par.Size(), 0u);
            }
            for (size_t i = 0; i < packets.size(); ++i) {
                EXPECT_EQ(result[i], wantResult[i]) << i;
                ASSERT_TRUE(got[i] == want[i]) << "threads " << threads << " packet " << i;
            }
        }
    }
}

} // namespace
} // namespace tv
