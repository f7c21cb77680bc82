#include <gtest/gtest.h>

#include <vector>

#include "display/display_device.h"
#include "display_test_util.h"

namespace tv {
namespace {

using test::MakeWindow;

TEST(DisplayLayout, OddClientSizeGivesLeftOverPixelsToFirstColumnAndRow) {
    auto wnd = MakeWindow(801, 601, 4, 4);
    EXPECT_EQ(wnd->GetChannelRect(0), (RECT{0, 0, 401, 301}));
    EXPECT_EQ(wnd->GetChannelRect(1), (RECT{401, 0, 801, 301}));
    EXPECT_EQ(wnd->GetChannelRect(2), (RECT{0, 301, 401, 601}));
    EXPECT_EQ(wnd->GetChannelRect(3), (RECT{401, 301, 801, 601}));
}

// Every split tiles its target exactly: each pixel belongs to one cell of the
// current page, whatever the remainder of the division.
TEST(DisplayLayout, CellsTileTheTargetWithoutGapsOrOverlaps) {
    auto wnd = MakeWindow(320, 240, 16, 1);
    for (int split : {1, 4, 6, 9, 16}) {
        for (auto [w, h] : {std::pair{803, 607}, std::pair{640, 480}, std::pair{17, 5}}) {
            ASSERT_EQ(wnd->SetSplit(split, 0), 1);
            RECT rects[16];
            wnd->ComputeLayout(w, h, rects);
            std::vector<int> cover(size_t(w) * h, 0);
            int cells = 0;
            for (int i = 0; i < 16; ++i) {
                if (!wnd->IsChannelVisible(i)) {
                    continue;
                }
                ++cells;
                for (int y = rects[i].top; y < rects[i].bottom; ++y) {
                    for (int x = rects[i].left; x < rects[i].right; ++x) {
                        ASSERT_TRUE(x >= 0 && x < w && y >= 0 && y < h);
                        ++cover[size_t(y) * w + x];
                    }
                }
            }
            EXPECT_EQ(cells, split);
            int side = split == 6 ? 3 : (split == 16 ? 4 : (split == 9 ? 3 : (split == 4 ? 2 : 1)));
            size_t expected = split == side * side ? 1 : 0;
            size_t covered = 0;
            for (int c : cover) {
                ASSERT_LE(c, 1) << "split " << split << " overlaps";
                covered += c;
            }
            if (expected) {
                EXPECT_EQ(covered, size_t(w) * h) << "split " << split << " leaves gaps";
            } else {
                // Six cells on a 3 x 3 grid: the first two rows.
                EXPECT_EQ(rects[5].bottom, rects[3].bottom);
                EXPECT_EQ(rects[0].left, 0);
                EXPECT_EQ(rects[2].right, w);
            }
        }
    }
}

TEST(DisplayLayout, PagesOfTenChannelsInFourWaySplitWrapAround) {
    auto wnd = MakeWindow(640, 480, 10, 4);
    int split = 0;
    int page = -1;
    wnd->GetSplit(&split, &page);
    EXPECT_EQ(split, 4);
    EXPECT_EQ(page, 0);

    ASSERT_EQ(wnd->SetSplit(4, -1), 1);
    wnd->GetSplit(&split, &page);
    EXPECT_EQ(page, 1);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(wnd->IsChannelVisible(i), (i >= 4 && i < 8) ? 1 : 0) << i;
    }

    ASSERT_EQ(wnd->SetSplit(4, -1), 1);
    wnd->GetSplit(&split, &page);
    EXPECT_EQ(page, 2);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(wnd->IsChannelVisible(i), i >= 8 ? 1 : 0) << i;
    }
    // The last page holds channels 8 and 9 in the two top cells.
    EXPECT_EQ(wnd->GetChannelRect(8), (RECT{0, 0, 320, 240}));
    EXPECT_EQ(wnd->GetChannelRect(9), (RECT{320, 0, 640, 240}));

    ASSERT_EQ(wnd->SetSplit(4, -1), 1);
    wnd->GetSplit(&split, &page);
    EXPECT_EQ(page, 0);

    // A negative page with a different split starts at that split's first page.
    ASSERT_EQ(wnd->SetSplit(4, 2), 1);
    ASSERT_EQ(wnd->SetSplit(9, -1), 1);
    wnd->GetSplit(&split, &page);
    EXPECT_EQ(split, 9);
    EXPECT_EQ(page, 0);
}

TEST(DisplayLayout, RefusedSplitsChangeNothing) {
    auto wnd = MakeWindow(640, 480, 4, 4);
    ASSERT_EQ(wnd->SetSplit(4, 0), 1);
    EXPECT_EQ(wnd->SetSplit(9, 0), 0);  // more cells than channels
    EXPECT_EQ(wnd->SetSplit(-1, 0), 0); // negative
    EXPECT_EQ(wnd->SetSplit(0, 0), 0);  // no cells at all
    int split = 0;
    int page = 0;
    wnd->GetSplit(&split, &page);
    EXPECT_EQ(split, 4);
    EXPECT_EQ(page, 0);
    EXPECT_EQ(wnd->GetChannelRect(3), (RECT{320, 240, 640, 480}));
}

TEST(DisplayLayout, ResizeRecomputesTheCells) {
    auto wnd = MakeWindow(640, 480, 4, 4);
    wnd->resize(1001, 333);
    EXPECT_EQ(wnd->GetChannelRect(3), (RECT{501, 167, 1001, 333}));
    // The surfaces were rebuilt at the new size.
    EXPECT_EQ(wnd->GetBackSurface().size(), QSize(1001, 333));
}

TEST(DisplayLayout, ChannelCountOutsideOneToSixteenIsIgnored) {
    auto wnd = MakeWindow(320, 240, 4, 1);
    wnd->SetChannelCount(0);
    EXPECT_EQ(wnd->GetChannelCount(), 4);
    wnd->SetChannelCount(17);
    EXPECT_EQ(wnd->GetChannelCount(), 4);
    wnd->SetChannelCount(16);
    EXPECT_EQ(wnd->GetChannelCount(), 16);
}

} // namespace
} // namespace tv
