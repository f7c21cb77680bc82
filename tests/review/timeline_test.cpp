#include "app/timeline_strip.h"
#include "app/viewer_fixture.h"
#include "media/qzf_block.h"
#include "platform/system.h"
#include "synth/activity_scene.h"

#include <QLabel>

#include <atomic>
#include <cstdlib>

using namespace tv;
using namespace tv::test;

namespace {

// Channel 2 moves at 5 and 18 seconds, channel 4 at 12; 1 and 3 are still.
std::string MakeScene(const QString& path) {
    synth::SceneOptions o;
    o.seconds = 24;
    o.channels.resize(4);
    o.channels[1].moving = {{5, 8}, {18, 21}};
    o.channels[3].moving = {{12, 15}};
    o.channels[2].noise = 5;
    CQzfBlockWriter w;
    std::string error;
    if (!w.OpenFile(path.toStdString()) || !synth::WriteActivityScene(o, w, &error) || !w.Close())
        return {};
    return path.toStdString();
}

uint32_t SceneStart() {
    return uint32_t(LocalToBlockTime(synth::SceneOptions{}.start, GetTimeZoneBias()));
}

class Timeline : public Viewer {
protected:
    void SetUp() override {
        Viewer::SetUp();
        setenv("XDG_CACHE_HOME", dir.filePath("cache").toUtf8().constData(), 1);
    }
    // The second of the picture shown, once the engine has settled paused.
    int64_t PausedSecond() {
        if (!WaitFor([&] { return dlg->Engine().GetPlayState() == 6; }))
            return -1;
        QTest::qWait(100);
        SYSTEMTIME t{};
        if (!dlg->Engine().GetFrameTime(&t))
            return -1;
        return LocalToBlockTime(t, GetTimeZoneBias()) - SceneStart();
    }
};

TEST_F(Timeline, ShownAndHiddenByItsCommandWithTheVideoAreaKeptAndTheStateSaved) {
    CViewerDlg& d = Make();
    Show();
    const int h = d.height();
    const int video = d.VideoHeight();
    EXPECT_FALSE(d.Timeline()->isVisible());
    d.OnCommand(kCommandTimeline);
    EXPECT_TRUE(d.Timeline()->isVisible());
    EXPECT_TRUE(d.IsCommandChecked(kCommandTimeline));
    const int strip = d.Timeline()->height();
    EXPECT_EQ(d.height(), h + strip);
    EXPECT_EQ(d.VideoHeight(), video);
    EXPECT_EQ(d.Timeline()->geometry().top(), 25 + video);
    // Eight named rows that can be read, more room in a larger window.
    EXPECT_GE(strip, CTimelineStrip::kMinHeight);
    d.resize(d.width(), d.height() + 400);
    d.Layout(false, d.VideoWidth(), d.VideoHeight());
    EXPECT_GT(d.Timeline()->height(), strip + 50);
    EXPECT_EQ(d.Timeline()->geometry().top(), 25 + d.VideoHeight());
    EXPECT_EQ(d.Timeline()->geometry().bottom() + 1, d.height() - 75);
    d.OnCommand(kCommandTimeline);
    d.OnCommand(kCommandTimeline);
    // Client mode has no recording to show.
    d.SetViewMode(2);
    EXPECT_FALSE(d.Timeline()->isVisible());
    d.SetViewMode(1);
    d.SaveSettingsNow();
    EXPECT_NE(ReadProfile().find("Timeline=1"), std::string::npos);
    dlg.reset();
    CViewerDlg& again = Make();
    Show();
    EXPECT_TRUE(again.Timeline()->isVisible());
}

TEST_F(Timeline, MarksBelongToTheirRecording) {
    const std::string first = MakeScene(dir.filePath("first.qzf"));
    const std::string second = MakeScene(dir.filePath("second.qzf"));
    ASSERT_FALSE(first.empty() || second.empty());
    CViewerDlg& d = Make(first);
    std::vector<EvidenceRequest> offered;
    d.Prompts().exportEvidence = [&](const EvidenceRequest& r) { offered.push_back(r); };
    d.OnCommand(kCommandTimeline);
    d.Engine().Seek(d.Engine().GetStreamSize() / 4);
    ASSERT_GE(PausedSecond(), 0);
    d.OnCommand(kCommandMarkIn);
    d.Engine().Seek(d.Engine().GetStreamSize() / 2);
    ASSERT_GE(PausedSecond(), 0);
    d.OnCommand(kCommandMarkOut);
    ASSERT_TRUE(WaitFor([&] { return d.Timeline()->HasMarks(); }));
    d.OnCommand(kCommandExportEvidence);
    ASSERT_EQ(offered.size(), 1u);
    const uint32_t markedFrom = offered[0].fromUtc;
    EXPECT_LT(offered[0].toUtc - markedFrom, 60u);

    ASSERT_EQ(d.OpenSource(second, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return !d.Timeline()->HasMarks(); }));
    ASSERT_TRUE(WaitFor([&] {
        SYSTEMTIME t{};
        return d.Engine().GetFrameTime(&t) != 0;
    }));
    d.OnCommand(kCommandExportEvidence);
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[1].source, second);
    EXPECT_EQ(offered[1].toUtc - offered[1].fromUtc, 60u); // no range of the first one
}

