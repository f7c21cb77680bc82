#include "compose/split_frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace tv {
namespace {

// A dual picture's halves go to their own channels' cells, and a frame goes
// out, with the moment its cycle began, only when a drawn channel comes again.
TEST(SplitComposer, DualHalvesFillTheirCellsAndACycleMakesAFrame) {
    const int w = 640, h = 224;
    std::vector<uint8_t> dual(size_t(w) * h * 3 / 2, 128);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            dual[size_t(y) * w + x] = x < w / 2 ? 40 : 220;
        }
    }
    CSplitComposer composer(640, 448);
    composer.SetLayout(4, 0, 4);
    std::vector<std::vector<uint8_t>> frames;
    std::vector<int64_t> stamps;
    composer.SetFrameSink([&](const CSplitFrame& f, int64_t stamp) {
        frames.emplace_back(f.Data(), f.Data() + size_t(f.Width()) * f.Height() * 3);
        stamps.push_back(stamp);
    });
    PictureChannels pc;
    pc.dual = 1;
    pc.left = 2;
    pc.right = 3;
    const SYSTEMTIME t{};
    composer.AddPicture(pc, dual.data(), w, h, t, 1000);
    EXPECT_EQ(composer.Pending(), 0xCu);
    composer.AddPicture(pc, dual.data(), w, h, t, 2000);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(stamps[0], 1000);
    // Green of a pixel, rows counted from the top of the 640 x 448 frame.
    auto green = [&](int x, int y) { return frames[0][(size_t(447 - y) * 640 + x) * 3 + 1]; };
    EXPECT_LT(green(160, 330), 60);  // channel 3's cell, bottom left: the left half
    EXPECT_GT(green(480, 330), 200); // channel 4's cell: the right half
    EXPECT_EQ(green(160, 110), 0);   // channels 1 and 2 have shown nothing
    EXPECT_EQ(composer.Flush(), 1);
    EXPECT_EQ(stamps.back(), 2000);
    EXPECT_EQ(composer.Flush(), 0);
}

} // namespace
} // namespace tv
