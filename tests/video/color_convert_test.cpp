#include "video/color_convert.h"
#include "video/pixel_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace tv {
namespace {

// A picture of uniform Y, Cb, Cr.
std::vector<uint8_t> Flat(int w, int h, uint8_t y, uint8_t u, uint8_t v) {
    std::vector<uint8_t> p(size_t(w) * h * 3 / 2);
    std::fill(p.begin(), p.begin() + w * h, y);
    std::fill(p.begin() + w * h, p.begin() + w * h * 5 / 4, u);
    std::fill(p.begin() + w * h * 5 / 4, p.end(), v);
    return p;
}

uint16_t Word16(const std::vector<uint8_t>& d, size_t i) {
    return uint16_t(d[i] | (d[i + 1] << 8));
}

struct Rgb {
    int r, g, b;
};

// The conversion arithmetic written out with plain compares.
Rgb Reference(int y, int u, int v) {
    auto clip = [](int x) { return std::clamp(x, 1, 255); };
    const int yy = y * 1024;
    return Rgb{clip((yy + 1436 * (v - 128)) >> 10),
               clip((yy - 352 * (u - 128) - 731 * (v - 128)) >> 10),
               clip((yy + 1815 * (u - 128)) >> 10)};
}

TEST(VideoColor, WorkedExamplesInEveryFormat) {
    struct Case {
        uint8_t y, u, v;
        Rgb rgb;
        uint16_t w555, w565, wBgr565;
    };
    const Case cases[] = {
        {0, 128, 128, {1, 1, 1}, 0x0000, 0x0000, 0x0000},
        {255, 128, 128, {255, 255, 255}, 0x7FFF, 0xFFFF, 0xFFFF},
        {128, 128, 255, {255, 37, 128}, uint16_t((31 << 10) | (4 << 5) | 16), 0xF930, 0x813F},
        {128, 0, 0, {1, 255, 1}, uint16_t(31 << 5), uint16_t(63 << 5), uint16_t(63 << 5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.y) * 65536 + c.u * 256 + c.v);
        const auto src = Flat(4, 2, c.y, c.u, c.v);
        std::vector<uint8_t> d16(4 * 2 * 2), d24(4 * 2 * 3), d32(4 * 2 * 4);
        YuvToRgb24(d24.data(), 12, src.data(), 4, 2);
        EXPECT_EQ(d24[0], c.rgb.b);
        EXPECT_EQ(d24[1], c.rgb.g);
        EXPECT_EQ(d24[2], c.rgb.r);
        YuvToRgb32(d32.data(), 16, src.data(), 4, 2);
        EXPECT_EQ(d32[0], c.rgb.b);
        EXPECT_EQ(d32[1], c.rgb.g);
        EXPECT_EQ(d32[2], c.rgb.r);
        EXPECT_EQ(d32[3], 0);
        YuvToRgb555(d16.data(), 8, src.data(), 4, 2);
        EXPECT_EQ(Word16(d16, 0), c.w555);
        YuvToRgb565(d16.data(), 8, src.data(), 4, 2);
        EXPECT_EQ(Word16(d16, 0), c.w565);
        YuvToBgr565(d16.data(), 8, src.data(), 4, 2);
        EXPECT_EQ(Word16(d16, 0), c.wBgr565);
    }
}

// Random pictures against the arithmetic done longhand: catches table,
// chroma-siting and packing mistakes in every conversion at once.
TEST(VideoColor, RandomPicturesMatchLonghandArithmetic) {
    const int w = 50, h = 10;
    std::mt19937 rng(7);
    std::vector<uint8_t> src(size_t(w) * h * 3 / 2);
    for (auto& b : src)
        b = uint8_t(rng());
    const uint8_t* cb = src.data() + w * h;
    const uint8_t* cr = cb + w * h / 4;
    std::vector<uint8_t> d24(size_t(w) * h * 3), d32(size_t(w) * h * 4), d555(size_t(w) * h * 2),
        d565(size_t(w) * h * 2), dbgr(size_t(w) * h * 2);
    YuvToRgb24(d24.data(), w * 3, src.data(), w, h);
    YuvToRgb32(d32.data(), w * 4, src.data(), w, h);
    YuvToRgb555(d555.data(), w * 2, src.data(), w, h);
    YuvToRgb565(d565.data(), w * 2, src.data(), w, h);
    YuvToBgr565(dbgr.data(), w * 2, src.data(), w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int ci = (y / 2) * (w / 2) + x / 2;
            const Rgb e = Reference(src[size_t(y) * w + x], cb[ci], cr[ci]);
            const size_t i = size_t(y) * w + x;
            ASSERT_EQ(d24[3 * i], e.b);
            ASSERT_EQ(d24[3 * i + 1], e.g);
            ASSERT_EQ(d24[3 * i + 2], e.r);
            ASSERT_EQ(d32[4 * i], e.b);
            ASSERT_EQ(d32[4 * i + 1], e.g);
            ASSERT_EQ(d32[4 * i + 2], e.r);
            ASSERT_EQ(d32[4 * i + 3], 0);
            ASSERT_EQ(Word16(d555, 2 * i), ((e.r >> 3) << 10) | ((e.g >> 3) << 5) | (e.b >> 3));
            ASSERT_EQ(Word16(d565, 2 * i), ((e.r >> 3) << 11) | ((e.g >> 2) << 5) | (e.b >> 3));
            ASSERT_EQ(Word16(dbgr, 2 * i), ((e.b >> 3) << 11) | ((e.g >> 2) << 5) | (e.r >> 3));
        }
    }
}

