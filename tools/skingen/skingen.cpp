// Draws the viewer's skin: every bitmap the main window uses, as PNG files
// named after their resource ids. Restyle the skin by changing the palette or
// the pictograms here and running `skingen <resource folder>`.
#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cstdio>
#include <functional>
#include <string>

namespace {

// The palette of the dark theme.
const QColor kBody(0x15, 0x18, 0x1d);
const QColor kTitleTop(0x2b, 0x31, 0x3a);
const QColor kTitleBottom(0x1e, 0x22, 0x29);
const QColor kBorder(0x44, 0x4c, 0x58);
const QColor kShadow(0x0a, 0x0c, 0x0f);
const QColor kAccent(0x3f, 0xb5, 0xff);
const QColor kAccentDark(0x17, 0x40, 0x67);
const QColor kGlyph(0xd6, 0xdc, 0xe5);
const QColor kGlyphHover(0xff, 0xff, 0xff);
const QColor kGlyphDisabled(0x4c, 0x53, 0x5e);
const QColor kFaceTop(0x33, 0x39, 0x43);
const QColor kFaceBottom(0x26, 0x2b, 0x33);
const QColor kFaceHoverTop(0x41, 0x49, 0x55);
const QColor kFaceHoverBottom(0x31, 0x37, 0x41);
const QColor kFacePressedTop(0x12, 0x2e, 0x47);
const QColor kFacePressedBottom(0x17, 0x40, 0x67);
const QColor kRecord(0xf0, 0x45, 0x45);
const QColor kMagenta(0xff, 0x00, 0xff);

QString g_out;

bool Save(const QImage& image, const QString& name) {
    const QString path = g_out + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

using Glyph = std::function<void(QPainter&, const QRectF&, const QColor&)>;

QPolygonF Triangle(const QRectF& r, bool right) {
    if (right) {
        return QPolygonF({r.topLeft(), QPointF(r.right(), r.center().y()), r.bottomLeft()});
    }
    return QPolygonF({r.topRight(), QPointF(r.left(), r.center().y()), r.bottomRight()});
}

void Fill(QPainter& p, const QPolygonF& poly, const QColor& c) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(poly);
}

QRectF Box(const QRectF& r, double w, double h) {
    return QRectF(r.center().x() - w / 2, r.center().y() - h / 2, w, h);
}

void Text(QPainter& p, const QRectF& r, const QString& text, const QColor& c, int px, bool bold) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(px);
    f.setBold(bold);
    p.setFont(f);
    p.setPen(c);
    p.drawText(r, Qt::AlignCenter, text);
}

Glyph PlayGlyph(bool forward) {
    return [forward](QPainter& p, const QRectF& r, const QColor& c) {
        Fill(p, Triangle(Box(r, 10, 12), forward), c);
    };
}

Glyph DoubleGlyph(bool forward) {
    return [forward](QPainter& p, const QRectF& r, const QColor& c) {
        const QRectF b = Box(r, 16, 10);
        Fill(p, Triangle(QRectF(b.left(), b.top(), 8, 10), forward), c);
        Fill(p, Triangle(QRectF(b.left() + 8, b.top(), 8, 10), forward), c);
    };
}

Glyph StepGlyph(bool forward) {
    return [forward](QPainter& p, const QRectF& r, const QColor& c) {
        const QRectF b = Box(r, 12, 10);
        if (forward) {
            Fill(p, Triangle(QRectF(b.left(), b.top(), 8, 10), true), c);
            p.fillRect(QRectF(b.left() + 9, b.top(), 3, 10), c);
        } else {
            p.fillRect(QRectF(b.left(), b.top(), 3, 10), c);
            Fill(p, Triangle(QRectF(b.left() + 4, b.top(), 8, 10), false), c);
        }
    };
}

void PauseGlyph(QPainter& p, const QRectF& r, const QColor& c) {
    const QRectF b = Box(r, 10, 12);
    p.fillRect(QRectF(b.left(), b.top(), 3.5, 12), c);
    p.fillRect(QRectF(b.right() - 3.5, b.top(), 3.5, 12), c);
}

