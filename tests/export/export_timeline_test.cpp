#include "export/export_timeline.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

TEST(ExportTimeline, WholeSecondClockSpreadsFramesAndFillsSoundGaps) {
    CExportTimeline t;
    t.Start(30, 8000);
    t.SetClock(1000, 4);
    // Second 0 spread at the expected 4 a second, each later one at the pace
    // of the second before it (3, then 2).
    EXPECT_EQ(t.PlaceFrame(5000), 0);
    EXPECT_EQ(t.PlaceFrame(5000), 8);
    EXPECT_EQ(t.PlaceFrame(5000), 15);
    EXPECT_EQ(t.PlaceFrame(6000), 30);
    EXPECT_EQ(t.PlaceFrame(6000), 40);
    EXPECT_EQ(t.PlaceFrame(7000), 60);
    // The last picture lasts the last pace's interval (500 ms).
    EXPECT_EQ(t.EndSlot(0), 75);
    // Sound of second 7 after 1.5 s written: half a second of silence first;
    // none when it is on time. The video is no shorter than the sound.
    EXPECT_EQ(t.SilenceBefore(7000, 12000), 4000);
    EXPECT_EQ(t.SilenceBefore(7000, 16000), 0);
    EXPECT_EQ(t.EndSlot(8000 * 3), 90);
}

TEST(ExportTimelineLive, FastFramesAreDroppedAndABackwardClockContinues) {
    CExportTimeline t;
    t.Start(30, 8000);
    t.SetClock(1, 0);
    // 60 frames a second: the late ones follow each other until half a
    // second behind, then are dropped.
    int dropped = 0;
    for (int i = 0; i < 120; ++i) {
        dropped += t.PlaceFrame(1000 + i * 1000 / 60) < 0 ? 1 : 0;
    }
    EXPECT_GT(dropped, 20);
    EXPECT_LE(t.NextSlot(), 61 + 15);
    // A clock going back (playing backward) goes on at the next free slot.
    const int64_t next = t.NextSlot();
    EXPECT_EQ(t.PlaceFrame(500), next);
    EXPECT_EQ(t.PlaceFrame(-1), next + 1);
}

TEST(ExportTimeline, JumpsGoOnFromTheNextFreeSlot) {
    // A recorder clock that was unset for two blocks (1000 and 1001 s after
    // 1970) in a recording of today, one picture a second.
    const int64_t today = 1717243200000;
    CExportTimeline t;
    t.Start(30, 8000);
    t.SetClock(1000, 1);
    EXPECT_EQ(t.PlaceFrame(today), 0);
    EXPECT_EQ(t.PlaceFrame(today + 1000), 30);
    EXPECT_EQ(t.PlaceFrame(1000000), 31);
    EXPECT_EQ(t.PlaceFrame(1001000), 61);
    EXPECT_EQ(t.PlaceFrame(today + 2000), 62);
    // The sound beside it needs at most the video's length of silence.
    EXPECT_LE(t.SilenceBefore(today + 2000, 0), 8000 * 3);
    EXPECT_LE(t.EndSlot(0), 93);
    // A gap of two seconds is still the recording's time; a leap of a
    // minute (fast play, a seek, a pause in recording) is not.
    EXPECT_EQ(t.PlaceFrame(today + 4000), 122);
    EXPECT_EQ(t.PlaceFrame(today + 64000), 123);
    // A seek the user made, however short, and a change of clock.
    t.Rebase();
    EXPECT_EQ(t.PlaceFrame(today + 65000), 124);
    t.SetClock(1, 0);
    EXPECT_EQ(t.PlaceFrame(5000), 125);
    EXPECT_EQ(t.PlaceFrame(5500), 140);
}

} // namespace
} // namespace tv
