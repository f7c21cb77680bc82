#include "skin/skin_button.h"

#include "skin/skin_dialog.h"
#include "skin/skin_draw.h"
#include "skin/skin_resources.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

namespace tv {

QString TooltipText(const QString& text) {
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'&') {
            if (i + 1 < text.size() && text[i + 1] == u'&') {
                out += u'&';
                ++i;
            }
            continue;
        }
        out += c == u'\t' ? QChar(u' ') : c;
    }
    return out;
}

CSkinButton::CSkinButton(QWidget* parent, Kind kind, int controlId)
    : QAbstractButton(parent), m_kind(kind), m_controlId(controlId) {
    setCheckable(kind != kPush);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int CSkinButton::SetImage(int bitmapId, bool transparent) {
    m_bitmapId = bitmapId;
    return SetImageStrip(LoadSkinBitmap(bitmapId), transparent);
}

int CSkinButton::SetImageStrip(const QImage& strip, bool transparent) {
    for (QImage& f : m_frames) {
        f = QImage();
    }
    m_mask = QImage();
    m_transparent = transparent;
    const int count = transparent ? 5 : 4;
    if (strip.isNull() || strip.width() < count) {
        update();
        return 0;
    }
    const QImage rgb = strip.convertToFormat(QImage::Format_RGB32);
    const int fw = rgb.width() / count;
    for (int i = 0; i < 4; ++i) {
        m_frames[i] = rgb.copy(i * fw, 0, fw, rgb.height());
    }
    if (transparent) {
        m_mask = rgb.copy(4 * fw, 0, fw, rgb.height());
    }
    resize(fw, rgb.height());
    update();
    return 1;
}

void CSkinButton::SetTooltip(int stringId) {
    setToolTip(TooltipText(LoadResString(stringId)));
}

QSize CSkinButton::sizeHint() const {
    return m_frames[0].isNull() ? QSize(16, 16) : m_frames[0].size();
}

int CSkinButton::GetCheck() const {
    return isChecked() ? 1 : 0;
}

void CSkinButton::SetCheck(int check) {
    if (m_kind == kPush) {
        return;
    }
    setChecked(check != 0);
    if (check && m_kind == kRadio) {
        ClearGroupChecks();
    }
    update();
}

void CSkinButton::ClearGroupChecks() {
    if (!parentWidget()) {
        return;
    }
    for (CSkinButton* other :
         parentWidget()->findChildren<CSkinButton*>(Qt::FindDirectChildrenOnly)) {
        if (other != this && other->m_kind == kRadio && other->m_group == m_group &&
            other->isChecked()) {
            QEvent message(static_cast<QEvent::Type>(kMsgClearRadioCheck));
            QCoreApplication::sendEvent(other, &message);
        }
    }
}

void CSkinButton::nextCheckState() {
    if (m_kind == kToggle) {
        setChecked(!isChecked());
    } else if (m_kind == kRadio) {
        SetCheck(1);
    }
}

bool CSkinButton::event(QEvent* event) {
    if (event->type() == static_cast<QEvent::Type>(kMsgClearRadioCheck)) {
        setChecked(false);
        update();
        return true;
    }
    return QAbstractButton::event(event);
}

int CSkinButton::CurrentFrame() const {
    if (!isEnabled()) {
        return 3;
    }
    if (isDown() || isChecked()) {
        return 1;
    }
    return m_hover ? 2 : 0;
}

QImage CSkinButton::RenderImage() const {
    const int frame = CurrentFrame();
    QImage out;
    if (m_frames[frame].isNull()) {
        out = CSkinDialog::BackgroundUnder(this);
    } else if (m_transparent) {
        out = CSkinDialog::BackgroundUnder(this);
        if (out.size() != m_frames[frame].size()) {
            QImage sized(m_frames[frame].size(), QImage::Format_RGB32);
            sized.fill(out.isNull() ? Qt::black : QColor(out.pixel(0, 0)));
            QPainter(&sized).drawImage(0, 0, out);
            out = sized;
        }
        ComposeMaskedFrame(out, m_frames[frame], m_mask);
    } else {
        out = m_frames[frame].copy();
    }
    QPainter p(&out);
    const bool sunk = frame == 1;
    if (m_edge) {
        const QColor light(255, 255, 255, 160);
        const QColor dark(0, 0, 0, 160);
        const QRect r = out.rect().adjusted(0, 0, -1, -1);
        p.setPen(sunk ? dark : light);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(sunk ? light : dark);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
    }
    if (!text().isEmpty()) {
        const int inset = m_textInset + 2;
        QRect textRect = out.rect().adjusted(inset, inset, -inset, -inset);
        if (sunk) {
            textRect.translate(1, 1);
        }
        p.setFont(font());
        if (!isEnabled()) {
            p.setPen(palette().color(QPalette::Light));
            p.drawText(textRect.translated(1, 1), Qt::AlignCenter | Qt::TextSingleLine, text());
            p.setPen(palette().color(QPalette::Disabled, QPalette::ButtonText));
        } else {
            p.setPen(palette().color(QPalette::ButtonText));
        }
        p.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text());
    }
    if (hasFocus() && m_textInset > 0) {
        p.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
        p.drawRect(
            out.rect().adjusted(m_textInset, m_textInset, -m_textInset - 1, -m_textInset - 1));
    }
    return out;
}

void CSkinButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, RenderImage());
}

void CSkinButton::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) && !m_hover && isEnabled()) {
        m_hover = true;
        update();
    }
    QAbstractButton::mouseMoveEvent(event);
}

void CSkinButton::mousePressEvent(QMouseEvent* event) {
    m_hover = false;
    QAbstractButton::mousePressEvent(event);
    update();
}

void CSkinButton::leaveEvent(QEvent* event) {
    if (m_hover) {
        m_hover = false;
        update();
    }
    QAbstractButton::leaveEvent(event);
}

void CSkinButton::focusOutEvent(QFocusEvent* event) {
    if (QWidget::mouseGrabber() == this) {
        releaseMouse();
    }
    QAbstractButton::focusOutEvent(event);
}

void CSkinButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        m_hover = false;
        update();
    }
    QAbstractButton::changeEvent(event);
}

} // namespace tv
