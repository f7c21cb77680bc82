#include "video/dual_picture.h"

#include <gtest/gtest.h>

#include <vector>

namespace tv {
namespace {

TEST(DualPicture, SplitsIntoHalves) {
    const int w = 640;
    const int h = 224;
    std::vector<uint8_t> src(w * h * 3 / 2);
    // Luma: left half 10, right half 200; Cb: 20 / 120; Cr: 30 / 130, with a
    // row-dependent offset so a row mix-up shows.
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            src[y * w + x] = static_cast<uint8_t>((x < w / 2 ? 10 : 200) + (y & 3));
        }
    }
    const int cw = w / 2;
    const int ch = h / 2;
    for (int p = 0; p < 2; ++p) {
        uint8_t* plane = src.data() + w * h + p * cw * ch;
        for (int y = 0; y < ch; ++y) {
            for (int x = 0; x < cw; ++x) {
                plane[y * cw + x] =
                    static_cast<uint8_t>((x < cw / 2 ? 20 : 120) + p * 10 + (y & 3));
            }
        }
    }
    std::vector<uint8_t> left(size_t(w / 2) * h * 3 / 2, 0xEE);
    std::vector<uint8_t> right(size_t(w / 2) * h * 3 / 2, 0xEE);
    SplitDualPicture(src.data(), w, h, left.data(), right.data());
    const int hw = w / 2;
    const int hcw = hw / 2;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < hw; ++x) {
            ASSERT_EQ(left[y * hw + x], 10 + (y & 3)) << x << "," << y;
            ASSERT_EQ(right[y * hw + x], 200 + (y & 3)) << x << "," << y;
        }
    }
    for (int p = 0; p < 2; ++p) {
        const uint8_t* l = left.data() + hw * h + p * hcw * ch;
        const uint8_t* r = right.data() + hw * h + p * hcw * ch;
        for (int y = 0; y < ch; ++y) {
            for (int x = 0; x < hcw; ++x) {
                ASSERT_EQ(l[y * hcw + x], 20 + p * 10 + (y & 3));
                ASSERT_EQ(r[y * hcw + x], 120 + p * 10 + (y & 3));
            }
        }
    }
}

} // namespace
} // namespace tv
