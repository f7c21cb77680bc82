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
