#include "synth/audio_tone.h"
#include "synth/test_pattern.h"
#include "synth/video_encoder.h"
#include "video/video_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace tv {
namespace {

using synth::CVideoEncoder;

// Pictures that push the encoder towards long zero runs: black (DC 0 before
// clamping), white, noise at the finest scale (escapes), sharp stripes.
std::vector<std::vector<uint8_t>> HardPictures(int lines) {
    const size_t n = CVideoEncoder::PictureBytes(lines);
    std::vector<std::vector<uint8_t>> out;
    out.emplace_back(n, 0);
    out.emplace_back(n, 255);
    std::vector<uint8_t> noise(n);
    std::mt19937 rng(5);
    for (auto& b : noise)
        b = uint8_t(rng());
    out.push_back(noise);
    std::vector<uint8_t> stripes(n, 128);
    for (int y = 0; y < lines; ++y)
        for (int x = 0; x < 640; ++x)
            stripes[size_t(y) * 640 + x] = (x / 3 + y / 5) % 2 ? 0 : 255;
    out.push_back(stripes);
    return out;
}

TEST(VideoSynth, NoStartCodeEmulationInHardPictures) {
    CVideoEncoder enc;
    std::vector<uint8_t> pkt;
    for (int lines : {224, 272}) {
        for (const auto& pic : HardPictures(lines)) {
            for (int scale : {1, 7, 14}) {
                for (bool key : {true, false}) {
                    synth::PictureHeader h;
                    h.quantScale = scale;
                    h.key = key;
                    ASSERT_GT(enc.EncodePicture(pic.data(), lines, h, nullptr, pkt), 0u);
                    EXPECT_EQ(CVideoEncoder::CountStartCodes(pkt.data(), pkt.size()), lines / 16);
                    CVideoDecoder d;
                    d.SetMode(4);
                    std::vector<uint8_t> out(pic.size());
                    ASSERT_GT(d.ParseHeader(pkt.data(), int(pkt.size())), 0);
                    ASSERT_EQ(d.Decode(pkt.data(), int(pkt.size()), out.data()), 1);
                }
            }
        }
    }
}

TEST(VideoSynth, BlackDecodesJustAboveBlack) {
    const size_t n = CVideoEncoder::PictureBytes(224);
    std::vector<uint8_t> black(n, 0), out(n, 99), pkt;
    CVideoEncoder enc;
    synth::PictureHeader h;
    ASSERT_GT(enc.EncodePicture(black.data(), 224, h, nullptr, pkt), 0u);
    CVideoDecoder d;
    d.SetMode(4);
    ASSERT_GT(d.ParseHeader(pkt.data(), int(pkt.size())), 0);
    ASSERT_EQ(d.Decode(pkt.data(), int(pkt.size()), out.data()), 1);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t v) { return v <= 1; }));
}

TEST(VideoSynth, EmptyUpdatePlanAndPlanning) {
    const int lines = 224;
    const size_t n = CVideoEncoder::PictureBytes(lines);
    std::vector<uint8_t> a(n, 90), b(n, 90), pkt;
    std::vector<uint8_t> plan(14 * 40, 0xFF);
    EXPECT_EQ(CVideoEncoder::PlanUpdate(a.data(), b.data(), lines, 0, plan.data()), 0);
    CVideoEncoder enc;
    synth::PictureHeader h;
    h.key = false;
    ASSERT_GT(enc.EncodePicture(a.data(), lines, h, plan.data(), pkt), 0u);
    // Each slice is its start code and one byte of row and end-of-slice bits.
    EXPECT_EQ(pkt.size(), 5u + 14u * 5u);

    // One luma sample of macroblock (3, 7), block 2, and one Cr sample of (10, 0).
    b[size_t(16 * 3 + 9) * 640 + 16 * 7 + 1] = 91;
    b[n - size_t(320) * 112 + size_t(8 * 10) * 320 + 2] = 10;
    EXPECT_EQ(CVideoEncoder::PlanUpdate(a.data(), b.data(), lines, 0, plan.data()), 2);
    EXPECT_EQ(plan[3 * 40 + 7], synth::kMbCoded | 0x4);
    EXPECT_EQ(plan[10 * 40 + 0], synth::kMbCoded);
    EXPECT_EQ(CVideoEncoder::PlanUpdate(a.data(), b.data(), lines, 100, plan.data()), 0);
}

