#include "skin/transparent_text.h"

#include "skin/skin_dialog.h"

#include <QPainter>

namespace tv {

CTransparentText::CTransparentText(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CTransparentText::SetText(const QString& text) {
    m_text = text;
    repaint();
}

void CTransparentText::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_cache = QImage();
}

void CTransparentText::paintEvent(QPaintEvent*) {
    if (m_cache.isNull() || m_cache.size() != size()) {
        m_cache = CSkinDialog::BackgroundUnder(this);
    }
    QImage canvas = m_cache;
    QPainter c(&canvas);
    c.setRenderHint(QPainter::TextAntialiasing);
    c.setFont(font());
    c.setPen(m_colour);
    c.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               fontMetrics().elidedText(m_text, Qt::ElideMiddle, width()));
    c.end();
    QPainter(this).drawImage(0, 0, canvas);
}

} // namespace tv