void StopGlyph(QPainter& p, const QRectF& r, const QColor& c) {
    p.fillRect(Box(r, 10, 10), c);
}

void RecordGlyph(QPainter& p, const QRectF& r, const QColor& c) {
    p.setPen(Qt::NoPen);
    p.setBrush(c == kGlyphDisabled ? c : kRecord);
    p.drawEllipse(Box(r, 11, 11));
}

Glyph GridGlyph(int n) {
    return [n](QPainter& p, const QRectF& r, const QColor& c) {
        const double size = 14;
        const double gap = n == 1 ? 0 : 1.5;
        const double cell = (size - gap * (n - 1)) / n;
        const QRectF b = Box(r, size, size);
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) {
                p.fillRect(
                    QRectF(b.left() + x * (cell + gap), b.top() + y * (cell + gap), cell, cell), c);
            }
        }
    };
}

void OpenGlyph(QPainter& p, const QRectF& r, const QColor& c) {
    const QRectF b = Box(r, 16, 12);
    QPainterPath back;
    back.moveTo(b.left(), b.bottom());
    back.lineTo(b.left(), b.top());
    back.lineTo(b.left() + 6, b.top());
    back.lineTo(b.left() + 8, b.top() + 2);
    back.lineTo(b.right() - 2, b.top() + 2);
    back.lineTo(b.right() - 2, b.top() + 4);
    p.setPen(QPen(c, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(back);
    Fill(p,
         QPolygonF({QPointF(b.left(), b.bottom()), QPointF(b.left() + 3, b.top() + 5),
                    QPointF(b.right() + 1, b.top() + 5), QPointF(b.right() - 2, b.bottom())}),
         c);
}

void CaptureGlyph(QPainter& p, const QRectF& r, const QColor& c) {
    const QRectF b = Box(r, 18, 13);
    QPainterPath body;
    body.addRoundedRect(QRectF(b.left(), b.top() + 2.5, 18, 10.5), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(body);
    p.drawRect(QRectF(b.left() + 6, b.top(), 6, 3));
    p.setBrush(kFaceBottom);
    p.drawEllipse(QRectF(b.center().x() - 3.5, b.top() + 4.5, 7, 7));
    p.setBrush(c);
    p.drawEllipse(QRectF(b.center().x() - 1.5, b.top() + 6.5, 3, 3));
}

void SpeakerShape(QPainter& p, const QRectF& b, const QColor& c) {
    Fill(p,
         QPolygonF({QPointF(b.left(), b.top() + 4), QPointF(b.left() + 3, b.top() + 4),
                    QPointF(b.left() + 7, b.top()), QPointF(b.left() + 7, b.bottom()),
                    QPointF(b.left() + 3, b.bottom() - 4), QPointF(b.left(), b.bottom() - 4)}),
         c);
}

Glyph MuteGlyph(bool muted) {
    return [muted](QPainter& p, const QRectF& r, const QColor& c) {
        const QRectF b = Box(r, 16, 12);
        SpeakerShape(p, b, c);
        p.setBrush(Qt::NoBrush);
        if (muted) {
            p.setPen(QPen(c == kGlyphDisabled ? c : kRecord, 1.8, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(b.left() + 10, b.top() + 3), QPointF(b.right(), b.bottom() - 3));
            p.drawLine(QPointF(b.left() + 10, b.bottom() - 3), QPointF(b.right(), b.top() + 3));
        } else {
            p.setPen(QPen(c, 1.5));
            p.drawArc(QRectF(b.left() + 4, b.top() + 3, 7, 6), -60 * 16, 120 * 16);
            p.drawArc(QRectF(b.left() + 3, b.top(), 12, 12), -60 * 16, 120 * 16);
        }
    };
}

Glyph LinkGlyph(bool connected) {
    return [connected](QPainter& p, const QRectF& r, const QColor& c) {
        const QRectF b = Box(r, 18, 12);
        p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        if (connected) {
            // A broken link: the action is to disconnect.
            p.drawRoundedRect(QRectF(b.left(), b.top() + 3, 7, 6), 3, 3);
            p.drawRoundedRect(QRectF(b.right() - 7, b.top() + 3, 7, 6), 3, 3);
            p.setPen(QPen(c == kGlyphDisabled ? c : kRecord, 1.5, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(b.center().x() - 1, b.top()),
                       QPointF(b.center().x() + 1, b.bottom()));
        } else {
            p.drawRoundedRect(QRectF(b.left(), b.top() + 3, 9, 6), 3, 3);
            p.drawRoundedRect(QRectF(b.right() - 9, b.top() + 3, 9, 6), 3, 3);
            p.drawLine(QPointF(b.left() + 5, b.center().y()),
                       QPointF(b.right() - 5, b.center().y()));
        }
    };
}

Glyph TextGlyph(const QString& text, int px) {
    return [text, px](QPainter& p, const QRectF& r, const QColor& c) {
        Text(p, r, text, c, px, true);
    };
}

void MenuGlyph(QPainter& p, const QRectF& r, const QColor& c) {
    const QRectF b = Box(r, 14, 11);
    for (int i = 0; i < 3; ++i) {
        p.fillRect(QRectF(b.left(), b.top() + i * 4.5, 14, 2), c);
    }
}

Glyph ChevronGlyph(bool up) {
    return [up](QPainter& p, const QRectF& r, const QColor& c) {
        const QRectF b = Box(r, 12, 7);
        p.setPen(QPen(c, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        if (up) {
            p.drawPolyline(
                QPolygonF({b.bottomLeft(), QPointF(b.center().x(), b.top()), b.bottomRight()}));
        } else {
            p.drawPolyline(
                QPolygonF({b.topLeft(), QPointF(b.center().x(), b.bottom()), b.topRight()}));
        }
    };
}

void SelectGlyph(QPainter& p, const QRectF& r, const QColor& c) {
    const QRectF b = Box(r, 14, 11);
    p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(b.right(), b.top()), QPointF(b.right(), b.top() + 7),
                              QPointF(b.left() + 3, b.top() + 7)}));
    Fill(p,
         QPolygonF({QPointF(b.left(), b.top() + 7), QPointF(b.left() + 5, b.top() + 3),
                    QPointF(b.left() + 5, b.top() + 11)}),
         c);
}

void SequenceGlyph(QPainter& p, const QRectF& r, const QColor& c) {
    const QRectF b = Box(r, 14, 12);
    p.setPen(QPen(c, 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawArc(b, 30 * 16, 300 * 16);
    Fill(p,
         QPolygonF({QPointF(b.right() - 4, b.top() - 1), QPointF(b.right() + 1.5, b.top() + 3),
                    QPointF(b.right() - 4.5, b.top() + 5)}),
         c);
}

Glyph AviGlyph(bool dot) {
    return [dot](QPainter& p, const QRectF& r, const QColor& c) {
        if (dot) {
            p.setPen(Qt::NoPen);
            p.setBrush(c == kGlyphDisabled ? c : kRecord);
            p.drawEllipse(QRectF(r.left() + 6, r.center().y() - 3.5, 7, 7));
            Text(p, r.adjusted(10, 0, 0, 0), QStringLiteral("AVI"), c, 10, true);
        } else {
            p.fillRect(QRectF(r.left() + 6, r.center().y() - 3, 6, 6), c);
            Text(p, r.adjusted(10, 0, 0, 0), QStringLiteral("AVI"), c, 10, true);
        }
    };
}

void LogoShape(QPainter& p, const QRectF& r) {
    // A rounded tile with a lens: the viewer's mark.
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, kAccent);
    g.setColorAt(1, QColor(0x1f, 0x6f, 0xc8));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(r, r.width() * 0.22, r.height() * 0.22);
    const double w = r.width();
    p.setBrush(QColor(0x0c, 0x1a, 0x2a));
    p.drawEllipse(QRectF(r.left() + w * 0.2, r.top() + w * 0.2, w * 0.6, w * 0.6));
    p.setBrush(QColor(0xe8, 0xf4, 0xff));
    p.drawEllipse(QRectF(r.left() + w * 0.36, r.top() + w * 0.36, w * 0.28, w * 0.28));
    p.setBrush(QColor(0x0c, 0x1a, 0x2a));
    p.drawEllipse(QRectF(r.left() + w * 0.45, r.top() + w * 0.45, w * 0.1, w * 0.1));
}

// A transparent 5-frame strip: normal, pressed, hover, disabled, mask.
QImage ButtonStrip(int w, int h, const Glyph& glyph, bool keyFace = true) {
    QImage strip(w * 5, h, QImage::Format_RGB32);
    strip.fill(kMagenta);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 5, 5);
    for (int f = 0; f < 4; ++f) {
        QPainter p(&strip);
        p.translate(w * f, 0);
        p.setClipRect(0, 0, w, h);
        p.setRenderHint(QPainter::Antialiasing, false);
        if (keyFace || f == 1 || f == 2) {
            QLinearGradient g(0, 0, 0, h);
            const QColor top = f == 1 ? kFacePressedTop : f == 2 ? kFaceHoverTop : kFaceTop;
            const QColor bottom = f == 1   ? kFacePressedBottom
                                  : f == 2 ? kFaceHoverBottom
                                           : kFaceBottom;
            g.setColorAt(0, f == 3 ? kBody.lighter(115) : top);
            g.setColorAt(1, f == 3 ? kBody.lighter(108) : bottom);
            p.setPen(f == 1 ? QPen(kAccent, 1) : QPen(kShadow, 1));
            p.setBrush(g);
            p.drawPath(shape);
            if (f != 1 && f != 3) {
                p.setPen(QColor(255, 255, 255, 28));
                p.drawLine(QPointF(4, 1.5), QPointF(w - 5, 1.5));
            }
        } else {
            p.setPen(Qt::NoPen);
            p.setBrush(kBody);
            p.drawPath(shape);
        }
        p.setRenderHint(QPainter::Antialiasing, true);
        const QColor c = f == 3 ? kGlyphDisabled : f == 1 ? kAccent : f == 2 ? kGlyphHover : kGlyph;
        glyph(p, QRectF(0, 0, w, h).translated(f == 1 ? 0.5 : 0, f == 1 ? 0.5 : 0), c);
    }
    // Mask: white where the window shows through, black where the frame is drawn.
    QPainter m(&strip);
    m.translate(w * 4, 0);
    m.fillRect(0, 0, w, h, Qt::white);
    m.setRenderHint(QPainter::Antialiasing, false);
    m.setPen(Qt::black);
    m.setBrush(Qt::black);
    m.drawPath(shape);
    m.end();
    // Frame pixels outside the shape take the key colour, so the strip reads as
    // transparent in any viewer too.
    for (int f = 0; f < 4; ++f) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                if (qRed(strip.pixel(w * 4 + x, y)) > 128) {
                    strip.setPixel(w * f + x, y, kMagenta.rgb());
                }
            }
        }
    }
    return strip;
}

// An opaque 4-frame strip for the caption buttons.
QImage CaptionStrip(int w, int h, bool close) {
    QImage strip(w * 4, h, QImage::Format_RGB32);
    for (int f = 0; f < 4; ++f) {
        QPainter p(&strip);
        p.translate(w * f, 0);
        QLinearGradient g(0, 0, 0, h);
        g.setColorAt(0, kTitleTop);
        g.setColorAt(1, kTitleBottom.lighter(104));
        p.fillRect(0, 0, w, h, g);
        p.setRenderHint(QPainter::Antialiasing, true);
        if (f == 1 || f == 2) {
            p.setPen(Qt::NoPen);
            p.setBrush(close ? (f == 1 ? kRecord.darker(130) : kRecord)
                             : (f == 1 ? kAccentDark : kFaceHoverTop));
            p.drawRoundedRect(QRectF(1, 1, w - 2, h - 2), 4, 4);
        }
        const QColor c = f == 3 ? kGlyphDisabled : (f == 0 ? kGlyph : kGlyphHover);
        p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap));
        const QRectF b = Box(QRectF(0, 0, w, h), 8, 8);
        if (close) {
            p.drawLine(b.topLeft(), b.bottomRight());
            p.drawLine(b.topRight(), b.bottomLeft());
        } else {
            p.drawLine(QPointF(b.left(), b.bottom()), b.bottomRight());
        }
    }
    return strip;
}

