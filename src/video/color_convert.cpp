#include "video/color_convert.h"

#include "video/pixel_format.h"

#include <cstring>
#include <mutex>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// 16 pixels of 8-bit R, G, B (already clipped) to 16-bit words.
inline void Store16Words(uint8_t* d, __m128i lo, __m128i hi) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), hi);
}
// 16 pixels to 5-6-5 (or 5-5-5) words, built as high and low bytes and
// interleaved.
template <bool Is555> inline void Simd16Bit(uint8_t* d, __m128i r, __m128i g, __m128i b) {
    __m128i hi, lo;
    const __m128i b5 = _mm_and_si128(_mm_srli_epi16(b, 3), _mm_set1_epi8(0x1F));
    if (Is555) {
        hi = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(r, 1), _mm_set1_epi8(0x7C)),
                          _mm_and_si128(_mm_srli_epi16(g, 6), _mm_set1_epi8(0x03)));
        lo = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(g, 2), _mm_set1_epi8(char(0xE0))), b5);
    } else {
        hi = _mm_or_si128(_mm_and_si128(r, _mm_set1_epi8(char(0xF8))),
                          _mm_and_si128(_mm_srli_epi16(g, 5), _mm_set1_epi8(0x07)));
        lo = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(g, 3), _mm_set1_epi8(char(0xE0))), b5);
    }
    Store16Words(d, _mm_unpacklo_epi8(lo, hi), _mm_unpackhi_epi8(lo, hi));
}
// 16 pixels as B, G, R, 0 dwords, four per register.
inline void BgrxQuads(__m128i r, __m128i g, __m128i b, __m128i q[4]) {
    const __m128i z = _mm_setzero_si128();
    const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
    const __m128i rzLo = _mm_unpacklo_epi8(r, z), rzHi = _mm_unpackhi_epi8(r, z);
    q[0] = _mm_unpacklo_epi16(bgLo, rzLo);
    q[1] = _mm_unpackhi_epi16(bgLo, rzLo);
    q[2] = _mm_unpacklo_epi16(bgHi, rzHi);
    q[3] = _mm_unpackhi_epi16(bgHi, rzHi);
}
#endif

struct Pack555 {
    static constexpr int kBytes = 2;
#if defined(__SSE2__)
    static void Simd16(uint8_t* d, __m128i r, __m128i g, __m128i b) {
        Simd16Bit<true>(d, r, g, b);
    }
#endif
    static void Put(uint8_t* p, Rgb c) {
        Store16(p, static_cast<uint16_t>(((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3)));
    }
};
struct Pack565 {
    static constexpr int kBytes = 2;
#if defined(__SSE2__)
    static void Simd16(uint8_t* d, __m128i r, __m128i g, __m128i b) {
        Simd16Bit<false>(d, r, g, b);
    }
#endif
    static void Put(uint8_t* p, Rgb c) {
        Store16(p, static_cast<uint16_t>(((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3)));
    }
};
struct PackBgr565 {
    static constexpr int kBytes = 2;
#if defined(__SSE2__)
    static void Simd16(uint8_t* d, __m128i r, __m128i g, __m128i b) {
        Simd16Bit<false>(d, b, g, r);
    }
#endif
    static void Put(uint8_t* p, Rgb c) {
        Store16(p, static_cast<uint16_t>(((c.b >> 3) << 11) | ((c.g >> 2) << 5) | (c.r >> 3)));
    }
};
struct Pack24 {
    static constexpr int kBytes = 3;
#if defined(__SSE2__)
    static void Simd16(uint8_t* d, __m128i r, __m128i g, __m128i b) {
        __m128i q[4];
        BgrxQuads(r, g, b, q);
        alignas(16) uint32_t px[16];
        for (int i = 0; i < 4; ++i)
            _mm_store_si128(reinterpret_cast<__m128i*>(px) + i, q[i]);
        // Four B, G, R, 0 dwords make three dwords of B, G, R bytes.
        for (int i = 0; i < 16; i += 4) {
            const uint32_t w[3] = {px[i] | (px[i + 1] << 24), (px[i + 1] >> 8) | (px[i + 2] << 16),
                                   (px[i + 2] >> 16) | (px[i + 3] << 8)};
            std::memcpy(d + 3 * i, w, 12);
        }
    }
#endif
    static void Put(uint8_t* p, Rgb c) {
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
    }
};
struct Pack32 {
    static constexpr int kBytes = 4;
#if defined(__SSE2__)
    static void Simd16(uint8_t* d, __m128i r, __m128i g, __m128i b) {
        __m128i q[4];
        BgrxQuads(r, g, b, q);
        for (int i = 0; i < 4; ++i)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d) + i, q[i]);
    }
#endif
    static void Put(uint8_t* p, Rgb c) {
        const uint32_t v = (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b;
        std::memcpy(p, &v, 4);
    }
};

#if defined(__SSE2__)
// Y * 1024 is a multiple of 1024, so (Y * 1024 + t) >> 10 = Y + (t >> 10): the
// table arithmetic reduces to a per-chroma offset added to luma, clamped to
// 1..255, which 16-bit lanes do exactly.
inline __m128i ChromaOffset(__m128i uvLo, __m128i uvHi, __m128i coefs) {
    return _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(uvLo, coefs), 10),
                           _mm_srai_epi32(_mm_madd_epi16(uvHi, coefs), 10));
}

