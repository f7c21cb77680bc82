#include "display/video_wnd.h"

// Mouse events kept for the recorder's remote control, and the double-click
// that toggles between a split and one channel.

#include <QMouseEvent>

#include "display/messages.h"

namespace tv {

MouseRecord CVideoWnd::GetMouseRecord() const {
    std::lock_guard<std::mutex> lock(m_mouseLock);
    return m_mouse;
}

int CVideoWnd::TakeMouseEvent(MouseRecord* record) {
    std::lock_guard<std::mutex> lock(m_mouseLock);
    if (!m_mouse.pending) {
        return 0;
    }
    if (record != nullptr) {
        *record = m_mouse;
    }
    m_mouse.pending = 0;
    return 1;
}

void CVideoWnd::ClearMousePending() {
    std::lock_guard<std::mutex> lock(m_mouseLock);
    m_mouse.pending = 0;
}

bool CVideoWnd::RecordMouse(int x, int y, int code, bool setCode) {
    const int w = width();
    const int h = height();
    if (x < 0 || y < 0 || x >= w || y >= h) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mouseLock);
    m_mouse.x = x;
    m_mouse.y = y;
    m_mouse.clientWidth = w;
    m_mouse.clientHeight = h;
    m_mouse.pending = 1;
    if (setCode) {
        m_mouse.eventCode = code;
    }
    return true;
}

void CVideoWnd::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    int flags = 0;
    if (event->buttons() & Qt::LeftButton) {
        flags |= 1;
    }
    if (event->buttons() & Qt::RightButton) {
        flags |= 2;
    }
    if (event->modifiers() & Qt::ShiftModifier) {
        flags |= 4;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        flags |= 8;
    }
    if (event->buttons() & Qt::MiddleButton) {
        flags |= 0x10;
    }
    RecordMouse(pos.x(), pos.y(), flags, flags <= 2);
}

void CVideoWnd::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint pos = event->position().toPoint();
        RecordMouse(pos.x(), pos.y(), kMouseLeftDown, true);
        return;
    }
    QWidget::mousePressEvent(event);
}

void CVideoWnd::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint pos = event->position().toPoint();
        int code = GetMouseRecord().eventCode;
        RecordMouse(pos.x(), pos.y(), kMouseMove,
                    code == kMouseLeftDown || code == kMouseRightDrag);
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void CVideoWnd::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        RecordMouse(pos.x(), pos.y(), kMouseRightDouble, true);
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    RecordMouse(pos.x(), pos.y(), kMouseLeftDouble, true);
    {
        CsLock lock(m_lock);
        if (m_split == 4 || m_split == 9 || m_split == 16) {
            for (int i = 0; i < m_channelCount; ++i) {
                const RECT& r = m_windowRects[i];
                if (m_visible[i] && pos.x() >= r.left && pos.x() < r.right && pos.y() >= r.top &&
                    pos.y() < r.bottom) {
                    SetSplit(1, i);
                    break;
                }
            }
        } else {
            SetSplit(m_rememberedSplit, m_rememberedPage);
        }
    }
    PostWindowMessage(parentWidget(), kMsgSplitChanged);
}

} // namespace tv