QImage Background() {
    const int size = 160;
    QImage bg(size, size, QImage::Format_RGB32);
    // Outside the rounded outline: the window shape cuts it away, and what the
    // shape's steps leave should read as shadow.
    bg.fill(kShadow);
    QPainter p(&bg);
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), 7, 7);
    p.setPen(QPen(kBorder, 1));
    p.setBrush(kBody);
    p.drawPath(outline);
    p.setClipPath(outline);
    // Caption band.
    QLinearGradient title(0, 0, 0, 24);
    title.setColorAt(0, kTitleTop);
    title.setColorAt(1, kTitleBottom);
    p.fillRect(QRectF(1, 1, size - 2, 23), title);
    p.fillRect(QRectF(1, 23, size - 2, 1), kShadow);
    p.fillRect(QRectF(1, 24, size - 2, 1), kAccentDark);
    // Control area: the last 80 rows are the window's last 81 minus one.
    QLinearGradient bar(0, 80, 0, size);
    bar.setColorAt(0, QColor(0x1b, 0x1f, 0x25));
    bar.setColorAt(1, QColor(0x12, 0x14, 0x18));
    p.fillRect(QRectF(1, 84, size - 2, size - 85), bar);
    p.fillRect(QRectF(1, 84, size - 2, 1), QColor(0x26, 0x2b, 0x33));
    // The resize grip lives in the window's bottom-right 16 x 16 corner.
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j <= i; ++j) {
            const int x = size - 5 - 4 * (i - j);
            const int y = size - 5 - 4 * j;
            p.fillRect(QRect(x - 1, y - 1, 2, 2), kGlyphDisabled.lighter(130));
        }
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setClipping(false);
    p.setPen(QPen(kBorder, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(outline);
    return bg;
}

// Position slider: a slim groove, and its filled part in the accent colour.
QImage Track(int w, int h, int groove, const QColor& fill, const QColor& edge, bool key) {
    QImage img(w, h, QImage::Format_RGB32);
    // Opaque tracks take the control area's colour at the slider's height.
    img.fill(key ? kMagenta : QColor(0x18, 0x1b, 0x20));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    const int top = (h - groove) / 2;
    p.setPen(edge);
    p.setBrush(fill);
    p.drawRect(QRect(0, top, w - 1, groove - 1));
    return img;
}

QImage Thumb(int w, int h, const QColor& face, const QColor& ring) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kMagenta);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(ring);
    p.setBrush(face);
    p.drawEllipse(QRect(0, 0, w - 1, h - 1));
    return img;
}