TEST(VideoColor, BottomUpAndDoubledRowPlacement) {
    const int w = 4, h = 4;
    auto src = Flat(w, h, 100, 128, 128);
    // Distinct luma per row so rows can be told apart.
    for (int y = 0; y < h; ++y)
        std::memset(src.data() + y * w, 50 + 40 * y, w);
    std::vector<uint8_t> top(size_t(w) * h * 3), dib(size_t(w) * h * 3);
    YuvToRgb24(top.data(), w * 3, src.data(), w, h);
    YuvToDib24(dib.data(), w * 3, src.data(), w, h);
    for (int y = 0; y < h; ++y)
        EXPECT_EQ(0, std::memcmp(&top[size_t(y) * w * 3], &dib[size_t(h - 1 - y) * w * 3], w * 3));

    std::vector<uint8_t> dbl(size_t(w) * 2 * h * 3, 0xAB);
    YuvToDib24Doubled(dbl.data(), w * 3, src.data(), w, h);
    for (int y = 0; y < h; ++y) {
        EXPECT_EQ(
            0, std::memcmp(&top[size_t(y) * w * 3], &dbl[size_t(2 * (h - 1 - y)) * w * 3], w * 3));
        const uint8_t* odd = &dbl[size_t(2 * y + 1) * w * 3];
        EXPECT_TRUE(std::all_of(odd, odd + w * 3, [](uint8_t b) { return b == 0xAB; }));
    }
}

TEST(VideoColor, PaddedPitchLeavesPaddingAlone) {
    const int w = 6, h = 4, bpp = 4, pitch = w * bpp + 8;
    const auto src = Flat(w, h, 200, 90, 160);
    std::vector<uint8_t> packed(size_t(w) * h * bpp), padded(size_t(pitch) * h, 0xCD);
    YuvToRgb32(packed.data(), w * bpp, src.data(), w, h);
    YuvToRgb32(padded.data(), pitch, src.data(), w, h);
    for (int y = 0; y < h; ++y) {
        EXPECT_EQ(0, std::memcmp(&packed[size_t(y) * w * bpp], &padded[size_t(y) * pitch],
                                 size_t(w) * bpp));
        for (int i = w * bpp; i < pitch; ++i)
            EXPECT_EQ(padded[size_t(y) * pitch + i], 0xCD);
    }
}

