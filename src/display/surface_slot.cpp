#include "display/surface_slot.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "display/display_device.h"
#include "video/pixel_format.h"

namespace tv {

void SurfaceSlot::Clear() {
    if (reserved != 0) {
        CDisplayDevice::ReleaseSurfaceMemory(reserved);
    }
    image = QImage();
    width = height = pitch = format = 0;
    generation = 0;
    reserved = 0;
    live = false;
}

bool SurfaceSlot::IsLost() const {
    return live && generation != CDisplayDevice::Generation();
}

QImage::Format QtFormatFor(int pixelFormat) {
    switch (pixelFormat) {
    case PF_RGB555:
        return QImage::Format_RGB555;
    case PF_RGB565:
    case PF_BGR565:
        return QImage::Format_RGB16;
    case PF_RGB24:
        return QImage::Format_BGR888;
    case PF_RGB32:
        return QImage::Format_RGB32;
    default:
        return QImage::Format_Invalid;
    }
}

DDRESULT CreateSurface(SurfaceSlot& slot, int width, int height, int pixelFormat) {
    slot.Clear();
    QImage::Format qf = QtFormatFor(pixelFormat);
    if (width <= 0 || height <= 0 || qf == QImage::Format_Invalid) {
        return DDERR_INVALIDPARAMS;
    }
    if (width > 16384 || height > 16384) {
        return DDERR_TOOBIGSIZE;
    }
    int64_t bytes = int64_t(width) * height * PixelFormatBytes(pixelFormat);
    if (!CDisplayDevice::ReserveSurfaceMemory(bytes)) {
        return DDERR_OUTOFVIDEOMEMORY;
    }
    QImage image(width, height, qf);
    if (image.isNull()) {
        CDisplayDevice::ReleaseSurfaceMemory(bytes);
        return DDERR_OUTOFMEMORY;
    }
    slot.image = std::move(image);
    slot.width = width;
    slot.height = height;
    slot.pitch = static_cast<int>(slot.image.bytesPerLine());
    slot.format = pixelFormat;
    slot.generation = CDisplayDevice::Generation();
    slot.reserved = bytes;
    slot.live = true;
    ColorFill(slot, nullptr, 0x0A0A0A);
    return DD_OK;
}

void ColorFill(SurfaceSlot& slot, const RECT* rect, uint32_t value) {
    if (!slot.live || slot.image.isNull()) {
        return;
    }
    RECT r{0, 0, slot.width, slot.height};
    if (rect != nullptr) {
        r.left = std::max(rect->left, 0);
        r.top = std::max(rect->top, 0);
        r.right = std::min(rect->right, slot.width);
        r.bottom = std::min(rect->bottom, slot.height);
    }
    if (r.right <= r.left || r.bottom <= r.top) {
        return;
    }
    int bpp = PixelFormatBytes(slot.format);
    uint8_t* bits = slot.image.bits();
    uint8_t px[4];
    PutLe32(px, value);
    for (int y = r.top; y < r.bottom; ++y) {
        uint8_t* row = bits + ptrdiff_t(slot.pitch) * y + ptrdiff_t(r.left) * bpp;
        int n = r.right - r.left;
        switch (bpp) {
        case 2: {
            uint16_t v = static_cast<uint16_t>(value);
            for (int x = 0; x < n; ++x) {
                std::memcpy(row + 2 * x, &v, 2);
            }
            break;
        }
        case 3:
            for (int x = 0; x < n; ++x) {
                std::memcpy(row + 3 * x, px, 3);
            }
            break;
        default:
            for (int x = 0; x < n; ++x) {
                std::memcpy(row + 4 * x, &value, 4);
            }
            break;
        }
    }
}

int RestoreIfLost(SurfaceSlot& slot) {
    if (!slot.IsLost()) {
        return 0;
    }
    slot.generation = CDisplayDevice::Generation();
    ColorFill(slot, nullptr, 0x0A0A0A);
    return 1;
}

DDRESULT LockSurface(SurfaceSlot& slot, uint8_t** bits) {
    *bits = nullptr;
    if (!slot.live || slot.image.isNull()) {
        return DDERR_INVALIDPARAMS;
    }
    if (slot.IsLost()) {
        return DDERR_SURFACELOST;
    }
    *bits = slot.image.bits();
    return DD_OK;
}

namespace {

struct Span {
    int first = 0; // first destination index inside the target
    int end = 0;   // one past the last
    int64_t step = 0;
    int64_t start = 0; // 16.16 source position of the first index
};

// Maps the destination span [lo, hi) onto a source of n samples, keeping the
// part inside [0, limit).
Span MapSpan(int lo, int hi, int limit, int n) {
    Span s;
    int len = hi - lo;
    if (len <= 0 || n <= 0) {
        return s;
    }
    s.first = std::max(lo, 0);
    s.end = std::min(hi, limit);
    s.step = (int64_t(n) << 16) / len;
    s.start = int64_t(s.first - lo) * s.step + s.step / 2;
    return s;
}

template <int Bpp>
void StretchRows(uint8_t* dst, int dstPitch, const Span& xs, const Span& ys, const uint8_t* src,
                 int srcPitch, int srcWidth, int srcHeight) {
    int64_t yPos = ys.start;
    for (int y = ys.first; y < ys.end; ++y, yPos += ys.step) {
        int sy = std::min(static_cast<int>(yPos >> 16), srcHeight - 1);
        const uint8_t* srow = src + ptrdiff_t(srcPitch) * sy;
        uint8_t* d = dst + ptrdiff_t(dstPitch) * y + ptrdiff_t(xs.first) * Bpp;
        int64_t xPos = xs.start;
        for (int x = xs.first; x < xs.end; ++x, xPos += xs.step, d += Bpp) {
            int sx = std::min(static_cast<int>(xPos >> 16), srcWidth - 1);
            std::memcpy(d, srow + ptrdiff_t(sx) * Bpp, Bpp);
        }
    }
}

template <int DstBpp>
void StretchDibRows(uint8_t* dst, int dstPitch, const Span& xs, const Span& ys, const uint8_t* dib,
                    int srcWidth, int srcHeight) {
    const ptrdiff_t srcPitch = ptrdiff_t(srcWidth) * 3;
    int64_t yPos = ys.start;
    for (int y = ys.first; y < ys.end; ++y, yPos += ys.step) {
        int sy = std::min(static_cast<int>(yPos >> 16), srcHeight - 1);
        const uint8_t* srow = dib + srcPitch * (srcHeight - 1 - sy);
        uint8_t* d = dst + ptrdiff_t(dstPitch) * y + ptrdiff_t(xs.first) * DstBpp;
        int64_t xPos = xs.start;
        for (int x = xs.first; x < xs.end; ++x, xPos += xs.step, d += DstBpp) {
            int sx = std::min(static_cast<int>(xPos >> 16), srcWidth - 1);
            const uint8_t* s = srow + ptrdiff_t(sx) * 3;
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            if constexpr (DstBpp == 4) {
                d[3] = 0xFF;
            }
        }
    }
}

} // namespace

void StretchCopy(uint8_t* dst, int dstPitch, int dstWidth, int dstHeight, const RECT& dstRect,
                 const uint8_t* src, int srcPitch, int srcWidth, int srcHeight, int bytesPerPixel) {
    if (dst == nullptr || src == nullptr) {
        return;
    }
    Span xs = MapSpan(dstRect.left, dstRect.right, dstWidth, srcWidth);
    Span ys = MapSpan(dstRect.top, dstRect.bottom, dstHeight, srcHeight);
    if (xs.end <= xs.first || ys.end <= ys.first) {
        return;
    }
    switch (bytesPerPixel) {
    case 2:
        StretchRows<2>(dst, dstPitch, xs, ys, src, srcPitch, srcWidth, srcHeight);
        break;
    case 3:
        StretchRows<3>(dst, dstPitch, xs, ys, src, srcPitch, srcWidth, srcHeight);
        break;
    case 4:
        StretchRows<4>(dst, dstPitch, xs, ys, src, srcPitch, srcWidth, srcHeight);
        break;
    default:
        break;
    }
}

void StretchDib24(uint8_t* dst, int dstPitch, int dstWidth, int dstHeight, int dstBytes,
                  const RECT& dstRect, const uint8_t* dib, int srcWidth, int srcHeight) {
    if (dst == nullptr || dib == nullptr) {
        return;
    }
    Span xs = MapSpan(dstRect.left, dstRect.right, dstWidth, srcWidth);
    Span ys = MapSpan(dstRect.top, dstRect.bottom, dstHeight, srcHeight);
    if (xs.end <= xs.first || ys.end <= ys.first) {
        return;
    }
    if (dstBytes == 4) {
        StretchDibRows<4>(dst, dstPitch, xs, ys, dib, srcWidth, srcHeight);
    } else if (dstBytes == 3) {
        StretchDibRows<3>(dst, dstPitch, xs, ys, dib, srcWidth, srcHeight);
    }
}

namespace {

// 5 or 6 significant bits widened to 8 by repeating the top bits, so that
// full intensity stays full.
inline uint32_t Widen5(uint32_t v) {
    return (v << 3) | (v >> 2);
}
inline uint32_t Widen6(uint32_t v) {
    return (v << 2) | (v >> 4);
}

} // namespace

void ConvertToScreen(const QImage& image, int pixelFormat, QImage& out) {
    if (image.isNull()) {
        out = QImage();
        return;
    }
    const int w = image.width();
    const int h = image.height();
    if (out.size() != image.size() || out.format() != QImage::Format_RGB32 ||
        out.constBits() == image.constBits()) {
        out = QImage(w, h, QImage::Format_RGB32);
    }
    // Converted here rather than by the image library, which hands large
    // conversions to worker threads of its own.
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = image.constScanLine(y);
        auto* d = reinterpret_cast<uint32_t*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            uint32_t r;
            uint32_t g;
            uint32_t b;
            switch (pixelFormat) {
            case PF_RGB555: {
                uint16_t p;
                std::memcpy(&p, s + 2 * x, 2);
                r = Widen5((p >> 10) & 0x1F);
                g = Widen5((p >> 5) & 0x1F);
                b = Widen5(p & 0x1F);
                break;
            }
            case PF_RGB565:
            case PF_BGR565: {
                uint16_t p;
                std::memcpy(&p, s + 2 * x, 2);
                r = Widen5((p >> 11) & 0x1F);
                g = Widen6((p >> 5) & 0x3F);
                b = Widen5(p & 0x1F);
                if (pixelFormat == PF_BGR565) {
                    std::swap(r, b);
                }
                break;
            }
            case PF_RGB24:
                b = s[3 * x];
                g = s[3 * x + 1];
                r = s[3 * x + 2];
                break;
            default:
                b = s[4 * x];
                g = s[4 * x + 1];
                r = s[4 * x + 2];
                break;
            }
            d[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
}

QImage ToScreenImage(const QImage& image, int pixelFormat) {
    QImage out;
    ConvertToScreen(image, pixelFormat, out);
    return out;
}

uint32_t SurfaceColour(uint32_t rgb, int pixelFormat) {
    if (pixelFormat == PF_BGR565) {
        return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
    }
    return rgb;
}

} // namespace tv
