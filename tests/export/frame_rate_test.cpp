#include "export/frame_rate.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

TEST(ExportFrameRate, PlayerModeSharesTheRecorderRateAmongChannels) {
    EXPECT_DOUBLE_EQ(PlayerCycleRate(0x000F, 0, 0, false), 7.5);    // 30 / 4, not truncated
    EXPECT_DOUBLE_EQ(PlayerCycleRate(0x000F, 0, 0, true), 6.25);    // 25 / 4
    EXPECT_DOUBLE_EQ(PlayerCycleRate(0x0003, 1, 2, true), 6.25);    // 25 / 2 / 2
    EXPECT_DOUBLE_EQ(PlayerCycleRate(0x0003, 0, 1, false), 30);     // 60 / 2, capped by A
    EXPECT_DOUBLE_EQ(PlayerCycleRate(0x00FF, 1, 4, false), 3.75);   // 60 / 2 / 8
    EXPECT_DOUBLE_EQ(PlayerCycleRate(0x00FF, 0, 5, true), 12.5);    // 100 / 8
    EXPECT_DOUBLE_EQ(PlayerCycleRate(0x0001, 0, 5, true), 25);      // 100, capped by A
    EXPECT_DOUBLE_EQ(PlayerCycleRate(0xFFFF0000, 0, 0, false), 30); // no channel: A
    EXPECT_DOUBLE_EQ(PlayerCycleRate(0x0001, -5, 0, false), 30);
}

TEST(ExportFrameRate, StreamRates) {
    EXPECT_EQ(PlayerExportFrameRate(false), 30);
    EXPECT_EQ(PlayerExportFrameRate(true), 25);
    EXPECT_EQ(ClientExportFrameRate(false, false), 30);
    EXPECT_EQ(ClientExportFrameRate(true, false), 25);
    EXPECT_EQ(ClientExportFrameRate(false, true), 25);
}

} // namespace
} // namespace tv