inline __m128i AddClip(__m128i y, __m128i dLo, __m128i dHi) {
    const __m128i z = _mm_setzero_si128();
    const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(y, z), dLo);
    const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(y, z), dHi);
    return _mm_max_epu8(_mm_packus_epi16(lo, hi), _mm_set1_epi8(1));
}

// Two rows of 16 pixels sharing 8 chroma samples.
template <class Pack>
inline void ConvertSimd16(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1,
                          const uint8_t* u, const uint8_t* v) {
    const __m128i z = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i uu = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u)), z), bias);
    const __m128i vv = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)), z), bias);
    const __m128i uvLo = _mm_unpacklo_epi16(uu, vv); // u0 v0 u1 v1 ...
    const __m128i uvHi = _mm_unpackhi_epi16(uu, vv);
    // Each 32-bit lane: u coefficient in the low half, v coefficient in the high half.
    const __m128i kR = _mm_set1_epi32(int32_t(uint32_t(1436) << 16));
    const __m128i kG = _mm_set1_epi32(int32_t((uint32_t(uint16_t(-731)) << 16) | uint16_t(-352)));
    const __m128i kB = _mm_set1_epi32(1815);
    const __m128i dr = ChromaOffset(uvLo, uvHi, kR);
    const __m128i dg = ChromaOffset(uvLo, uvHi, kG);
    const __m128i db = ChromaOffset(uvLo, uvHi, kB);
    const __m128i drLo = _mm_unpacklo_epi16(dr, dr), drHi = _mm_unpackhi_epi16(dr, dr);
    const __m128i dgLo = _mm_unpacklo_epi16(dg, dg), dgHi = _mm_unpackhi_epi16(dg, dg);
    const __m128i dbLo = _mm_unpacklo_epi16(db, db), dbHi = _mm_unpackhi_epi16(db, db);
    const __m128i ya = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y0));
    Pack::Simd16(d0, AddClip(ya, drLo, drHi), AddClip(ya, dgLo, dgHi), AddClip(ya, dbLo, dbHi));
    const __m128i yb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y1));
    Pack::Simd16(d1, AddClip(yb, drLo, drHi), AddClip(yb, dgLo, dgHi), AddClip(yb, dbLo, dbHi));
}
#endif

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
        int i = 0;
#if defined(__SSE2__)
        for (; i + 8 <= cw; i += 8) {
            ConvertSimd16<Pack>(d0, d1, y0 + 2 * i, y1 + 2 * i, u + i, v + i);
            d0 += 16 * Pack::kBytes;
            d1 += 16 * Pack::kBytes;
        }
#endif
        for (; i < cw; ++i) {
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
