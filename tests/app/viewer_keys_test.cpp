// The window's keys, mouse buttons, menus and small texts as a user meets them.
#include "app/capture_names.h"
#include "app/commands.h"
#include "app/viewer_dlg.h"
#include "display/video_wnd.h"
#include "net/net_client.h"
#include "skin/skin_button.h"
#include "skin/skin_slider.h"
#include "viewer_fixture.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QWindow>
#include <gtest/gtest.h>
#include <utility>

namespace tv {
namespace {

using namespace tv::test;

// Ctrl+G on the window, then the keys a user types into the dialog that
// opens; what the dialog shows afterwards, empty when it closed.
QString TypeIntoGoToTime(CViewerDlg& d, const QString& text) {
    QString left;
    d.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&d));
    QTimer::singleShot(0, &d, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr) {
            return;
        }
        (void)QTest::qWaitForWindowActive(dialog);
        QWidget* box = QApplication::focusWidget();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Return);
        if (dialog->isVisible()) {
            for (QLabel* label : dialog->findChildren<QLabel*>()) {
                if (label->isVisible()) {
                    left += label->text();
                }
            }
            dialog->close();
        }
    });
    QTest::keyClick(&d, Qt::Key_G, Qt::ControlModifier);
    return left;
}

TEST_F(Viewer, GoToTimeTakesTypedTextAndSaysWhatIsNotThere) {
    realGoToTime = true;
    const std::string path = MakeSample(dir.filePath("typed.qzf"), 30);
    CViewerDlg& d = Make(path);
    Show();
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetPlayState() == 2; }));
    d.OnCommand(kCommandPause);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetPlayState() == 6; }));
    SYSTEMTIME t{};
    ASSERT_TRUE(d.Engine().GetFrameTime(&t));
    const QString day = QString::asprintf("%04u/%02u/%02u", t.wYear, t.wMonth, t.wDay);
    auto second = [&] {
        SYSTEMTIME now{};
        return d.Engine().GetFrameTime(&now) ? now.wSecond : -1;
    };

    TypeIntoGoToTime(d, day + " 12:00:20");
    EXPECT_TRUE(WaitFor([&] { return second() == 20 || second() == 21; })) << second();
    QString dashed = day;
    TypeIntoGoToTime(d, dashed.replace(u'/', u'-') + " 12:00:09");
    EXPECT_TRUE(WaitFor([&] { return second() == 9 || second() == 10; })) << second();
    EXPECT_TRUE(messages.empty());

    // A day that does not exist keeps the dialog open and says so.
    const QString refused = TypeIntoGoToTime(d, QStringLiteral("2024-02-31 12:00:00"));
    EXPECT_TRUE(refused.contains(QStringLiteral("2024-02-31"))) << refused.toStdString();
    // Before the recording: said, and the picture stays where it was.
    TypeIntoGoToTime(d, QStringLiteral("2023/11/14 22:20:45"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("not in this recording"), std::string::npos) << messages[0];
    EXPECT_TRUE(second() == 9 || second() == 10) << second();
}