TEST(VideoSynth, RefusesUnusableParameters) {
    CVideoEncoder enc;
    std::vector<uint8_t> pic(CVideoEncoder::PictureBytes(272)), pkt{1, 2};
    synth::PictureHeader h;
    EXPECT_EQ(enc.EncodePicture(pic.data(), 240, h, nullptr, pkt), 0u);
    EXPECT_TRUE(pkt.empty());
    h.quantScale = 15;
    EXPECT_EQ(enc.EncodePicture(pic.data(), 224, h, nullptr, pkt), 0u);
    h.quantScale = 0;
    EXPECT_EQ(enc.EncodePicture(pic.data(), 224, h, nullptr, pkt), 0u);
    h.quantScale = 3;
    h.format = 7;
    EXPECT_EQ(enc.EncodePicture(pic.data(), 224, h, nullptr, pkt), 0u);
}

TEST(VideoSynth, QualityKnobTradesSizeForError) {
    const int lines = 224;
    const size_t n = CVideoEncoder::PictureBytes(lines);
    std::vector<uint8_t> src(n), out(n), pkt;
    synth::DrawTestPattern(src.data(), 640, lines, 0, 0, "12:00:00");
    CVideoEncoder enc;
    CVideoDecoder d;
    d.SetMode(4);
    size_t lastSize = SIZE_MAX;
    double lastErr = 0;
    for (int scale : {1, 4, 10}) {
        synth::PictureHeader h;
        h.quantScale = scale;
        ASSERT_GT(enc.EncodePicture(src.data(), lines, h, nullptr, pkt), 0u);
        d.ParseHeader(pkt.data(), int(pkt.size()));
        ASSERT_EQ(d.Decode(pkt.data(), int(pkt.size()), out.data()), 1);
        double err = 0;
        for (size_t i = 0; i < n; ++i)
            err += std::abs(int(out[i]) - int(src[i]));
        EXPECT_LT(pkt.size(), lastSize) << scale;
        EXPECT_GT(err, lastErr) << scale;
        lastSize = pkt.size();
        lastErr = err;
    }
}

TEST(VideoSynth, DualPictureHalves) {
    const int lines = 224;
    std::vector<uint8_t> left(size_t(320) * lines * 3 / 2, 40), right(left.size(), 200);
    std::vector<uint8_t> both(CVideoEncoder::PictureBytes(lines));
    synth::ComposeDual(left.data(), right.data(), lines, both.data());
    EXPECT_EQ(both[0], 40);
    EXPECT_EQ(both[319], 40);
    EXPECT_EQ(both[320], 200);
    EXPECT_EQ(both[size_t(640) * lines + 159], 40);  // Cb left
    EXPECT_EQ(both[size_t(640) * lines + 160], 200); // Cb right
    EXPECT_EQ(both.back(), 200);
    synth::ComposeDual(left.data(), nullptr, lines, both.data());
    EXPECT_EQ(both[639], 128);
}

TEST(VideoSynth, PatternCarriesTextAndMotion) {
    const int lines = 224;
    std::vector<uint8_t> a(CVideoEncoder::PictureBytes(lines)), b(a.size());
    synth::DrawTestPattern(a.data(), 640, lines, 2, 0, "10:00:00");
    synth::DrawTestPattern(b.data(), 640, lines, 2, 0, "10:00:00");
    EXPECT_EQ(a, b);
    synth::DrawTestPattern(b.data(), 640, lines, 2, 5, "10:00:00");
    EXPECT_NE(a, b);
    // The "CH3" label's box is drawn at (8, lines - 24) with scale 2; the
    // top-left pixel of 'C' is off and a pixel of its left stroke is on.
    const size_t top = size_t(lines - 24);
    EXPECT_EQ(a[top * 640 + 8], 16);
    EXPECT_EQ(a[(top + 2) * 640 + 8], 235);
    EXPECT_EQ(synth::FontGlyph('H')[3], 0x1F);
    EXPECT_EQ(synth::FontGlyph('~')[3], 0);
}

TEST(VideoSynth, G711Encoders) {
    EXPECT_EQ(synth::LinearToAlaw(0), 0xD5);
    EXPECT_EQ(synth::LinearToAlaw(-8), 0x55);
    EXPECT_EQ(synth::LinearToAlaw(5504), 0x80);
    EXPECT_EQ(synth::LinearToAlaw(-5504), 0x00);
    EXPECT_EQ(synth::LinearToUlaw(0), 0xFF);
    EXPECT_EQ(synth::LinearToUlaw(32124), 0x80);
    EXPECT_EQ(synth::LinearToUlaw(-32124), 0x00);
    std::vector<uint8_t> out;
    EXPECT_EQ(synth::AppendTone(4, 1000, 8000, 0, 80, out), 1);
    EXPECT_EQ(out.size(), 160u);
    EXPECT_EQ(synth::AppendTone(9, 1000, 8000, 0, 80, out), 0);
    EXPECT_EQ(synth::AudioFormatFromName("QZ_ALAW"), 5);
    EXPECT_STREQ(synth::AudioFormatName(6), "QZ_MLAW");
}

} // namespace
} // namespace tv