TEST(VideoColor, OddSizeLeavesLastColumnAndRowUnwritten) {
    const int w = 5, h = 3;
    std::vector<uint8_t> src(size_t(w) * h * 2, 128);
    std::vector<uint8_t> d(size_t(w) * h * 3, 0xEE);
    YuvToRgb24(d.data(), w * 3, src.data(), w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const bool written = x < 4 && y < 2;
            EXPECT_EQ(d[(size_t(y) * w + x) * 3] != 0xEE, written) << x << "," << y;
        }
    }
}

TEST(VideoColor, SurfaceCopiesExpandAndFlip) {
    // Two rows of two pixels; rows must come out swapped.
    const uint16_t bgr[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
    std::vector<uint8_t> out(2 * 2 * 3);
    Bgr565ToDib24(out.data(), 6, reinterpret_cast<const uint8_t*>(bgr), 4, 2, 2);
    // Source row 0 is destination row 1.
    EXPECT_EQ(out[6 + 0], 248); // B of 0xF800
    EXPECT_EQ(out[6 + 1], 0);
    EXPECT_EQ(out[6 + 2], 0);
    EXPECT_EQ(out[6 + 4], 252); // G of 0x07E0
    EXPECT_EQ(out[2], 248);     // R of 0x001F
    EXPECT_EQ(out[3], 248);
    EXPECT_EQ(out[4], 252);
    EXPECT_EQ(out[5], 248);

    const uint16_t rgb555[1] = {uint16_t((31 << 10) | (1 << 5) | 2)};
    Rgb555ToDib24(out.data(), 3, reinterpret_cast<const uint8_t*>(rgb555), 2, 1, 1);
    EXPECT_EQ(out[0], 16);
    EXPECT_EQ(out[1], 8);
    EXPECT_EQ(out[2], 248);
    const uint16_t rgb565[1] = {uint16_t((1 << 11) | (63 << 5) | 31)};
    Rgb565ToDib24(out.data(), 3, reinterpret_cast<const uint8_t*>(rgb565), 2, 1, 1);
    EXPECT_EQ(out[0], 248);
    EXPECT_EQ(out[1], 252);
    EXPECT_EQ(out[2], 8);
    const uint8_t rgb32[4] = {1, 2, 3, 4};
    Rgb32ToDib24(out.data(), 3, rgb32, 4, 1, 1);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 3);
}

TEST(VideoColor, Rgb24CopyKeepsEveryByteOfOddWidths) {
    const int w = 5, h = 2, srcPitch = 16, dstPitch = 20;
    std::vector<uint8_t> src(size_t(srcPitch) * h), dst(size_t(dstPitch) * h, 0);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = uint8_t(i + 1);
    Rgb24ToDib24(dst.data(), dstPitch, src.data(), srcPitch, w, h);
    EXPECT_EQ(0, std::memcmp(&dst[dstPitch], &src[0], w * 3));
    EXPECT_EQ(0, std::memcmp(&dst[0], &src[srcPitch], w * 3));
    EXPECT_EQ(dst[w * 3], 0); // pitch padding untouched
}

TEST(VideoColor, DispatchByPixelFormatCode) {
    const auto src = Flat(2, 2, 128, 128, 255);
    std::vector<uint8_t> a(16), b(16);
    for (int f = PF_RGB555; f <= PF_RGB32; ++f) {
        const int bpp = PixelFormatBytes(f);
        ASSERT_EQ(YuvToPixelFormat(f, a.data(), 2 * bpp, src.data(), 2, 2), 1);
        std::vector<uint8_t> dib(12);
        ASSERT_EQ(SurfaceToDib24(f, dib.data(), 6, a.data(), 2 * bpp, 2, 2), 1);
        // Whatever the surface format, red stays the strongest component.
        EXPECT_GT(dib[2], dib[1]) << f;
        EXPECT_GT(dib[2], dib[0]) << f;
    }
    EXPECT_EQ(YuvToPixelFormat(PF_UNKNOWN, a.data(), 4, src.data(), 2, 2), 0);
    EXPECT_EQ(SurfaceToDib24(9, b.data(), 6, a.data(), 4, 2, 2), 0);
}

} // namespace
} // namespace tv
