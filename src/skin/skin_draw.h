#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <cstdint>

namespace tv {

// A key colour given as this value stands for the colour of the bitmap's pixel
// at the point passed along with it.
constexpr uint32_t kKeyFromPixel = 0xFF000000u;

// Magenta: the transparent colour of every skin bitmap that has one (as a
// COLORREF it reads the same, red and blue being equal).
constexpr uint32_t kSkinKeyColour = 0xFF00FFu;

// Builds the monochrome mask of a bitmap for a key colour (COLORREF order
// 0x00BBGGRR): white where the pixel is the key colour, black elsewhere. The
// key-coloured pixels of the bitmap are turned black, so that drawing it as
// (destination AND mask) OR bitmap leaves the destination showing through.
QImage MakeTransparentMask(QImage& bitmap, uint32_t keyColour, QPoint keyAt = QPoint(0, 0));

// (destination AND mask) OR bitmap, for the source rectangle src of bitmap and
// mask placed at `at` in destination; clipped to the destination.
void DrawMasked(QImage& destination, QPoint at, const QImage& bitmap, const QImage& mask,
                const QRect& src);

// result = ((background XOR frame) AND mask) XOR frame: the frame where the mask
// is black, the background where it is white. background is replaced by the
// result; all three are the same size.
void ComposeMaskedFrame(QImage& background, const QImage& frame, const QImage& mask);

// The skinned window background for a client area of the given size: the four
// quarters of the bitmap as unscaled corners, thin strips from its middle
// stretched along the edges; the centre is left as it was in `into`.
void PaintNineSlice(QImage& into, const QImage& bitmap);

// Converts a COLORREF (0x00BBGGRR) to a Qt colour value and back.
inline uint32_t RgbFromColorRef(uint32_t c) {
    return 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
inline uint32_t ColorRefFromRgb(uint32_t rgb) {
    return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

} // namespace tv
