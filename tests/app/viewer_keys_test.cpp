// The window's keys, mouse buttons, menus and small texts as a user meets them.
#include "app/capture_names.h"
#include "app/commands.h"
#include "app/skin_button.h"
#include "app/skin_slider.h"
#include "app/viewer_dlg.h"
#include "display/video_wnd.h"
#include "net/net_client.h"
#include "viewer_fixture.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QWindow>
#include <gtest/gtest.h>

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

} // namespace
} // namespace tv
