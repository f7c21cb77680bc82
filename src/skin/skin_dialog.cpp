#include "skin/skin_dialog.h"

#include "skin/skin_draw.h"
#include "skin/skin_resources.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QWindow>

namespace tv {

CSkinDialog::CSkinDialog(QWidget* parent) : QDialog(parent) {}

int CSkinDialog::SetBackground(int bitmapId) {
    QImage image = LoadSkinBitmap(bitmapId);
    if (image.isNull()) {
        m_background = QImage();
        m_canvas = QImage();
        update();
        return 0;
    }
    m_background = image;
    RebuildCanvas();
    update();
    return 1;
}

void CSkinDialog::SetCornerEllipse(int width, int height) {
    m_cornerWidth = width;
    m_cornerHeight = height;
    ApplyShape();
}

const QImage& CSkinDialog::BackgroundImage() const {
    if (!m_background.isNull() && m_canvas.size() != size()) {
        RebuildCanvas();
    }
    return m_canvas;
}

void CSkinDialog::RebuildCanvas() const {
    if (m_background.isNull() || width() <= 0 || height() <= 0) {
        m_canvas = QImage();
        return;
    }
    m_canvas = QImage(size(), QImage::Format_RGB32);
    // The slices leave the last row and column alone; they take the frame colour.
    m_canvas.fill(m_background.pixel(m_background.width() - 1, m_background.height() / 2));
    PaintNineSlice(m_canvas, m_background);
}

void CSkinDialog::ApplyShape() {
    if (m_cornerWidth <= 0 || m_cornerHeight <= 0) {
        clearMask();
        return;
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, width(), height()), m_cornerWidth / 2.0, m_cornerHeight / 2.0);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void CSkinDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    RebuildCanvas();
    ApplyShape();
    update();
}

void CSkinDialog::paintEvent(QPaintEvent* event) {
    const QImage& canvas = BackgroundImage();
    if (canvas.isNull()) {
        QDialog::paintEvent(event);
        return;
    }
    QPainter p(this);
    p.drawImage(event->rect().topLeft(), canvas, event->rect());
}

void CSkinDialog::BeginWindowMove(QMouseEvent* event) {
    QWindow* handle = window()->windowHandle();
    if (handle && handle->startSystemMove()) {
        return;
    }
    m_moving = true;
    m_moveGrab = event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
}

void CSkinDialog::mousePressEvent(QMouseEvent* event) {
    if (m_dragByClient && event->button() == Qt::LeftButton) {
        BeginWindowMove(event);
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void CSkinDialog::mouseMoveEvent(QMouseEvent* event) {
    if (m_moving && (event->buttons() & Qt::LeftButton)) {
        window()->move(event->globalPosition().toPoint() - m_moveGrab);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void CSkinDialog::mouseReleaseEvent(QMouseEvent* event) {
    if (m_moving && event->button() == Qt::LeftButton) {
        m_moving = false;
        event->accept();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

QImage CSkinDialog::BackgroundUnder(const QWidget* widget) {
    QImage out(widget->size(), QImage::Format_RGB32);
    const QWidget* parent = widget->parentWidget();
    out.fill(parent ? parent->palette().color(QPalette::Window)
                    : widget->palette().color(QPalette::Window));
    for (const QWidget* w = parent; w; w = w->parentWidget()) {
        const auto* skin = qobject_cast<const CSkinDialog*>(w);
        if (!skin) {
            continue;
        }
        const QImage& canvas = skin->BackgroundImage();
        if (canvas.isNull()) {
            break;
        }
        const QPoint at = widget->mapTo(skin, QPoint(0, 0));
        QPainter p(&out);
        p.drawImage(QPoint(0, 0), canvas, QRect(at, widget->size()));
        break;
    }
    return out;
}

} // namespace tv