TEST_F(Viewer, InClientModeTheRightButtonOnTheVideoBelongsToTheRecorder) {
    CViewerDlg& d = Make();
    d.SetViewMode(2);
    Show();
    CNetClient::SetMouseRemoteMode(1);
    QMenu* menu = d.ContextMenu(2);
    int shown = 0;
    QObject::connect(menu, &QMenu::aboutToShow, &d, [&] { ++shown; });
    // How often the menu opened since the last look; it is closed again.
    auto opened = [&] {
        menu->hide();
        return std::exchange(shown, 0);
    };
    CVideoWnd* video = d.GetVideoWindow();
    QWindow* window = d.windowHandle();
    const QPoint at = video->mapTo(&d, QPoint(40, 30));
    video->TakeMouseEvent(nullptr);

    QTest::mousePress(window, Qt::RightButton, {}, at);
    QTest::mouseMove(window, at + QPoint(10, 5));
    MouseRecord r{};
    ASSERT_TRUE(video->TakeMouseEvent(&r));
    EXPECT_EQ(r.eventCode, kMouseRightDrag);
    EXPECT_EQ(r.x, 50);
    QTest::mouseRelease(window, Qt::RightButton, {}, at + QPoint(10, 5));
    QTest::mouseDClick(window, Qt::RightButton, {}, at);
    ASSERT_TRUE(video->TakeMouseEvent(&r));
    EXPECT_EQ(r.eventCode, kMouseRightDouble);
    EXPECT_EQ(opened(), 0);

    // The menu keys and the rest of the window still open the menu.
    QTest::keyClick(&d, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(opened(), 1);
    QTest::keyClick(&d, Qt::Key_Menu);
    EXPECT_EQ(opened(), 1);
    // On the control bar: a recorder button, disabled without a session.
    const QPoint bar(d.width() / 2, d.height() - 30);
    QTest::mousePress(window, Qt::RightButton, {}, bar);
    QTest::mouseRelease(window, Qt::RightButton, {}, bar);
    EXPECT_EQ(opened(), 1);
    // With the remote mouse off the video opens it too.
    CNetClient::SetMouseRemoteMode(0);
    QTest::mousePress(window, Qt::RightButton, {}, at);
    QTest::mouseRelease(window, Qt::RightButton, {}, at);
    EXPECT_EQ(opened(), 1);
    CNetClient::SetMouseRemoteMode(1);
}

TEST_F(Viewer, AFocusedSliderKeepsItsKeys) {
    const std::string path = MakeSample(dir.filePath("keys.qzf"), 30);
    CViewerDlg& d = Make(path);
    Show();
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetPlayState() == 2; }));
    d.OnCommand(kCommandPause);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetPlayState() == 6; }));
    CSkinSlider* volume = d.VolumeSlider();
    volume->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), volume);
    volume->SetPosition(30000);
    struct {
        Qt::Key key;
        int64_t expect;
    } steps[] = {{Qt::Key_Right, 30001}, {Qt::Key_PageDown, 34097}, {Qt::Key_Home, 0}};
    for (const auto& s : steps) {
        QTest::keyClick(volume, s.key);
        EXPECT_EQ(volume->GetPosition(), s.expect) << s.key;
    }
    // Away from the slider the keys are the player's again.
    d.setFocus();
    const uint64_t before = d.Engine().GetPosition();
    QTest::keyClick(&d, Qt::Key_Right);
    EXPECT_TRUE(WaitFor([&] { return d.Engine().GetPosition() != before; }));
}

TEST_F(Viewer, TheControlButtonsNameTheirCommandsWhileAnotherWindowIsActive) {
    CViewerDlg& d = Make();
    Show();
    for (const ButtonInfo& info : kButtons) {
        EXPECT_EQ(d.Button(info.id)->toolTip().isEmpty(), info.id == kCommandAppIcon) << info.id;
    }
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    QTest::mouseMove(d.windowHandle(), d.Button(kCommandPlayReverse)->mapTo(&d, QPoint(6, 6)));
    EXPECT_TRUE(WaitFor([] { return QToolTip::isVisible(); }, 10000));
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Play Reverse"));
}

TEST(CaptureNames, ANameLeadingAnywhereIsTakenAndNoneLeftGivesNone) {
    QTemporaryDir dir;
    const std::string recording = dir.filePath("rec.qzf").toStdString();
    QFile(QString::fromStdString(recording)).open(QIODevice::WriteOnly);
    const std::string base = dir.filePath("shot.bmp").toStdString();
    ASSERT_TRUE(QFile::link(dir.filePath("gone"), QString::fromStdString(base)));
    EXPECT_EQ(UniquePath(base), dir.filePath("shot-2.bmp").toStdString());
    ASSERT_TRUE(QFile::remove(QString::fromStdString(base)));
    ASSERT_TRUE(QFile::link(QString::fromStdString(recording), QString::fromStdString(base)));
    for (int n = 2; n < 10000; ++n) {
        QFile(dir.filePath(QStringLiteral("shot-%1.bmp").arg(n))).open(QIODevice::WriteOnly);
    }
    EXPECT_EQ(UniquePath(base), "");
}

} // namespace
} // namespace tv
