#include "skin/status_panel.h"

#include "skin/skin_draw.h"
#include "skin/skin_resources.h"

#include <QFontMetrics>
#include <QPainter>

namespace tv {

CStatusPanel::CStatusPanel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_font = QFont(QStringLiteral("Arial"));
    m_font.setPixelSize(14);
    m_font.setWeight(static_cast<QFont::Weight>(600));
}

int CStatusPanel::SetSprite(int bitmapId) {
    return SetSpriteSheet(LoadSkinBitmap(bitmapId));
}

int CStatusPanel::SetSpriteSheet(const QImage& sheet) {
    m_original = sheet.isNull() ? QImage() : sheet.convertToFormat(QImage::Format_RGB32);
    ApplyColourMap();
    update();
    return m_original.isNull() ? 0 : 1;
}

void CStatusPanel::SetColourMap(uint32_t colour1, uint32_t colour2, uint32_t background) {
    m_map[0] = colour1;
    m_map[1] = colour2;
    m_map[2] = background;
    ApplyColourMap();
    update();
}

void CStatusPanel::SetBackgroundColour(uint32_t colourRef) {
    m_background = colourRef;
    update();
}

void CStatusPanel::SetTextColour(uint32_t colourRef) {
    m_text = colourRef;
    update();
}

void CStatusPanel::ApplyColourMap() {
    m_sheet = m_original;
    if (m_sheet.isNull()) {
        return;
    }
    const QRgb from[3] = {RgbFromColorRef(kSheetColour1), RgbFromColorRef(kSheetColour2),
                          RgbFromColorRef(kSheetBackground)};
    const QRgb to[3] = {RgbFromColorRef(m_map[0]), RgbFromColorRef(m_map[1]),
                        RgbFromColorRef(m_map[2])};
    for (int y = 0; y < m_sheet.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_sheet.scanLine(y));
        for (int x = 0; x < m_sheet.width(); ++x) {
            const QRgb c = line[x] | 0xFF000000u;
            for (int i = 0; i < 3; ++i) {
                if (c == from[i]) {
                    line[x] = to[i];
                    break;
                }
            }
        }
    }
}

void CStatusPanel::SetPanelMode(int mode) {
    if (mode != m_mode) {
        m_mode = mode;
        update();
    }
}

void CStatusPanel::SetTexts(const QString& stateText, const QString& timeText) {
    m_stateText = stateText;
    m_timeText = timeText;
    update();
}

void CStatusPanel::SetNote(const QString& note) {
    m_note = note;
    setToolTip(note);
    update();
}

int CStatusPanel::PlayStateRow(int playState) {
    switch (playState) {
    case 0:
    case 1:
        return 64;
    case 2:
    case 4:
        return 16;
    case 3:
    case 5:
        return 32;
    case 6:
        return 48;
    case 7:
        return 80;
    default:
        return 0;
    }
}

void CStatusPanel::DrawSprite(QPainter& p, int sheetLeft, int sheetRight, int row,
                              QPoint at) const {
    if (m_sheet.isNull()) {
        return;
    }
    p.drawImage(at, m_sheet, QRect(sheetLeft, row, sheetRight - sheetLeft, 16));
}

// A long note loses its middle: what happened is said at its start, the file
// name is at its end.
void CStatusPanel::DrawNote(QPainter& p, int left) const {
    const int w = width() - left;
    if (m_note.isEmpty() || w <= 0) {
        return;
    }
    QFont font = m_font;
    font.setPixelSize(12);
    p.setFont(font);
    p.setPen(QColor::fromRgb(RgbFromColorRef(m_text)));
    const QString text = QFontMetrics(font).elidedText(m_note, Qt::ElideMiddle, w);
    p.drawText(QRect(left, 0, w, height()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               text);
}

QImage CStatusPanel::RenderImage() const {
    QImage out(size(), QImage::Format_RGB32);
    out.fill(QColor::fromRgb(RgbFromColorRef(m_background)));
    QPainter p(&out);
    if (m_mode == 2) {
        // Sprites sit 16 pixels further right on the sheet than on the panel.
        DrawSprite(p, 16, 118, m_connectionState * 16, QPoint(0, 0));
        const int row = m_connectionState == 3 ? 16 : 0;
        for (int i = 0; i < 8; ++i) {
            DrawSprite(p, 128 + 24 * i, 152 + 24 * i, row, QPoint(112 + 24 * i, 0));
        }
        DrawSprite(p, 356, 377, row, QPoint(340, 0));
        DrawNote(p, 368);
    } else {
        DrawSprite(p, 0, 16, PlayStateRow(m_playState), QPoint(4, 0));
        p.setFont(m_font);
        p.setPen(QColor::fromRgb(RgbFromColorRef(m_text)));
        const int h = height();
        p.drawText(QRect(32, 0, 200, h), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   m_stateText);
        if (m_note.isEmpty()) {
            p.drawText(QRect(252, 0, std::max(0, width() - 252), h),
                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_timeText);
        } else {
            DrawNote(p, 252);
        }
    }
    return out;
}

void CStatusPanel::paintEvent(QPaintEvent*) {
    QPainter(this).drawImage(0, 0, RenderImage());
}

} // namespace tv
