#include "engine/playback_rules.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tv;

TEST(PlaybackRules, PlaySpeedIsMagnitudeCappedAtEight) {
    EXPECT_EQ(ClampPlaySpeed(0.0), 1.0);
    EXPECT_EQ(ClampPlaySpeed(-3.0), 3.0);
    EXPECT_EQ(ClampPlaySpeed(12.0), 8.0);
    EXPECT_EQ(ClampPlaySpeed(0.5), 0.5);
    EXPECT_EQ(ClampPlaySpeed(-8.0), 8.0);
}

TEST(PlaybackRules, FastForwardLadderAndDirectionChange) {
    // Four presses while playing forward at 1: 8, 16, 32, 32.
    double speed = 1.0;
    int state = kStatePlay;
    int last = kCmdPlay;
    std::vector<double> seen;
    for (int i = 0; i < 4; ++i) {
        speed = NextFastSpeed(speed, last, state, kCmdPlay, kStatePlay);
        last = kCmdPlay;
        seen.push_back(speed);
    }
    EXPECT_EQ(seen, (std::vector<double>{8, 16, 32, 32}));
    // Right after PlayBackward: 8, whatever the speed was.
    EXPECT_EQ(NextFastSpeed(4.0, kCmdPlayBackward, kStatePlayBackward, kCmdPlay, kStatePlay), 8.0);
    EXPECT_EQ(NextFastSpeed(32.0, kCmdPlayBackward, kStatePlayBackward, kCmdPlay, kStatePlay), 8.0);
    // Not yet playing forward (paused at 16): back to 8.
    EXPECT_EQ(NextFastSpeed(16.0, kCmdPause, kStatePause, kCmdPlay, kStatePlay), 8.0);
    // Mirror image for fast backward.
    EXPECT_EQ(NextFastSpeed(8.0, kCmdPlayBackward, kStatePlayBackward, kCmdPlayBackward,
                            kStatePlayBackward),
              16.0);
    EXPECT_EQ(NextFastSpeed(16.0, kCmdPlay, kStatePlay, kCmdPlayBackward, kStatePlayBackward), 8.0);
    // Playing forward at a slow speed: the ladder starts at 8.
    EXPECT_EQ(NextFastSpeed(2.0, kCmdPlay, kStatePlay, kCmdPlay, kStatePlay), 8.0);
}

TEST(PlaybackRules, PauseResetsOnlyFastSpeeds) {
    EXPECT_EQ(SpeedAfterPause(16.0), 1.0);
    EXPECT_EQ(SpeedAfterPause(8.0), 1.0);
    EXPECT_EQ(SpeedAfterPause(64.0), 1.0);
    EXPECT_EQ(SpeedAfterPause(3.0), 3.0);
    EXPECT_EQ(SpeedAfterPause(0.5), 0.5);
}

TEST(PlaybackRules, CommandsMapToStates) {
    EXPECT_EQ(PlayStateForCommand(kCmdPause, kStatePlay), kStatePause);
    EXPECT_EQ(PlayStateForCommand(kCmdPlay, kStatePause), kStatePlay);
    EXPECT_EQ(PlayStateForCommand(kCmdPlayBackward, kStatePause), kStatePlayBackward);
    EXPECT_EQ(PlayStateForCommand(kCmdStepForward, kStatePause), kStateStepForward);
    EXPECT_EQ(PlayStateForCommand(kCmdStepBackward, kStatePause), kStateStepBackward);
    EXPECT_EQ(PlayStateForCommand(kCmdSeek, kStatePlay), kStateSearch);
    EXPECT_EQ(PlayStateForCommand(0, kStatePlayBackward), kStatePlayBackward);
    EXPECT_EQ(PlayStateForCommand(9, kStatePause), kStatePause);
}

TEST(PlaybackRules, SlotCountsFromChannelCount) {
    EXPECT_EQ(ChannelSlotsFor(8), 9);
    EXPECT_EQ(ChannelSlotsFor(1), 1);
    EXPECT_EQ(ChannelSlotsFor(0), 1);
    EXPECT_EQ(ChannelSlotsFor(4), 4);
    EXPECT_EQ(ChannelSlotsFor(2), 4);
    EXPECT_EQ(ChannelSlotsFor(5), 9);
    EXPECT_EQ(ChannelSlotsFor(10), 16);
    EXPECT_EQ(ChannelSlotsFor(12), 16);
}

TEST(PlaybackRules, FramePeriodsByHeightAndMode) {
    EXPECT_EQ(FramePeriodUs(224, 0), 33333);
    EXPECT_EQ(FramePeriodUs(224, 2), 33333);
    EXPECT_EQ(FramePeriodUs(224, 4), 16666);
    EXPECT_EQ(FramePeriodUs(272, 0), 25000);
    EXPECT_EQ(FramePeriodUs(272, 2), 25000);
    EXPECT_EQ(FramePeriodUs(272, 4), 12500);
    EXPECT_EQ(FramePeriodUs(112, 5), 12500);
}

TEST(PlaybackRules, PacingWaitScalesWithGapAndSpeed) {
    // (gap + 1) x period / speed, kept to the microsecond so that short
    // waits do not run fast, and fast speeds are paced too.
    EXPECT_EQ(PacingWaitUs(0, 40000, 1.0), 40000u);
    EXPECT_EQ(PacingWaitUs(1, 16666, 2.0), 16666u);
    EXPECT_EQ(PacingWaitUs(1, 33333, 8.0), 8333u);
    EXPECT_EQ(PacingWaitUs(0, 33333, 0.5), 66666u);
    EXPECT_EQ(PacingWaitUs(7, 12500, 16.0), 6250u);
    EXPECT_EQ(PacingWaitUs(127, 33333, 32.0), 133332u);
}

TEST(PlaybackRules, DualPictureSplitsIntoHalves) {
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
    std::vector<uint8_t> left(kEngineHalfPictureSize, 0xEE);
    std::vector<uint8_t> right(kEngineHalfPictureSize, 0xEE);
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

TEST(PlaybackRules, ChannelGate) {
    int enabled[16];
    for (int& e : enabled) {
        e = 1;
    }
    enabled[3] = 0;
    DualInfo single;
    EXPECT_TRUE(ChannelGatePasses(enabled, 2, single));
    EXPECT_FALSE(ChannelGatePasses(enabled, 3, single));
    EXPECT_FALSE(ChannelGatePasses(enabled, 16, single));

    DualInfo dual{1, 3, 5, 0, 0};
    EXPECT_TRUE(ChannelGatePasses(enabled, 3, dual)); // left disabled, right enabled
    dual.rightAbsent = 1;
    EXPECT_FALSE(ChannelGatePasses(enabled, 3, dual));
    dual = DualInfo{1, 1, 3, 0, 0};
    EXPECT_TRUE(ChannelGatePasses(enabled, 1, dual));
    dual.leftAbsent = 1;
    EXPECT_FALSE(ChannelGatePasses(enabled, 1, dual)); // only the disabled right half remains
    dual = DualInfo{1, 1, 2, 1, 1};
    EXPECT_FALSE(ChannelGatePasses(enabled, 1, dual));
}
