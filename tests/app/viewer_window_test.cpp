// The main window's own behaviour around its modal loop, its ways out and the
// exports it runs.
#include "app/commands.h"
#include "app/viewer_app.h"
#include "app/viewer_dlg.h"
#include "skin/skin_button.h"
#include "viewer_fixture.h"

#include <QFileInfo>
#include <QMenu>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

namespace tv {
namespace {

using namespace tv::test;

// Every change of the always-on-top state, from the menu or from Options,
// while the window runs its modal loop as the application runs it.
TEST_F(Viewer, AlwaysOnTopKeepsTheWindowRunningAndIsSaved) {
    const std::string path = MakeSample(dir.filePath("top.qzf"), 30);
    CViewerDlg& d = Make(path);
    Show();
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetPlayState() == 2; }));
    d.Prompts().options = [](ViewerSettings* v) {
        v->alwaysOnTop = 0;
        return 1;
    };
    int step = 0;
    bool onTop = false;
    bool offAgain = false;
    bool playing = false;
    QObject context;
    QTimer::singleShot(0, &context, [&] {
        d.OnCommand(kCommandAlwaysOnTop);
        step = 1;
        QTimer::singleShot(50, &context, [&] {
            onTop = d.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint);
            d.OnCommand(kCommandOptions);
            step = 2;
            QTimer::singleShot(50, &context, [&] {
                offAgain = !d.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint);
                d.OnCommand(kCommandAlwaysOnTop);
                step = 3;
                QTimer::singleShot(50, &context, [&] {
                    playing = d.isVisible() && d.Engine().GetPlayState() == 2;
                    step = 4;
                    d.OnCommand(kCommandExit);
                });
            });
        });
    });
    d.exec();
    EXPECT_EQ(step, 4);
    EXPECT_TRUE(onTop);
    EXPECT_TRUE(offAgain);
    EXPECT_TRUE(playing);
    EXPECT_NE(ReadProfile().find("AlwaysOnTop=1"), std::string::npos) << ReadProfile();
}

TEST_F(Viewer, StopAviFinishesTheFileAfterCloseAndGivesBackThePresentation) {
    const std::string path = MakeSample(dir.filePath("avi.qzf"), 30);
    CViewerDlg& d = Make(path);
    Show();
    d.Engine().SetUseDirectDraw(0);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetPicturesShown() > 2; }));
    const std::string avi = dir.filePath("out.avi").toStdString();
    d.Prompts().saveAvi = [&](const std::string&) { return avi; };
    d.OnCommand(kCommandSaveAvi);
    ASSERT_TRUE(d.AviRunning());
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetAviWriter()->GetVideoFramesWritten() > 3; }));
    d.OnCommand(kCommandClose);
    ASSERT_EQ(d.Engine().GetPlayState(), 0);
    d.OnCommand(kCommandSaveAvi);
    EXPECT_FALSE(d.AviRunning());
    EXPECT_FALSE(d.Engine().GetAviWriter()->IsOpen());
    EXPECT_EQ(d.Button(kCommandSaveAvi)->BitmapId(), 374);
    EXPECT_GT(QFileInfo(QString::fromStdString(avi)).size(), 0);
    // The export drew through the surfaces; the user's choice comes back.
    EXPECT_EQ(d.Engine().GetUseDirectDraw(), 0);

    // Quitting during an export asks first; the choice saved is the user's.
    ASSERT_EQ(d.OpenSource(path, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetPlayState() == 2; }));
    d.Prompts().saveAvi = [&](const std::string&) { return dir.filePath("two.avi").toStdString(); };
    d.OnCommand(kCommandSaveAvi);
    ASSERT_TRUE(d.AviRunning());
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetUseDirectDraw() == 1; }));
    std::vector<QString> asked;
    int answer = 0;
    d.Prompts().askYesNo = [&](const QString& q) {
        asked.push_back(q);
        return answer;
    };
    QTest::keyClick(&d, Qt::Key_Escape);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(d.AviRunning());
    EXPECT_FALSE(d.SettingsSaved());
    answer = 1;
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_TRUE(d.SettingsSaved());
    EXPECT_NE(ReadProfile().find("Use DDraw=0"), std::string::npos) << ReadProfile();
}

TEST_F(Viewer, ARecordingOpensOnThePageThatHoldsItsChannels) {
    const std::string path = MakeSample(dir.filePath("four.qzf"), 5, 4);
    CViewerDlg& d = Make();
    int split = 0;
    int page = -1;
    d.Engine().SetSplit(4, 1);
    ASSERT_EQ(d.OpenSource(path, 0), 1);
    d.Engine().GetSplit(&split, &page);
    EXPECT_EQ(split, 4);
    EXPECT_EQ(page, 0);
    d.Engine().SetSplit(1, 6);
    ASSERT_EQ(d.OpenSource(path, 0), 1);
    d.Engine().GetSplit(&split, &page);
    EXPECT_EQ(split, 1);
    EXPECT_EQ(page, 0);
}

TEST_F(Viewer, ARightPressOnTheVideoOpensTheMenuOnce) {
    CViewerDlg& d = Make();
    Show();
    QMenu* menu = d.ContextMenu(1);
    int shown = 0;
    QObject::connect(menu, &QMenu::aboutToShow, [&] { ++shown; });
    SendMouse(d.GetVideoWindow(), QEvent::MouseButtonPress, QPoint(100, 100), Qt::RightButton,
              Qt::RightButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, 1);
    menu->hide();
}

TEST_F(ViewerWithRecorder, EscapeGoesToTheRecorderAndQuittingARecordingAsks) {
    StartSim("");
    CViewerApp app;
    CViewerDlg& d = Make();
    Show();
    ConnectToSim(d);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().IsConnected() != 0; }));
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.SettingsSaved());
    EXPECT_TRUE(d.isVisible());
    const uint64_t keys = sim->GetStats().keys;
    d.OnTimer(5);
    ASSERT_TRUE(WaitFor([&] { return sim->GetStats().keys > keys; }));

    d.MutableSettings().localRecordingPath = dir.filePath("rec").toStdString();
    d.OnCommand(kCommandStartRecording);
    ASSERT_TRUE(d.Engine().IsRecording());
    int asked = 0;
    int answer = 0;
    d.Prompts().askYesNo = [&](const QString&) {
        ++asked;
        return answer;
    };
    d.OnCommand(kCommandExit);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(d.Engine().IsRecording());
    EXPECT_FALSE(d.SettingsSaved());
    answer = 1;
    d.OnCommand(kCommandCloseButton);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(d.SettingsSaved());
    EXPECT_FALSE(d.Engine().IsRecording());
}

} // namespace
} // namespace tv