TEST_F(Timeline, SpaceResumesTheWayPlayWasGoing) {
    const std::string path = MakeScene(dir.filePath("scene.qzf"));
    ASSERT_FALSE(path.empty());
    CViewerDlg& d = Make(path);
    d.Engine().Seek(d.Engine().GetStreamSize() / 2);
    ASSERT_GE(PausedSecond(), 0);
    d.OnCommand(kCommandPlayReverse);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetPlayState() == 3; }));
    d.PlayOrPause();
    ASSERT_GE(PausedSecond(), 0);
    d.PlayOrPause();
    EXPECT_TRUE(WaitFor([&] { return d.Engine().GetPlayState() == 3; }));
    d.OnCommand(kCommandPlay);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetPlayState() == 2; }));
    d.PlayOrPause();
    ASSERT_GE(PausedSecond(), 0);
    d.PlayOrPause();
    EXPECT_TRUE(WaitFor([&] { return d.Engine().GetPlayState() == 2; }));
}

TEST_F(Timeline, WalksThePeriodsOfTheChannelsShownAndSeeksWhereClicked) {
    const std::string path = MakeScene(dir.filePath("scene.qzf"));
    ASSERT_FALSE(path.empty());
    CViewerDlg& d = Make(path);
    Show();
    d.OnCommand(kCommandTimeline);
    CTimelineStrip* strip = d.Timeline();
    ASSERT_TRUE(WaitFor([&] {
        strip->Poll();
        return strip->IsIndexDone() && strip->IsExact() && !strip->Index().Empty();
    }));
    d.OnCommand(kCommandSplit4);
    d.OnCommand(kCommandNextEvent);
    EXPECT_NEAR(double(PausedSecond()), 5, 2);
    d.OnCommand(kCommandNextEvent);
    EXPECT_NEAR(double(PausedSecond()), 12, 2);
    d.OnCommand(kCommandPrevEvent);
    EXPECT_NEAR(double(PausedSecond()), 5, 2);
    // One channel shown: only its periods count, and the jump lands on that
    // channel's own first picture of the period's first second.
    d.Engine().SetSplit(1, 1);
    ASSERT_EQ(d.VisibleChannelMask(), 0x0002);
    std::atomic<int64_t> channelTwoAt{-1};
    d.Engine().SetPictureObserver(
        [&](int ch, uint64_t, const SYSTEMTIME& t, const uint8_t*, int, int) {
            if (ch == 1)
                channelTwoAt = LocalToBlockTime(t, GetTimeZoneBias()) - SceneStart();
        });
    ActivityEvent next;
    ASSERT_TRUE(strip->Index().NextEventStart(SceneStart() + 13, true, 0x0002, 0.01, &next));
    d.OnCommand(kCommandNextEvent);
    EXPECT_NEAR(double(PausedSecond()), 18, 2);
    EXPECT_EQ(channelTwoAt.load(), int64_t(next.start) - SceneStart());
    d.Engine().SetPictureObserver({});

    // A click lands on the second under the pointer.
    const int x = strip->XOfTime(SceneStart() + 10) + 1;
    const QPoint at(x, strip->height() - 5);
    SendMouse(strip, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    SendMouse(strip, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    EXPECT_NEAR(double(PausedSecond()), 10, 1);
    // The wheel zooms about the pointer, not below a minute.
    for (int i = 0; i < 10; ++i) {
        QWheelEvent e(QPointF(at), QPointF(strip->mapToGlobal(at)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(strip, &e);
    }
    EXPECT_EQ(strip->ViewTo() - strip->ViewFrom(), CTimelineStrip::kMinSpan);

    // The hover picture: one cell for the one channel shown, from its key picture.
    const QImage one = strip->Thumbnail(SceneStart() + 6, 1000);
    ASSERT_FALSE(one.isNull());
    EXPECT_EQ(one.size(), QSize(200, 70));
    EXPECT_GT(qGray(one.pixel(100, 35)), 40);
    // It comes up when the pointer rests on the strip.
    SendMouse(strip, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(WaitFor(
        [&] {
            for (QLabel* l : d.findChildren<QLabel*>())
                if (l->isVisible() && !l->pixmap().isNull())
                    return true;
            return false;
        },
        3000));
}

} // namespace
