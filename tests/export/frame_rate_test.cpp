#include "export/frame_rate.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

TEST(ExportFrameRate, PlayerModeSharesTheRecorderRateAmongChannels) {
    EXPECT_EQ(PlayerExportFrameRate(0x000F, 0, 0, false), 7); // 30 / 4 = 7.5
    EXPECT_EQ(PlayerExportFrameRate(0x000F, 0, 0, true), 6);  // 25 / 4 = 6.25
    EXPECT_EQ(PlayerExportFrameRate(0x0001, 0, 0, false), 30);
    EXPECT_EQ(PlayerExportFrameRate(0x0003, 1, 2, true), 6);   // 25 / 2 / 2
    EXPECT_EQ(PlayerExportFrameRate(0x0003, 0, 1, false), 30); // 60 / 2, capped by A
    EXPECT_EQ(PlayerExportFrameRate(0x00FF, 0, 1, false), 7);  // 60 / 8
    EXPECT_EQ(PlayerExportFrameRate(0x00FF, 0, 5, false), 15); // 120 / 8
    EXPECT_EQ(PlayerExportFrameRate(0x00FF, 0, 5, true), 12);  // 100 / 8
    EXPECT_EQ(PlayerExportFrameRate(0x0007, 0, 6, true), 16);  // 50 / 3 = 16.67
    EXPECT_EQ(PlayerExportFrameRate(0x0001, 0, 5, true), 25);  // 100, capped by A
}

TEST(ExportFrameRate, OnlyTheLowSixteenChannelBitsCount) {
    EXPECT_EQ(PlayerExportFrameRate(0xFFFF0003, 0, 0, false), 15);
    EXPECT_EQ(PlayerExportFrameRate(0xFFFF0000, 0, 0, false), 30); // no channel: A
    EXPECT_EQ(PlayerExportFrameRate(0, 3, 5, true), 25);
}

TEST(ExportFrameRate, SlowSharesStillExport) {
    // 30 / 4 / 8 = 0.94 would truncate to a rate the writer refuses.
    EXPECT_EQ(PlayerExportFrameRate(0x00FF, 3, 0, false), 1);
    EXPECT_EQ(PlayerExportFrameRate(0xFFFF, 1000, 0, true), 1);
    EXPECT_EQ(PlayerExportFrameRate(0x0001, -5, 0, false), 30);
}

TEST(ExportFrameRate, ClientMode) {
    EXPECT_EQ(ClientExportFrameRate(false, false), 30);
    EXPECT_EQ(ClientExportFrameRate(true, false), 25);
    EXPECT_EQ(ClientExportFrameRate(false, true), 25);
}

} // namespace
} // namespace tv