QImage VolumeTrack(int w, int h, bool filled) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kMagenta);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    // A rising wedge: louder to the right.
    for (int x = 2; x < w - 2; ++x) {
        const int bar = 3 + (x - 2) * (h - 6) / (w - 5);
        const QColor c = filled ? kAccent : QColor(0x33, 0x39, 0x43);
        p.fillRect(QRect(x, h - 2 - bar, 1, bar), c);
    }
    return img;
}

QImage StatusSheet() {
    const QColor c1(0x3f, 0xb5, 0xff); // sheet colour 1 (COLORREF 0xFFB53F)
    const QColor c2(0x17, 0x40, 0x67); // sheet colour 2 (COLORREF 0x674017)
    QImage sheet(384, 112, QImage::Format_RGB32);
    sheet.fill(Qt::black);
    QPainter p(&sheet);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(10);
    f.setBold(true);
    f.setStyleStrategy(QFont::NoAntialias);
    p.setFont(f);
    // Connection labels by network state, x 16 to 118.
    const char* labels[] = {"OFFLINE", "CONNECTING", "LOGIN",  "ONLINE",
                            "DDNS",    "DDNS QUERY", "DDNS OK"};
    for (int s = 0; s < 7; ++s) {
        const QColor dot = s == 3 ? QColor(0x3f, 0xdc, 0x6a) : s == 0 ? c2 : c1;
        p.setPen(Qt::NoPen);
        p.setBrush(dot);
        p.drawEllipse(QRect(20, s * 16 + 4, 7, 7));
        p.setPen(s == 0 ? c2 : c1);
        p.drawText(QRect(32, s * 16, 86, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(labels[s]));
    }
    // Channel indicators 1 to 8: row 0 idle, row 16 live.
    for (int i = 0; i < 8; ++i) {
        for (int row = 0; row < 2; ++row) {
            const QRect box(128 + 24 * i + 1, row * 16 + 1, 21, 14);
            p.setPen(row ? c1 : c2);
            p.setBrush(row ? c1 : Qt::black);
            p.drawRect(box.adjusted(0, 0, -1, -1));
            p.setPen(row ? Qt::black : c2);
            p.drawText(box, Qt::AlignCenter, QString::number(i + 1));
        }
    }
    // The audio indicator, x 356 to 377.
    for (int row = 0; row < 2; ++row) {
        const QColor c = row ? c1 : c2;
        const QRectF b(360, row * 16 + 3, 14, 10);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawPolygon(
            QPolygonF({QPointF(b.left(), b.top() + 3), QPointF(b.left() + 3, b.top() + 3),
                       QPointF(b.left() + 6, b.top()), QPointF(b.left() + 6, b.bottom()),
                       QPointF(b.left() + 3, b.bottom() - 3), QPointF(b.left(), b.bottom() - 3)}));
        p.setPen(c);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(b.left() + 5, b.top() + 1, 6, 8), -60 * 16, 120 * 16);
        p.drawArc(QRectF(b.left() + 5, b.top() - 2, 10, 14), -60 * 16, 120 * 16);
    }
    // Play-state icons, x 0 to 16: 16 forward, 32 backward, 48 pause, 64 stop, 80 search.
    p.setPen(Qt::NoPen);
    p.setBrush(c1);
    p.drawPolygon(QPolygon({QPoint(4, 19), QPoint(12, 24), QPoint(4, 29)}));
    p.drawPolygon(QPolygon({QPoint(12, 35), QPoint(4, 40), QPoint(12, 45)}));
    p.fillRect(QRect(4, 51, 3, 10), c1);
    p.fillRect(QRect(9, 51, 3, 10), c1);
    p.fillRect(QRect(4, 67, 9, 9), c1);
    p.setPen(QPen(c1, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRect(3, 83, 7, 7));
    p.drawLine(QPoint(10, 90), QPoint(13, 93));
    return sheet;
}

QImage ModeStrip(const QString& label, const Glyph& icon) {
    const int w = 74;
    const int h = 20;
    return ButtonStrip(w, h, [label, icon](QPainter& p, const QRectF& r, const QColor& c) {
        icon(p, QRectF(r.left() + 2, r.top(), 20, r.height()), c);
        Text(p, QRectF(r.left() + 20, r.top(), r.width() - 22, r.height()), label, c, 11, true);
    });
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: skingen OUTPUT_FOLDER\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    bool ok = true;
    const int bw = 30; // control-bar button
    const int bh = 30;
    const struct {
        int id;
        int w;
        Glyph glyph;
    } buttons[] = {
        {200, bw, PlayGlyph(true)},
        {282, bw, PlayGlyph(false)},
        {227, bw, PauseGlyph},
        {230, bw, DoubleGlyph(false)},
        {231, bw, DoubleGlyph(true)},
        {236, bw, StepGlyph(true)},
        {237, bw, StepGlyph(false)},
        {242, 36, CaptureGlyph},
        {245, bw, GridGlyph(2)},
        {248, bw, GridGlyph(3)},
        {251, bw, GridGlyph(4)},
        {300, bw, GridGlyph(1)},
        {281, 36, OpenGlyph},
        {306, 36, LinkGlyph(false)},
        {333, 36, LinkGlyph(true)},
        {308, bw, TextGlyph(QStringLiteral("1"), 14)},
        {364, bw, TextGlyph(QStringLiteral("5"), 14)},
        {365, bw, TextGlyph(QStringLiteral("6"), 14)},
        {366, bw, TextGlyph(QStringLiteral("7"), 14)},
        {367, bw, TextGlyph(QStringLiteral("8"), 14)},
        {368, bw, TextGlyph(QStringLiteral("9"), 14)},
        {369, bw, SequenceGlyph},
        {312, bw, MenuGlyph},
        {313, bw, ChevronGlyph(true)},
        {314, bw, ChevronGlyph(false)},
        {315, bw, SelectGlyph},
        {316, bw, RecordGlyph},
        {326, bw, StopGlyph},
    };
    for (const auto& b : buttons) {
        ok &= Save(ButtonStrip(b.w, bh, b.glyph), QString::number(b.id));
    }
    // The mute box shows the muted speaker in its checked frame.
    {
        QImage strip = ButtonStrip(bw, bh, MuteGlyph(false));
        const QImage muted = ButtonStrip(bw, bh, MuteGlyph(true));
        QPainter(&strip).drawImage(QPoint(bw, 0), muted, QRect(bw, 0, bw, bh));
        ok &= Save(strip, QStringLiteral("371"));
    }
    // Save AVI offers to record; while recording the button offers to stop.
    ok &= Save(ButtonStrip(44, 20, AviGlyph(true)), QStringLiteral("374"));
    ok &= Save(ButtonStrip(44, 20, AviGlyph(false)), QStringLiteral("376"));
    ok &= Save(ModeStrip(QStringLiteral("Player"), PlayGlyph(true)), QStringLiteral("359"));
    ok &= Save(ModeStrip(QStringLiteral("Client"), LinkGlyph(false)), QStringLiteral("360"));
    ok &= Save(CaptionStrip(20, 20, false), QStringLiteral("261"));
    ok &= Save(CaptionStrip(20, 20, true), QStringLiteral("264"));
    ok &= Save(ButtonStrip(
                   16, 16,
                   [](QPainter& p, const QRectF& r, const QColor&) {
                       LogoShape(p, r.adjusted(0.5, 0.5, -0.5, -0.5));
                   },
                   false),
               QStringLiteral("285"));
    ok &= Save(Background(), QStringLiteral("290"));
    ok &= Save(Track(256, 12, 4, QColor(0x2a, 0x30, 0x39), QColor(0x0a, 0x0c, 0x0f), false),
               QStringLiteral("215"));
    ok &= Save(Track(256, 12, 4, kAccent, kAccentDark, false), QStringLiteral("216"));
    ok &= Save(Thumb(12, 12, kGlyphHover, kAccent), QStringLiteral("217"));
    ok &= Save(Thumb(12, 12, kGlyph, kShadow), QStringLiteral("218"));
    ok &= Save(VolumeTrack(64, 16, false), QStringLiteral("277"));
    ok &= Save(VolumeTrack(64, 16, true), QStringLiteral("276"));
    ok &= Save(Thumb(8, 14, kGlyph, kShadow), QStringLiteral("275"));
    ok &= Save(Thumb(8, 14, kGlyphHover, kAccent), QStringLiteral("278"));
    ok &= Save(StatusSheet(), QStringLiteral("320"));
    for (int size : {48, 256}) {
        QImage icon(size, size, QImage::Format_ARGB32);
        icon.fill(Qt::transparent);
        QPainter p(&icon);
        p.setRenderHint(QPainter::Antialiasing, true);
        LogoShape(p, QRectF(size * 0.04, size * 0.04, size * 0.92, size * 0.92));
        p.end();
        ok &= Save(icon, size == 48 ? QStringLiteral("icon128") : QStringLiteral("icon128-256"));
    }
    return ok ? 0 : 1;
}
