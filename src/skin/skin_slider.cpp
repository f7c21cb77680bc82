#include "skin/skin_slider.h"

#include "app/app_message.h"
#include "skin/skin_button.h"
#include "skin/skin_dialog.h"
#include "skin/skin_draw.h"
#include "skin/skin_resources.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <limits>

namespace tv {

namespace {

// Stretches a track bitmap to a width, keeping its end caps unscaled.
QImage StretchTrack(const QImage& image, int width) {
    if (image.isNull() || image.width() == width || width <= 0) {
        return image;
    }
    QImage out(width, image.height(), QImage::Format_RGB32);
    QPainter p(&out);
    const int cap = std::min(4, image.width() / 3);
    if (cap == 0 || width < 2 * cap) {
        p.drawImage(out.rect(), image);
        return out;
    }
    p.drawImage(QPoint(0, 0), image, QRect(0, 0, cap, image.height()));
    p.drawImage(QRect(cap, 0, width - 2 * cap, image.height()), image,
                QRect(cap, 0, image.width() - 2 * cap, image.height()));
    p.drawImage(QPoint(width - cap, 0), image, QRect(image.width() - cap, 0, cap, image.height()));
    return out;
}

} // namespace

CSkinSlider::CSkinSlider(QWidget* parent, int controlId) : QWidget(parent), m_controlId(controlId) {
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int CSkinSlider::SetTrackImages(int firstId, int secondId, bool transparent, uint32_t keyColour) {
    QImage first = LoadSkinBitmap(firstId);
    QImage second;
    if (secondId != 0) {
        second = LoadSkinBitmap(secondId);
        if (second.isNull()) {
            first = QImage();
        }
    }
    return SetTrackBitmaps(first, second, transparent, keyColour);
}

int CSkinSlider::SetTrackBitmaps(const QImage& first, const QImage& second, bool transparent,
                                 uint32_t keyColour) {
    for (int i = 0; i < 2; ++i) {
        m_track[i] = QImage();
        m_trackMask[i] = QImage();
    }
    Invalidate();
    if (first.isNull()) {
        return 0;
    }
    m_track[0] = first.convertToFormat(QImage::Format_RGB32);
    m_track[1] = second.isNull() ? QImage() : second.convertToFormat(QImage::Format_RGB32);
    if (transparent) {
        for (int i = 0; i < 2; ++i) {
            if (!m_track[i].isNull()) {
                m_trackMask[i] = MakeTransparentMask(m_track[i], keyColour);
            }
        }
    }
    resize(m_track[0].size());
    return 1;
}

int CSkinSlider::SetThumbImages(int normalId, int secondId, bool transparent, uint32_t keyColour) {
    QImage normal = LoadSkinBitmap(normalId);
    QImage second;
    if (secondId != 0) {
        second = LoadSkinBitmap(secondId);
        if (second.isNull()) {
            normal = QImage();
        }
    }
    return SetThumbBitmaps(normal, second, transparent, keyColour);
}

int CSkinSlider::SetThumbBitmaps(const QImage& normal, const QImage& second, bool transparent,
                                 uint32_t keyColour) {
    for (int i = 0; i < 2; ++i) {
        m_thumb[i] = QImage();
        m_thumbMask[i] = QImage();
    }
    Invalidate();
    if (normal.isNull()) {
        return 0;
    }
    m_thumb[0] = normal.convertToFormat(QImage::Format_RGB32);
    m_thumb[1] = second.isNull() ? QImage() : second.convertToFormat(QImage::Format_RGB32);
    if (transparent) {
        for (int i = 0; i < 2; ++i) {
            if (!m_thumb[i].isNull()) {
                m_thumbMask[i] = MakeTransparentMask(m_thumb[i], keyColour);
            }
        }
    }
    return 1;
}

void CSkinSlider::SetMargins(int left, int top, int right, int bottom) {
    m_left = left;
    m_top = top;
    m_right = right;
    m_bottom = bottom;
    Invalidate();
}

void CSkinSlider::SetFillMode(bool on) {
    m_fill = on;
    Invalidate();
}

void CSkinSlider::SetRange(int64_t minimum, int64_t maximum, bool redraw) {
    m_minimum = minimum;
    m_maximum = maximum;
    m_position = std::clamp(m_position, m_minimum, std::max(m_minimum, m_maximum));
    m_trackDirty = true;
    if (redraw) {
        update();
    }
}

void CSkinSlider::SetPosition(int64_t position) {
    position = std::clamp(position, m_minimum, std::max(m_minimum, m_maximum));
    if (position == m_position) {
        return;
    }
    const QRect before = m_thumbRect;
    m_position = position;
    if (m_fill) {
        update();
        return;
    }
    const int t = ThumbWidth();
    const QRect after(ThumbCentre() - t / 2, m_top, t, m_thumb[0].height());
    update(before.united(after));
}

void CSkinSlider::SetTooltip(int stringId) {
    SetTooltipText(TooltipText(LoadResString(stringId)));
}

void CSkinSlider::SetTooltipText(const QString& text) {
    setToolTip(text);
}

int CSkinSlider::ThumbWidth() const {
    return m_thumb[0].isNull() ? 0 : m_thumb[0].width();
}

int CSkinSlider::ThumbCentreFor(int64_t v, int64_t minimum, int64_t maximum, int w, int t, int l,
                                int r) {
    const int64_t span = static_cast<int64_t>(w) - r - t - l;
    int64_t offset = v - minimum;
    if (maximum > minimum) {
        // Done in 128 bits: positions count 4096-byte blocks of recordings that
        // can be terabytes long, times a span of a few thousand pixels.
        offset = static_cast<int64_t>(static_cast<__int128>(offset) * span / (maximum - minimum));
    }
    const int64_t centre = l + offset + t / 2;
    return static_cast<int>(std::clamp<int64_t>(centre, std::numeric_limits<int>::min(),
                                                std::numeric_limits<int>::max()));
}

int64_t CSkinSlider::ValueFor(int x, int64_t minimum, int64_t maximum, int w, int t, int l, int r) {
    const int64_t span = static_cast<int64_t>(w) - r - l - t;
    if (span <= 0) {
        return minimum;
    }
    const int64_t offset = static_cast<int64_t>(x) - t / 2 - l;
    return minimum +
           static_cast<int64_t>(static_cast<__int128>(offset) * (maximum - minimum) / span);
}

int CSkinSlider::ThumbCentre() const {
    return ThumbCentreFor(m_position, m_minimum, m_maximum, width(), ThumbWidth(), m_left, m_right);
}

void CSkinSlider::DrawTrackImage(QImage& canvas, const QImage& image, const QImage& mask, int from,
                                 int to) {
    if (image.isNull() || to <= from) {
        return;
    }
    const QImage stretched = StretchTrack(image, canvas.width());
    const QRect src(from, 0, to - from, stretched.height());
    if (!mask.isNull()) {
        DrawMasked(canvas, QPoint(from, 0), stretched, StretchTrack(mask, canvas.width()), src);
    } else {
        QPainter(&canvas).drawImage(QPoint(from, 0), stretched, src);
    }
}

void CSkinSlider::DrawTrack(QImage& canvas, int centre) {
    const int w = canvas.width();
    if (m_fill && !m_track[1].isNull()) {
        const int split = std::clamp(centre, 0, w);
        DrawTrackImage(canvas, m_track[1], m_trackMask[1], 0, split);
        DrawTrackImage(canvas, m_track[0], m_trackMask[0], split, w);
    } else {
        DrawTrackImage(canvas, m_track[0], m_trackMask[0], 0, w);
    }
}

void CSkinSlider::Render() {
    const int centre = ThumbCentre();
    if (m_canvas.size() != size() || m_trackDirty || m_fill) {
        m_canvas = CSkinDialog::BackgroundUnder(this);
        DrawTrack(m_canvas, centre);
        m_underThumb = QImage();
        m_trackDirty = false;
    } else if (!m_underThumb.isNull()) {
        QPainter(&m_canvas).drawImage(m_thumbRect.topLeft(), m_underThumb);
    }
    const int k = (m_dragging && !m_thumb[1].isNull()) ? 1 : 0;
    if (m_thumb[k].isNull()) {
        m_underThumb = QImage();
        m_thumbRect = QRect();
        return;
    }
    m_thumbRect = QRect(QPoint(centre - m_thumb[k].width() / 2, m_top), m_thumb[k].size());
    m_underThumb = m_canvas.copy(m_thumbRect);
    if (!m_thumbMask[k].isNull()) {
        DrawMasked(m_canvas, m_thumbRect.topLeft(), m_thumb[k], m_thumbMask[k], m_thumb[k].rect());
    } else {
        QPainter(&m_canvas).drawImage(m_thumbRect.topLeft(), m_thumb[k]);
    }
}

QImage CSkinSlider::RenderImage() {
    Render();
    return m_canvas;
}

void CSkinSlider::paintEvent(QPaintEvent*) {
    Render();
    QPainter p(this);
    p.drawImage(0, 0, m_canvas);
    if (m_focus) {
        p.setPen(QPen(QColor(255, 255, 255, 140), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CSkinSlider::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_trackDirty = true;
}

void CSkinSlider::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // What shows through the track's transparent parts lies elsewhere now.
    m_trackDirty = true;
}

void CSkinSlider::Post(int message) {
    PostWindowMessage(parentWidget(), message, m_controlId, static_cast<intptr_t>(m_position));
}

void CSkinSlider::MoveThumbTo(int centre) {
    const int t = ThumbWidth();
    const int lo = m_left + t / 2;
    const int hi = std::max(lo, width() - m_right - t / 2);
    centre = std::clamp(centre, lo, hi);
    if (centre == ThumbCentre()) {
        return;
    }
    SetPosition(ValueFor(centre, m_minimum, m_maximum, width(), t, m_left, m_right));
    Post(kMsgSliderMoving);
}

void CSkinSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_dragging = true;
    const int x = static_cast<int>(event->position().x());
    const int centre = ThumbCentre();
    const int t = ThumbWidth();
    m_grabOffset = std::abs(x - centre) <= t / 2 ? x - centre : 0;
    update();
    MoveThumbTo(x - m_grabOffset);
}

void CSkinSlider::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragging) {
        MoveThumbTo(static_cast<int>(event->position().x()) - m_grabOffset);
    }
}

void CSkinSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_dragging) {
        return;
    }
    m_dragging = false;
    update();
    Post(kMsgSliderSet);
}

namespace {

bool IsSliderKey(const QKeyEvent* event) {
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        return false;
    }
    switch (event->key()) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_End:
    case Qt::Key_Home:
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
        return true;
    default:
        return false;
    }
}

} // namespace

// The window binds the same keys to seeks and jumps; with the focus here they
// move the slider, as they do on any slider.
bool CSkinSlider::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && IsSliderKey(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void CSkinSlider::keyPressEvent(QKeyEvent* event) {
    int64_t position = m_position;
    switch (event->key()) {
    case Qt::Key_PageUp:
        position -= m_page;
        break;
    case Qt::Key_PageDown:
        position += m_page;
        break;
    case Qt::Key_End:
        position = m_maximum;
        break;
    case Qt::Key_Home:
        position = m_minimum;
        break;
    case Qt::Key_Left:
    case Qt::Key_Up:
        position -= 1;
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        position += 1;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    SetPosition(position);
    Post(kMsgSliderSet);
}

void CSkinSlider::focusInEvent(QFocusEvent* event) {
    m_focus = true;
    update();
    QWidget::focusInEvent(event);
}

void CSkinSlider::focusOutEvent(QFocusEvent* event) {
    m_focus = false;
    update();
    QWidget::focusOutEvent(event);
}

} // namespace tv
