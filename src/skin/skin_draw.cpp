#include "skin/skin_draw.h"

#include <QPainter>

namespace tv {

namespace {
constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kBlack = 0xFF000000u;
} // namespace

QImage MakeTransparentMask(QImage& bitmap, uint32_t keyColour, QPoint keyAt) {
    if (bitmap.isNull()) {
        return {};
    }
    if (bitmap.format() != QImage::Format_RGB32) {
        bitmap = bitmap.convertToFormat(QImage::Format_RGB32);
    }
    QRgb key = RgbFromColorRef(keyColour & 0xFFFFFFu);
    if (keyColour == kKeyFromPixel) {
        QPoint p(qBound(0, keyAt.x(), bitmap.width() - 1),
                 qBound(0, keyAt.y(), bitmap.height() - 1));
        key = bitmap.pixel(p) | 0xFF000000u;
    }
    QImage mask(bitmap.size(), QImage::Format_RGB32);
    for (int y = 0; y < bitmap.height(); ++y) {
        auto* src = reinterpret_cast<QRgb*>(bitmap.scanLine(y));
        auto* dst = reinterpret_cast<QRgb*>(mask.scanLine(y));
        for (int x = 0; x < bitmap.width(); ++x) {
            if ((src[x] | 0xFF000000u) == key) {
                dst[x] = kWhite;
                src[x] = kBlack;
            } else {
                dst[x] = kBlack;
            }
        }
    }
    return mask;
}

void DrawMasked(QImage& destination, QPoint at, const QImage& bitmap, const QImage& mask,
                const QRect& src) {
    if (bitmap.isNull() || mask.isNull() || destination.isNull()) {
        return;
    }
    QRect source = src.intersected(bitmap.rect()).intersected(mask.rect());
    QRect target(at + (source.topLeft() - src.topLeft()), source.size());
    QRect clipped = target.intersected(destination.rect());
    if (clipped.isEmpty()) {
        return;
    }
    if (destination.format() != QImage::Format_RGB32 &&
        destination.format() != QImage::Format_ARGB32) {
        destination = destination.convertToFormat(QImage::Format_RGB32);
    }
    const QImage b = bitmap.format() == QImage::Format_RGB32
                         ? bitmap
                         : bitmap.convertToFormat(QImage::Format_RGB32);
    const QImage m =
        mask.format() == QImage::Format_RGB32 ? mask : mask.convertToFormat(QImage::Format_RGB32);
    const int dx = source.x() - target.x();
    const int dy = source.y() - target.y();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        auto* d = reinterpret_cast<QRgb*>(destination.scanLine(y));
        const auto* bs = reinterpret_cast<const QRgb*>(b.constScanLine(y + dy));
        const auto* ms = reinterpret_cast<const QRgb*>(m.constScanLine(y + dy));
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            d[x] = ((d[x] & ms[x + dx]) | bs[x + dx]) | 0xFF000000u;
        }
    }
}

void ComposeMaskedFrame(QImage& background, const QImage& frame, const QImage& mask) {
    if (background.isNull() || frame.size() != background.size() ||
        mask.size() != background.size()) {
        return;
    }
    if (background.format() != QImage::Format_RGB32) {
        background = background.convertToFormat(QImage::Format_RGB32);
    }
    const QImage f = frame.format() == QImage::Format_RGB32
                         ? frame
                         : frame.convertToFormat(QImage::Format_RGB32);
    const QImage m =
        mask.format() == QImage::Format_RGB32 ? mask : mask.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < background.height(); ++y) {
        auto* bg = reinterpret_cast<QRgb*>(background.scanLine(y));
        const auto* fr = reinterpret_cast<const QRgb*>(f.constScanLine(y));
        const auto* mk = reinterpret_cast<const QRgb*>(m.constScanLine(y));
        for (int x = 0; x < background.width(); ++x) {
            bg[x] = (((bg[x] ^ fr[x]) & mk[x]) ^ fr[x]) | 0xFF000000u;
        }
    }
}

void PaintNineSlice(QImage& into, const QImage& bitmap) {
    if (bitmap.isNull() || into.isNull()) {
        return;
    }
    const int cw = into.width();
    const int ch = into.height();
    const int bw = bitmap.width();
    const int bh = bitmap.height();
    const int hw = bw / 2;
    const int hh = bh / 2;
    QPainter p(&into);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    // Edges first so that, on a window smaller than the bitmap, the corners win.
    if (cw - bw > 0) {
        p.drawImage(QRect(hw, ch - hh - 1, cw - bw, hh), bitmap, QRect(hw, hh, bw / 10, hh));
        p.drawImage(QRect(hw, 0, cw - bw, hh), bitmap, QRect(hw, 0, bw / 10, hh));
    }
    if (ch - bh > 0) {
        p.drawImage(QRect(0, hh, hw, ch - bh), bitmap, QRect(0, hh, hw, bh / 10));
        p.drawImage(QRect(cw - hw - 1, hh, hw, ch - bh), bitmap, QRect(hw, hh, hw, bh / 10));
    }
    p.drawImage(QPoint(0, 0), bitmap, QRect(0, 0, hw, hh));
    p.drawImage(QPoint(cw - hw - 1, 0), bitmap, QRect(hw, 0, hw, hh));
    p.drawImage(QPoint(0, ch - hh - 1), bitmap, QRect(0, hh, hw, hh));
    p.drawImage(QPoint(cw - hw - 1, ch - hh - 1), bitmap, QRect(hw, hh, hw, hh));
}

} // namespace tv
