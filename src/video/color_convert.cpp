#include "video/color_convert.h"

#include "video/pixel_format.h"

#include <cstring>
#include <mutex>

namespace tv {

namespace {

// Every (Y * 1024 + chroma term) >> 10 lies in -227..480; the clip table spans
// -320..575 so the clamp is a lookup with no compare.
constexpr int kClipLow = -320;
constexpr int kClipSize = 896;

int32_t g_crR[256];
int32_t g_cbG[256];
int32_t g_crG[256];
int32_t g_cbB[256];
uint8_t g_clipStore[kClipSize];
const uint8_t* const g_clip = g_clipStore - kClipLow;
std::once_flag g_tablesOnce;

void BuildTables() {
    for (int v = 0; v < 256; ++v) {
        g_crR[v] = 1436 * (v - 128);
        g_cbG[v] = 352 * (v - 128);
        g_crG[v] = 731 * (v - 128);
        g_cbB[v] = 1815 * (v - 128);
    }
    for (int i = 0; i < kClipSize; ++i) {
        const int v = i + kClipLow;
        g_clipStore[i] = static_cast<uint8_t>(v < 1 ? 1 : (v > 255 ? 255 : v));
    }
}

struct Rgb {
    uint8_t r, g, b;
};

inline Rgb Pixel(int y, int r, int g, int b) {
    const int yy = y << 10;
    return Rgb{g_clip[(yy + r) >> 10], g_clip[(yy - g) >> 10], g_clip[(yy + b) >> 10]};
}

inline void Store16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}

struct Pack555 {
    static constexpr int kBytes = 2;
    static void Put(uint8_t* p, Rgb c) {
        Store16(p, static_cast<uint16_t>(((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3)));
    }
};
struct Pack565 {
    static constexpr int kBytes = 2;
    static void Put(uint8_t* p, Rgb c) {
        Store16(p, static_cast<uint16_t>(((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3)));
    }
};
struct PackBgr565 {
    static constexpr int kBytes = 2;
    static void Put(uint8_t* p, Rgb c) {
        Store16(p, static_cast<uint16_t>(((c.b >> 3) << 11) | ((c.g >> 2) << 5) | (c.r >> 3)));
    }
};
struct Pack24 {
    static constexpr int kBytes = 3;
    static void Put(uint8_t* p, Rgb c) {
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
    }
};
struct Pack32 {
    static constexpr int kBytes = 4;
    static void Put(uint8_t* p, Rgb c) {
        const uint32_t v = (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b;
        std::memcpy(p, &v, 4);
    }
};

// firstRow is where picture row 0 goes, rowStep the (possibly negative) byte
// distance from the destination row of picture row y to that of row y + 1.
template <class Pack>
void Convert(uint8_t* firstRow, ptrdiff_t rowStep, const uint8_t* src, int width, int height) {
    const size_t lumaSize = size_t(width) * height;
    const int cw = width / 2;
    const uint8_t* cb = src + lumaSize;
    const uint8_t* cr = cb + lumaSize / 4;
    for (int j = 0; j < height / 2; ++j) {
        const uint8_t* y0 = src + size_t(2 * j) * width;
        const uint8_t* y1 = y0 + width;
        const uint8_t* u = cb + size_t(j) * cw;
        const uint8_t* v = cr + size_t(j) * cw;
        uint8_t* d0 = firstRow + rowStep * (2 * j);
        uint8_t* d1 = d0 + rowStep;
        for (int i = 0; i < cw; ++i) {
            const int r = g_crR[v[i]];
            const int g = g_cbG[u[i]] + g_crG[v[i]];
            const int b = g_cbB[u[i]];
            Pack::Put(d0, Pixel(y0[2 * i], r, g, b));
            Pack::Put(d0 + Pack::kBytes, Pixel(y0[2 * i + 1], r, g, b));
            Pack::Put(d1, Pixel(y1[2 * i], r, g, b));
            Pack::Put(d1 + Pack::kBytes, Pixel(y1[2 * i + 1], r, g, b));
            d0 += 2 * Pack::kBytes;
            d1 += 2 * Pack::kBytes;
        }
    }
}

bool Usable(const uint8_t* dst, const uint8_t* src, int width, int height) {
    return dst != nullptr && src != nullptr && width > 0 && height > 0;
}

template <class Pack>
void TopDown(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height) {
    InitColorTables();
    if (!Usable(dst, src, width, height))
        return;
    Convert<Pack>(dst, dstPitch, src, width, height);
}

// Source pixel (top-down) to B, G, R in a bottom-up destination.
template <class Expand>
void CopyToDib(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width,
               int height) {
    if (!Usable(dst, src, width, height))
        return;
    for (int y = 0; y < height; ++y) {
        const uint8_t* s = src + ptrdiff_t(srcPitch) * y;
        uint8_t* d = dst + ptrdiff_t(dstPitch) * (height - 1 - y);
        for (int x = 0; x < width; ++x) {
            Expand::Put(d, s);
            s += Expand::kBytes;
            d += 3;
        }
    }
}

inline uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

struct From555 {
    static constexpr int kBytes = 2;
    static void Put(uint8_t* d, const uint8_t* s) {
        const unsigned p = Load16(s);
        d[0] = uint8_t((p & 0x1F) << 3);
        d[1] = uint8_t(((p >> 5) & 0x1F) << 3);
        d[2] = uint8_t(((p >> 10) & 0x1F) << 3);
    }
};
struct From565 {
    static constexpr int kBytes = 2;
    static void Put(uint8_t* d, const uint8_t* s) {
        const unsigned p = Load16(s);
        d[0] = uint8_t((p & 0x1F) << 3);
        d[1] = uint8_t(((p >> 5) & 0x3F) << 2);
        d[2] = uint8_t(((p >> 11) & 0x1F) << 3);
    }
};
struct FromBgr565 {
    static constexpr int kBytes = 2;
    static void Put(uint8_t* d, const uint8_t* s) {
        const unsigned p = Load16(s);
        d[2] = uint8_t((p & 0x1F) << 3);
        d[1] = uint8_t(((p >> 5) & 0x3F) << 2);
        d[0] = uint8_t(((p >> 11) & 0x1F) << 3);
    }
};
struct From32 {
    static constexpr int kBytes = 4;
    static void Put(uint8_t* d, const uint8_t* s) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
    }
};

} // namespace

void InitColorTables() {
    std::call_once(g_tablesOnce, BuildTables);
}

void YuvToRgb555(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height) {
    TopDown<Pack555>(dst, dstPitch, src, width, height);
}

void YuvToRgb565(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height) {
    TopDown<Pack565>(dst, dstPitch, src, width, height);
}

void YuvToBgr565(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height) {
    TopDown<PackBgr565>(dst, dstPitch, src, width, height);
}

void YuvToRgb24(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height) {
    TopDown<Pack24>(dst, dstPitch, src, width, height);
}

void YuvToRgb32(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height) {
    TopDown<Pack32>(dst, dstPitch, src, width, height);
}

void YuvToDib24(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height) {
    InitColorTables();
    if (!Usable(dst, src, width, height))
        return;
    Convert<Pack24>(dst + ptrdiff_t(dstPitch) * (height - 1), -ptrdiff_t(dstPitch), src, width,
                    height);
}

void YuvToDib24Doubled(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height) {
    InitColorTables();
    if (!Usable(dst, src, width, height))
        return;
    Convert<Pack24>(dst + ptrdiff_t(dstPitch) * 2 * (height - 1), -2 * ptrdiff_t(dstPitch), src,
                    width, height);
}

void Rgb555ToDib24(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width,
                   int height) {
    CopyToDib<From555>(dst, dstPitch, src, srcPitch, width, height);
}

void Rgb565ToDib24(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width,
                   int height) {
    CopyToDib<From565>(dst, dstPitch, src, srcPitch, width, height);
}

void Bgr565ToDib24(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width,
                   int height) {
    CopyToDib<FromBgr565>(dst, dstPitch, src, srcPitch, width, height);
}

// Whole rows are copied, so widths that are not a multiple of 4 lose no bytes.
void Rgb24ToDib24(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width,
                  int height) {
    if (!Usable(dst, src, width, height))
        return;
    for (int y = 0; y < height; ++y)
        std::memcpy(dst + ptrdiff_t(dstPitch) * (height - 1 - y), src + ptrdiff_t(srcPitch) * y,
                    size_t(width) * 3);
}

void Rgb32ToDib24(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width,
                  int height) {
    CopyToDib<From32>(dst, dstPitch, src, srcPitch, width, height);
}

int YuvToPixelFormat(int format, uint8_t* dst, int dstPitch, const uint8_t* src, int width,
                     int height) {
    switch (format) {
    case PF_RGB555:
        YuvToRgb555(dst, dstPitch, src, width, height);
        return 1;
    case PF_RGB565:
        YuvToRgb565(dst, dstPitch, src, width, height);
        return 1;
    case PF_BGR565:
        YuvToBgr565(dst, dstPitch, src, width, height);
        return 1;
    case PF_RGB24:
        YuvToRgb24(dst, dstPitch, src, width, height);
        return 1;
    case PF_RGB32:
        YuvToRgb32(dst, dstPitch, src, width, height);
        return 1;
    default:
        return 0;
    }
}

int SurfaceToDib24(int format, uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch,
                   int width, int height) {
    switch (format) {
    case PF_RGB555:
        Rgb555ToDib24(dst, dstPitch, src, srcPitch, width, height);
        return 1;
    case PF_RGB565:
        Rgb565ToDib24(dst, dstPitch, src, srcPitch, width, height);
        return 1;
    case PF_BGR565:
        Bgr565ToDib24(dst, dstPitch, src, srcPitch, width, height);
        return 1;
    case PF_RGB24:
        Rgb24ToDib24(dst, dstPitch, src, srcPitch, width, height);
        return 1;
    case PF_RGB32:
        Rgb32ToDib24(dst, dstPitch, src, srcPitch, width, height);
        return 1;
    default:
        return 0;
    }
}

} // namespace tv
