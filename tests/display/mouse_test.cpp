#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <vector>

#include "display/messages.h"
#include "display_test_util.h"

namespace tv {
namespace {

using test::MakeWindow;

void Send(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button,
          Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, mods);
    QCoreApplication::sendEvent(w, &event);
}

// Keeps the posted messages its child window sends.
class CMessageSink : public QWidget {
public:
    std::vector<int> messages;

protected:
    bool event(QEvent* e) override {
        if (auto* m = dynamic_cast<CPostedMessage*>(e)) {
            messages.push_back(m->Message());
            EXPECT_EQ(m->WParam(), 0);
            EXPECT_EQ(m->LParam(), 0);
            return true;
        }
        return QWidget::event(e);
    }
};

TEST(DisplayMouse, DragReleaseAndDoubleClickCodes) {
    auto wnd = MakeWindow(400, 300, 1, 1);
    Send(wnd.get(), QEvent::MouseButtonPress, {10, 20}, Qt::LeftButton, Qt::LeftButton);
    MouseRecord r = wnd->GetMouseRecord();
    EXPECT_EQ(r.eventCode, 1);
    EXPECT_EQ(r.pending, 1);
    EXPECT_EQ(r.clientWidth, 400);
    EXPECT_EQ(r.clientHeight, 300);

    for (QPoint p : {QPoint(15, 25), QPoint(40, 60), QPoint(399, 299)}) {
        Send(wnd.get(), QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
        ASSERT_EQ(wnd->TakeMouseEvent(&r), 1);
        EXPECT_EQ(r.eventCode, 1);
        EXPECT_EQ(r.x, p.x());
        EXPECT_EQ(r.y, p.y());
        EXPECT_EQ(wnd->TakeMouseEvent(&r), 0); // taken
    }
    // Outside the client area nothing is recorded.
    Send(wnd.get(), QEvent::MouseMove, {400, 10}, Qt::NoButton, Qt::LeftButton);
    Send(wnd.get(), QEvent::MouseMove, {-1, 10}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(wnd->GetMouseRecord().pending, 0);
    EXPECT_EQ(wnd->GetMouseRecord().x, 399);

    Send(wnd.get(), QEvent::MouseButtonRelease, {50, 70}, Qt::LeftButton, Qt::NoButton);
    r = wnd->GetMouseRecord();
    EXPECT_EQ(r.eventCode, 0);
    EXPECT_EQ(r.x, 50);

    // Right-button drag, then a move with shift held keeps the code.
    Send(wnd.get(), QEvent::MouseMove, {60, 70}, Qt::NoButton, Qt::RightButton);
    EXPECT_EQ(wnd->GetMouseRecord().eventCode, 2);
    Send(wnd.get(), QEvent::MouseMove, {61, 71}, Qt::NoButton, Qt::NoButton, Qt::ShiftModifier);
    EXPECT_EQ(wnd->GetMouseRecord().eventCode, 2);
    EXPECT_EQ(wnd->GetMouseRecord().x, 61);
    Send(wnd.get(), QEvent::MouseMove, {62, 72}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(wnd->GetMouseRecord().eventCode, 0);

    Send(wnd.get(), QEvent::MouseButtonDblClick, {5, 5}, Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(wnd->GetMouseRecord().eventCode, 4);
    Send(wnd.get(), QEvent::MouseButtonDblClick, {6, 6}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(wnd->GetMouseRecord().eventCode, 3);
    // The release after a double-click leaves its code for the recorder.
    Send(wnd.get(), QEvent::MouseButtonRelease, {6, 6}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(wnd->GetMouseRecord().eventCode, 3);
}

TEST(DisplayMouse, DoubleClickShowsOneChannelAndReturnsToTheSplit) {
    CMessageSink parent;
    parent.resize(700, 500);
    auto wnd = std::make_unique<CVideoWnd>(&parent);
    wnd->SetChannelCount(16);
    wnd->setGeometry(0, 0, 600, 450);
    parent.show();
    ASSERT_EQ(wnd->SetSplit(9, 0), 1);

    const RECT cell = wnd->GetChannelRect(6); // bottom-left cell
    Send(wnd.get(), QEvent::MouseButtonDblClick, {cell.left + 10, cell.top + 10}, Qt::LeftButton,
         Qt::LeftButton);
    int split = 0;
    int page = 0;
    wnd->GetSplit(&split, &page);
    EXPECT_EQ(split, 1);
    EXPECT_EQ(page, 6);
    EXPECT_EQ(wnd->IsChannelVisible(6), 1);
    EXPECT_EQ(wnd->GetChannelRect(6), (RECT{0, 0, 600, 450}));

    Send(wnd.get(), QEvent::MouseButtonDblClick, {300, 200}, Qt::LeftButton, Qt::LeftButton);
    wnd->GetSplit(&split, &page);
    EXPECT_EQ(split, 9);
    EXPECT_EQ(page, 0);

    // From the second page of nine the return goes to that page.
    ASSERT_EQ(wnd->SetSplit(9, -1), 1);
    const RECT second = wnd->GetChannelRect(10);
    Send(wnd.get(), QEvent::MouseButtonDblClick, {second.left + 1, second.top + 1}, Qt::LeftButton,
         Qt::LeftButton);
    wnd->GetSplit(&split, &page);
    EXPECT_EQ(split, 1);
    EXPECT_EQ(page, 10);
    Send(wnd.get(), QEvent::MouseButtonDblClick, {1, 1}, Qt::LeftButton, Qt::LeftButton);
    wnd->GetSplit(&split, &page);
    EXPECT_EQ(split, 9);
    EXPECT_EQ(page, 1);

    QCoreApplication::processEvents();
    EXPECT_EQ(parent.messages, (std::vector<int>(4, kMsgSplitChanged)));
    wnd.reset();
}

TEST(DisplayMouse, DoubleClickInLiveViewCannotReturnToALargerSplit) {
    auto wnd = MakeWindow(320, 240, 4, 4);
    wnd->SetChannelCount(1); // live view
    ASSERT_EQ(wnd->SetSplit(1, 0), 1);
    Send(wnd.get(), QEvent::MouseButtonDblClick, {10, 10}, Qt::LeftButton, Qt::LeftButton);
    int split = 0;
    int page = 0;
    wnd->GetSplit(&split, &page);
    EXPECT_EQ(split, 1);
    EXPECT_EQ(page, 0);
}

} // namespace
} // namespace tv
