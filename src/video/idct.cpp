#include "video/idct.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tv {

namespace {

constexpr int W1 = 2841;
constexpr int W2 = 2676;
constexpr int W3 = 2408;
constexpr int W5 = 1609;
constexpr int W6 = 1108;
constexpr int W7 = 565;

int16_t g_blockClipStore[1024];
std::once_flag g_blockClipOnce;

void BuildBlockClip() {
    for (int i = 0; i < 1024; ++i)
        g_blockClipStore[i] = int16_t(std::clamp(i - 512, 0, 255));
}

inline int16_t ClipSample(const int16_t* clip, int v) {
    if (unsigned(v + 512) < 1024u)
        return clip[v];
    return v < 0 ? 0 : 255;
}

// (181 x v + 128) >> 8 in 32-bit arithmetic. Blocks crafted with extreme
// coefficients carry the product past 32 bits; it wraps as 32-bit integer
// arithmetic does rather than being left undefined.
inline int Scale181(int v) {
    return int32_t(181u * uint32_t(v) + 128u) >> 8;
}

void GenericRow(int16_t* x) {
    if (!(x[1] | x[2] | x[3] | x[4] | x[5] | x[6] | x[7])) {
        const int16_t dc = int16_t(x[0] * 8);
        for (int i = 0; i < 8; ++i)
            x[i] = dc;
        return;
    }
    const int a0 = (int(x[0]) * 2048) + 128;
    const int a1 = int(x[4]) * 2048;
    int t = W7 * (x[1] + x[7]);
    const int p4 = t + (W1 - W7) * x[1];
    const int p5 = t - (W1 + W7) * x[7];
    t = W3 * (x[5] + x[3]);
    const int p6 = t - (W3 - W5) * x[5];
    const int p7 = t - (W3 + W5) * x[3];
    const int e8 = a0 + a1;
    const int e0 = a0 - a1;
    t = W6 * (x[2] + x[6]);
    const int e2 = t - (W2 + W6) * x[6];
    const int e3 = t + (W2 - W6) * x[2];
    const int q1 = p4 + p6;
    const int q4 = p4 - p6;
    const int q6 = p5 + p7;
    const int q5 = p5 - p7;
    const int f7 = e8 + e3;
    const int f8 = e8 - e3;
    const int f3 = e0 + e2;
    const int f0 = e0 - e2;
    const int g2 = Scale181(q4 + q5);
    const int g4 = Scale181(q4 - q5);
    x[0] = int16_t((f7 + q1) >> 8);
    x[1] = int16_t((f3 + g2) >> 8);
    x[2] = int16_t((f0 + g4) >> 8);
    x[3] = int16_t((f8 + q6) >> 8);
    x[4] = int16_t((f8 - q6) >> 8);
    x[5] = int16_t((f0 - g4) >> 8);
    x[6] = int16_t((f3 - g2) >> 8);
    x[7] = int16_t((f7 - q1) >> 8);
}

void GenericColumn(int16_t* b, const int16_t* clip) {
    const int y0 = b[0], y1 = b[8], y2 = b[16], y3 = b[24];
    const int y4 = b[32], y5 = b[40], y6 = b[48], y7 = b[56];
    if (!(y1 | y2 | y3 | y4 | y5 | y6 | y7)) {
        const int16_t v = ClipSample(clip, (y0 + 32) >> 6);
        for (int i = 0; i < 8; ++i)
            b[8 * i] = v;
        return;
    }
    const int a0 = (y0 * 256) + 8192;
    const int a1 = y4 * 256;
    int t = W7 * (y1 + y7) + 4;
    const int p4 = (t + (W1 - W7) * y1) >> 3;
    const int p5 = (t - (W1 + W7) * y7) >> 3;
    t = W3 * (y5 + y3) + 4;
    const int p6 = (t - (W3 - W5) * y5) >> 3;
    const int p7 = (t - (W3 + W5) * y3) >> 3;
    const int e8 = a0 + a1;
    const int e0 = a0 - a1;
    t = W6 * (y2 + y6) + 4;
    const int e2 = (t - (W2 + W6) * y6) >> 3;
    const int e3 = (t + (W2 - W6) * y2) >> 3;
    const int q1 = p4 + p6;
    const int q4 = p4 - p6;
    const int q6 = p5 + p7;
    const int q5 = p5 - p7;
    const int f7 = e8 + e3;
    const int f8 = e8 - e3;
    const int f3 = e0 + e2;
    const int f0 = e0 - e2;
    const int g2 = Scale181(q4 + q5);
    const int g4 = Scale181(q4 - q5);
    b[0] = ClipSample(clip, (f7 + q1) >> 14);
    b[8] = ClipSample(clip, (f3 + g2) >> 14);
    b[16] = ClipSample(clip, (f0 + g4) >> 14);
    b[24] = ClipSample(clip, (f8 + q6) >> 14);
    b[32] = ClipSample(clip, (f8 - q6) >> 14);
    b[40] = ClipSample(clip, (f0 - g4) >> 14);
    b[48] = ClipSample(clip, (f3 - g2) >> 14);
    b[56] = ClipSample(clip, (f7 - q1) >> 14);
}

// Row constants: groups A, B, C, D of K, c2, s2, c1, c3, c5, c7.
struct RowGroup {
    int k, c2, s2, c1, c3, c5, c7;
};
constexpr RowGroup kGroupA{16384, 21407, 8867, 22725, 19266, 12873, 4520};
constexpr RowGroup kGroupB{22725, 29692, 12299, 31521, 26722, 17855, 6270};
constexpr RowGroup kGroupC{21407, 27969, 11585, 29692, 25172, 16819, 5906};
constexpr RowGroup kGroupD{19266, 25172, 10426, 26722, 22654, 15137, 5315};
constexpr const RowGroup* kRowGroup[8] = {&kGroupA, &kGroupB, &kGroupC, &kGroupD,
                                          &kGroupA, &kGroupD, &kGroupC, &kGroupB};
constexpr int kRowRounder[8] = {65536, 3597, 2260, 1203, 0, 120, 512, 512};

constexpr int16_t kT1 = 13036;
constexpr int16_t kT2 = 27146;
constexpr int16_t kT3 = -21746;
constexpr int16_t kC4 = 23170;

inline int16_t Sat16(int v) {
    return int16_t(std::clamp(v, -32768, 32767));
}
inline int16_t Add(int16_t a, int16_t b) {
    return Sat16(int(a) + b);
}
inline int16_t Sub(int16_t a, int16_t b) {
    return Sat16(int(a) - b);
}
inline int16_t MulHi(int16_t a, int16_t b) {
    return int16_t((int(a) * int(b)) >> 16);
}

void SimdRowScalar(int16_t* x, const RowGroup& g, int r) {
    const int x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3];
    const int x4 = x[4], x5 = x[5], x6 = x[6], x7 = x[7];
    const int a0 = g.k * (x0 + x4) + g.c2 * x2 + g.s2 * x6 + r;
    const int a1 = g.k * (x0 - x4) + g.s2 * x2 - g.c2 * x6 + r;
    const int a2 = g.k * (x0 - x4) - g.s2 * x2 + g.c2 * x6 + r;
    const int a3 = g.k * (x0 + x4) - g.c2 * x2 - g.s2 * x6 + r;
    const int b0 = g.c1 * x1 + g.c3 * x3 + g.c5 * x5 + g.c7 * x7;
    const int b1 = g.c3 * x1 - g.c7 * x3 - g.c1 * x5 - g.c5 * x7;
    const int b2 = g.c5 * x1 - g.c1 * x3 + g.c7 * x5 + g.c3 * x7;
    const int b3 = g.c7 * x1 - g.c5 * x3 + g.c3 * x5 - g.c1 * x7;
    x[0] = Sat16((a0 + b0) >> 11);
    x[7] = Sat16((a0 - b0) >> 11);
    x[1] = Sat16((a1 + b1) >> 11);
    x[6] = Sat16((a1 - b1) >> 11);
    x[2] = Sat16((a2 + b2) >> 11);
    x[5] = Sat16((a2 - b2) >> 11);
    x[3] = Sat16((a3 + b3) >> 11);
    x[4] = Sat16((a3 - b3) >> 11);
}

void SimdColumnScalar(int16_t* b) {
    const int16_t y0 = b[0], y1 = b[8], y2 = b[16], y3 = b[24];
    const int16_t y4 = b[32], y5 = b[40], y6 = b[48], y7 = b[56];
    const int16_t tm35 = Sub(Add(MulHi(kT3, y3), y3), y5);
    const int16_t tp35 = Add(Add(MulHi(kT3, y5), y3), y5);
    const int16_t tp17 = Add(MulHi(kT1, y7), y1);
    const int16_t tm17 = Sub(MulHi(kT1, y1), y7);
    const int16_t b0 = Add(tp17, tp35);
    const int16_t b3 = Sub(tm17, tm35);
    const int16_t t1 = Sub(tp17, tp35);
    const int16_t t2 = Add(tm17, tm35);
    int16_t h = MulHi(Add(t1, t2), kC4);
    const int16_t b1 = Add(h, h);
    h = MulHi(Sub(t1, t2), kC4);
    const int16_t b2 = Add(h, h);
    const int16_t tm26 = Sub(MulHi(kT2, y2), y6);
    const int16_t tp26 = Add(MulHi(kT2, y6), y2);
    const int16_t tp04 = Add(y0, y4);
    const int16_t tm04 = Sub(y0, y4);
    const int16_t a0 = Add(tp04, tp26);
    const int16_t a3 = Sub(tp04, tp26);
    const int16_t a1 = Add(tm04, tm26);
    const int16_t a2 = Sub(tm04, tm26);
    b[0] = int16_t(Add(a0, b0) >> 6);
    b[56] = int16_t(Sub(a0, b0) >> 6);
    b[8] = int16_t(Add(a1, b1) >> 6);
    b[48] = int16_t(Sub(a1, b1) >> 6);
    b[16] = int16_t(Add(a2, b2) >> 6);
    b[40] = int16_t(Sub(a2, b2) >> 6);
    b[24] = int16_t(Add(a3, b3) >> 6);
    b[32] = int16_t(Sub(a3, b3) >> 6);
}

void ClearBlockPlain(int16_t* block) {
    std::memset(block, 0, 64 * sizeof(int16_t));
}

// The generic transform already clamped every sample to 0..255.
void StoreLowByte(const int16_t* block, uint8_t* dst, int pitch) {
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c)
            dst[c] = uint8_t(block[8 * r + c]);
        dst += pitch;
    }
}

void StoreSaturatedScalar(const int16_t* block, uint8_t* dst, int pitch) {
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c)
            dst[c] = uint8_t(std::clamp<int>(block[8 * r + c], 0, 255));
        dst += pitch;
    }
}

template <void (*Idct)(int16_t*), void (*Store)(const int16_t*, uint8_t*, int)>
void IdctPutPlain(int16_t* block, uint8_t* dst, int pitch) {
    Idct(block);
    Store(block, dst, pitch);
    std::memset(block, 0, 64 * sizeof(int16_t));
}

#if defined(__SSE2__)

// Row coefficients for pmaddwd on the pairs (x0, x2), (x4, x6), (x1, x3),
// (x5, x7); each 32-bit lane of a product sum is one of a0..a3 or b0..b3.
struct alignas(16) RowTableSse2 {
    int16_t e02[8], e46[8], o13[8], o57[8];
    int32_t rounder[4];
};

constexpr RowTableSse2 MakeRowTable(const RowGroup& g, int r) {
    const int16_t k = int16_t(g.k), c2 = int16_t(g.c2), s2 = int16_t(g.s2);
    const int16_t c1 = int16_t(g.c1), c3 = int16_t(g.c3), c5 = int16_t(g.c5), c7 = int16_t(g.c7);
    return RowTableSse2{{k, c2, k, s2, k, int16_t(-s2), k, int16_t(-c2)},
                        {k, s2, int16_t(-k), int16_t(-c2), int16_t(-k), c2, k, int16_t(-s2)},
                        {c1, c3, c3, int16_t(-c7), c5, int16_t(-c1), c7, int16_t(-c5)},
                        {c5, c7, int16_t(-c1), int16_t(-c5), c7, c3, c3, int16_t(-c1)},
                        {r, r, r, r}};
}

alignas(16) constexpr RowTableSse2 kRowTables[8] = {
    MakeRowTable(kGroupA, 65536), MakeRowTable(kGroupB, 3597), MakeRowTable(kGroupC, 2260),
    MakeRowTable(kGroupD, 1203),  MakeRowTable(kGroupA, 0),    MakeRowTable(kGroupD, 120),
    MakeRowTable(kGroupC, 512),   MakeRowTable(kGroupB, 512)};

inline __m128i RowSse2(__m128i x, const RowTableSse2& t) {
    // (x0, x2, x1, x3, x4, x6, x5, x7)
    __m128i s = _mm_shufflelo_epi16(x, _MM_SHUFFLE(3, 1, 2, 0));
    s = _mm_shufflehi_epi16(s, _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i p02 = _mm_shuffle_epi32(s, _MM_SHUFFLE(0, 0, 0, 0));
    const __m128i p13 = _mm_shuffle_epi32(s, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128i p46 = _mm_shuffle_epi32(s, _MM_SHUFFLE(2, 2, 2, 2));
    const __m128i p57 = _mm_shuffle_epi32(s, _MM_SHUFFLE(3, 3, 3, 3));
    __m128i a = _mm_add_epi32(_mm_madd_epi16(p02, _mm_load_si128((const __m128i*)t.e02)),
                              _mm_madd_epi16(p46, _mm_load_si128((const __m128i*)t.e46)));
    a = _mm_add_epi32(a, _mm_load_si128((const __m128i*)t.rounder));
    const __m128i b = _mm_add_epi32(_mm_madd_epi16(p13, _mm_load_si128((const __m128i*)t.o13)),
                                    _mm_madd_epi16(p57, _mm_load_si128((const __m128i*)t.o57)));
    const __m128i lo = _mm_srai_epi32(_mm_add_epi32(a, b), 11);
    __m128i hi = _mm_srai_epi32(_mm_sub_epi32(a, b), 11);
    hi = _mm_shuffle_epi32(hi, _MM_SHUFFLE(0, 1, 2, 3));
    return _mm_packs_epi32(lo, hi);
}

inline __m128i Set1(int16_t v) {
    return _mm_set1_epi16(v);
}

// The 16-bit saturating column pass over all eight columns at once; y holds
// the rows on entry and the rows of samples (not yet saturated to 0..255) on
// return.
inline void ColumnsSse2(__m128i (&y)[8]) {
    const __m128i t1c = Set1(kT1), t2c = Set1(kT2), t3c = Set1(kT3), c4 = Set1(kC4);
    const __m128i tm35 = _mm_subs_epi16(_mm_adds_epi16(_mm_mulhi_epi16(t3c, y[3]), y[3]), y[5]);
    const __m128i tp35 = _mm_adds_epi16(_mm_adds_epi16(_mm_mulhi_epi16(t3c, y[5]), y[3]), y[5]);
    const __m128i tp17 = _mm_adds_epi16(_mm_mulhi_epi16(t1c, y[7]), y[1]);
    const __m128i tm17 = _mm_subs_epi16(_mm_mulhi_epi16(t1c, y[1]), y[7]);
    const __m128i b0 = _mm_adds_epi16(tp17, tp35);
    const __m128i b3 = _mm_subs_epi16(tm17, tm35);
    const __m128i t1 = _mm_subs_epi16(tp17, tp35);
    const __m128i t2 = _mm_adds_epi16(tm17, tm35);
    __m128i h = _mm_mulhi_epi16(_mm_adds_epi16(t1, t2), c4);
    const __m128i b1 = _mm_adds_epi16(h, h);
    h = _mm_mulhi_epi16(_mm_subs_epi16(t1, t2), c4);
    const __m128i b2 = _mm_adds_epi16(h, h);
    const __m128i tm26 = _mm_subs_epi16(_mm_mulhi_epi16(t2c, y[2]), y[6]);
    const __m128i tp26 = _mm_adds_epi16(_mm_mulhi_epi16(t2c, y[6]), y[2]);
    const __m128i tp04 = _mm_adds_epi16(y[0], y[4]);
    const __m128i tm04 = _mm_subs_epi16(y[0], y[4]);
    const __m128i a0 = _mm_adds_epi16(tp04, tp26);
    const __m128i a3 = _mm_subs_epi16(tp04, tp26);
    const __m128i a1 = _mm_adds_epi16(tm04, tm26);
    const __m128i a2 = _mm_subs_epi16(tm04, tm26);
    y[0] = _mm_srai_epi16(_mm_adds_epi16(a0, b0), 6);
    y[7] = _mm_srai_epi16(_mm_subs_epi16(a0, b0), 6);
    y[1] = _mm_srai_epi16(_mm_adds_epi16(a1, b1), 6);
    y[6] = _mm_srai_epi16(_mm_subs_epi16(a1, b1), 6);
    y[2] = _mm_srai_epi16(_mm_adds_epi16(a2, b2), 6);
    y[5] = _mm_srai_epi16(_mm_subs_epi16(a2, b2), 6);
    y[3] = _mm_srai_epi16(_mm_adds_epi16(a3, b3), 6);
    y[4] = _mm_srai_epi16(_mm_subs_epi16(a3, b3), 6);
}

inline bool AllZero(__m128i v) {
    return _mm_movemask_epi8(_mm_cmpeq_epi16(v, _mm_setzero_si128())) == 0xFFFF;
}

// The row pass of IdctSimdSse2 into y. Rows 3 to 7 have rounders below 2048,
// so a row of zeros stays zeros; coded blocks mostly end in such rows.
inline void RowsSse2(const int16_t* block, __m128i (&y)[8]) {
    const __m128i* b = reinterpret_cast<const __m128i*>(block);
    y[0] = RowSse2(_mm_load_si128(b + 0), kRowTables[0]);
    y[1] = RowSse2(_mm_load_si128(b + 1), kRowTables[1]);
    y[2] = RowSse2(_mm_load_si128(b + 2), kRowTables[2]);
    for (int i = 3; i < 8; ++i)
        y[i] = _mm_load_si128(b + i);
    if (!AllZero(
            _mm_or_si128(_mm_or_si128(_mm_or_si128(y[3], y[4]), _mm_or_si128(y[5], y[6])), y[7]))) {
        for (int i = 3; i < 8; ++i)
            y[i] = RowSse2(y[i], kRowTables[i]);
    }
}

// Saturates the eight rows to 0..255 and writes them pitch bytes apart.
inline void PutRowsSse2(const __m128i (&y)[8], uint8_t* dst, int pitch) {
    for (int r = 0; r < 8; r += 2) {
        const __m128i p = _mm_packus_epi16(y[r], y[r + 1]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), p);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + pitch), _mm_unpackhi_epi64(p, p));
        dst += 2 * ptrdiff_t(pitch);
    }
}

inline void ZeroBlockSse2(int16_t* block) {
    __m128i* b = reinterpret_cast<__m128i*>(block);
    const __m128i z = _mm_setzero_si128();
    for (int i = 0; i < 8; ++i)
        _mm_store_si128(b + i, z);
}

#endif

} // namespace

const int16_t* BlockClipTable() {
    std::call_once(g_blockClipOnce, BuildBlockClip);
    return g_blockClipStore + 512;
}

void IdctGeneric(int16_t* block) {
    const int16_t* clip = BlockClipTable();
    for (int r = 0; r < 8; ++r)
        GenericRow(block + 8 * r);
    for (int c = 0; c < 8; ++c)
        GenericColumn(block + c, clip);
}

void IdctSimdScalar(int16_t* block) {
    for (int r = 0; r < 8; ++r)
        SimdRowScalar(block + 8 * r, *kRowGroup[r], kRowRounder[r]);
    for (int c = 0; c < 8; ++c)
        SimdColumnScalar(block + c);
}

#if defined(__SSE2__)

void IdctSimdSse2(int16_t* block) {
    __m128i y[8];
    RowsSse2(block, y);
    ColumnsSse2(y);
    __m128i* b = reinterpret_cast<__m128i*>(block);
    for (int i = 0; i < 8; ++i)
        _mm_store_si128(b + i, y[i]);
}

namespace {

// A block with coefficients in row 0 only. Rows 1 and 2 come out of their
// row pass as 1 (their rounders exceed 2048), rows 3 to 7 as 0, so in the
// column pass every product term but y0 is a constant 0 or 1 and the eight
// output rows take four values.
inline void PutRowOnlySse2(__m128i row0, int16_t* block, uint8_t* dst, int pitch) {
    const __m128i y0 = RowSse2(row0, kRowTables[0]);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i a0 = _mm_adds_epi16(y0, one);
    const __m128i o0 = _mm_srai_epi16(_mm_adds_epi16(a0, one), 6);
    const __m128i o7 = _mm_srai_epi16(_mm_subs_epi16(a0, one), 6);
    const __m128i o1 = _mm_srai_epi16(y0, 6);
    const __m128i o3 = _mm_srai_epi16(_mm_subs_epi16(y0, one), 6);
    const __m128i p01 = _mm_packus_epi16(o0, o1), p33 = _mm_packus_epi16(o3, o3);
    const __m128i p17 = _mm_packus_epi16(o1, o7);
    _mm_store_si128(reinterpret_cast<__m128i*>(block), _mm_setzero_si128());
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), p01);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + pitch), p17);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 2 * pitch), p17);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 3 * pitch), p33);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 4 * pitch), p33);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 5 * pitch), p17);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 6 * pitch), p17);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 7 * pitch), _mm_unpackhi_epi64(p17, p17));
}

// IdctSimdSse2 and the saturating store in one, straight from the registers.
void IdctPutSse2(int16_t* block, uint8_t* dst, int pitch) {
    const __m128i* b = reinterpret_cast<const __m128i*>(block);
    __m128i rest = _mm_load_si128(b + 1);
    for (int i = 2; i < 8; ++i)
        rest = _mm_or_si128(rest, _mm_load_si128(b + i));
    if (AllZero(rest)) {
        PutRowOnlySse2(_mm_load_si128(b), block, dst, pitch);
        return;
    }
    __m128i y[8];
    RowsSse2(block, y);
    ZeroBlockSse2(block);
    ColumnsSse2(y);
    PutRowsSse2(y, dst, pitch);
}

} // namespace

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TV_HAVE_AVX2_IDCT 1

namespace {

// Two rows per 256-bit register: row r in the low lane, row r + 1 in the high.
struct alignas(32) RowPairAvx2 {
    int16_t e02[16], e46[16], o13[16], o57[16];
    int32_t rounder[8];
};

constexpr RowPairAvx2 MakeRowPair(const RowTableSse2& a, const RowTableSse2& b) {
    RowPairAvx2 p{};
    for (int i = 0; i < 8; ++i) {
        p.e02[i] = a.e02[i];
        p.e02[i + 8] = b.e02[i];
        p.e46[i] = a.e46[i];
        p.e46[i + 8] = b.e46[i];
        p.o13[i] = a.o13[i];
        p.o13[i + 8] = b.o13[i];
        p.o57[i] = a.o57[i];
        p.o57[i + 8] = b.o57[i];
    }
    for (int i = 0; i < 4; ++i) {
        p.rounder[i] = a.rounder[i];
        p.rounder[i + 4] = b.rounder[i];
    }
    return p;
}

alignas(32) constexpr RowPairAvx2 kRowPairs[4] = {
    MakeRowPair(kRowTables[0], kRowTables[1]), MakeRowPair(kRowTables[2], kRowTables[3]),
    MakeRowPair(kRowTables[4], kRowTables[5]), MakeRowPair(kRowTables[6], kRowTables[7])};

__attribute__((target("avx2"))) inline __m256i RowPair(__m256i x, const RowPairAvx2& t) {
    __m256i s = _mm256_shufflelo_epi16(x, _MM_SHUFFLE(3, 1, 2, 0));
    s = _mm256_shufflehi_epi16(s, _MM_SHUFFLE(3, 1, 2, 0));
    const __m256i p02 = _mm256_shuffle_epi32(s, _MM_SHUFFLE(0, 0, 0, 0));
    const __m256i p13 = _mm256_shuffle_epi32(s, _MM_SHUFFLE(1, 1, 1, 1));
    const __m256i p46 = _mm256_shuffle_epi32(s, _MM_SHUFFLE(2, 2, 2, 2));
    const __m256i p57 = _mm256_shuffle_epi32(s, _MM_SHUFFLE(3, 3, 3, 3));
    __m256i a = _mm256_add_epi32(_mm256_madd_epi16(p02, _mm256_load_si256((const __m256i*)t.e02)),
                                 _mm256_madd_epi16(p46, _mm256_load_si256((const __m256i*)t.e46)));
    a = _mm256_add_epi32(a, _mm256_load_si256((const __m256i*)t.rounder));
    const __m256i b =
        _mm256_add_epi32(_mm256_madd_epi16(p13, _mm256_load_si256((const __m256i*)t.o13)),
                         _mm256_madd_epi16(p57, _mm256_load_si256((const __m256i*)t.o57)));
    const __m256i lo = _mm256_srai_epi32(_mm256_add_epi32(a, b), 11);
    __m256i hi = _mm256_srai_epi32(_mm256_sub_epi32(a, b), 11);
    hi = _mm256_shuffle_epi32(hi, _MM_SHUFFLE(0, 1, 2, 3));
    return _mm256_packs_epi32(lo, hi);
}

} // namespace

namespace {

__attribute__((target("avx2"))) inline void RowsAvx2(const int16_t* block, __m128i (&y)[8]) {
    const __m256i r01 = RowPair(_mm256_loadu_si256((const __m256i*)(block)), kRowPairs[0]);
    const __m256i r23 = RowPair(_mm256_loadu_si256((const __m256i*)(block + 16)), kRowPairs[1]);
    __m256i r45 = _mm256_loadu_si256((const __m256i*)(block + 32));
    __m256i r67 = _mm256_loadu_si256((const __m256i*)(block + 48));
    // Rows 4 to 7 have rounders below 2048, so zero rows stay zero.
    if (!_mm256_testz_si256(_mm256_or_si256(r45, r67), _mm256_or_si256(r45, r67))) {
        r45 = RowPair(r45, kRowPairs[2]);
        r67 = RowPair(r67, kRowPairs[3]);
    }
    y[0] = _mm256_castsi256_si128(r01);
    y[1] = _mm256_extracti128_si256(r01, 1);
    y[2] = _mm256_castsi256_si128(r23);
    y[3] = _mm256_extracti128_si256(r23, 1);
    y[4] = _mm256_castsi256_si128(r45);
    y[5] = _mm256_extracti128_si256(r45, 1);
    y[6] = _mm256_castsi256_si128(r67);
    y[7] = _mm256_extracti128_si256(r67, 1);
}

__attribute__((target("avx2"))) void IdctPutAvx2(int16_t* block, uint8_t* dst, int pitch) {
    const __m256i r01 = _mm256_loadu_si256((const __m256i*)(block));
    const __m256i rest = _mm256_or_si256(
        _mm256_or_si256(_mm256_loadu_si256((const __m256i*)(block + 16)),
                        _mm256_loadu_si256((const __m256i*)(block + 32))),
        _mm256_or_si256(
            _mm256_loadu_si256((const __m256i*)(block + 48)),
            _mm256_inserti128_si256(_mm256_setzero_si256(), _mm256_extracti128_si256(r01, 1), 0)));
    if (_mm256_testz_si256(rest, rest)) {
        PutRowOnlySse2(_mm256_castsi256_si128(r01), block, dst, pitch);
        return;
    }
    __m128i y[8];
    RowsAvx2(block, y);
    const __m256i z = _mm256_setzero_si256();
    for (int i = 0; i < 4; ++i)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(block) + i, z);
    ColumnsSse2(y);
    PutRowsSse2(y, dst, pitch);
}

} // namespace

// The same arithmetic as IdctSimdSse2 with two rows per instruction.
__attribute__((target("avx2"))) void IdctSimdAvx2(int16_t* block) {
    __m128i y[8];
    RowsAvx2(block, y);
    ColumnsSse2(y);
    __m128i* b = reinterpret_cast<__m128i*>(block);
    for (int i = 0; i < 8; ++i)
        _mm_store_si128(b + i, y[i]);
}

bool HasAvx2() {
    return __builtin_cpu_supports("avx2");
}

#endif

namespace {

void ClearBlockSse2(int16_t* block) {
    ZeroBlockSse2(block);
}

void StoreSaturatedSse2(const int16_t* block, uint8_t* dst, int pitch) {
    const __m128i* b = reinterpret_cast<const __m128i*>(block);
    for (int r = 0; r < 8; r += 2) {
        const __m128i p = _mm_packus_epi16(_mm_load_si128(b + r), _mm_load_si128(b + r + 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), p);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + pitch), _mm_unpackhi_epi64(p, p));
        dst += 2 * ptrdiff_t(pitch);
    }
}

} // namespace

#endif

void IdctSimd(int16_t* block) {
#if defined(TV_HAVE_AVX2_IDCT)
    static const bool avx2 = HasAvx2();
    if (avx2) {
        IdctSimdAvx2(block);
        return;
    }
#endif
#if defined(__SSE2__)
    IdctSimdSse2(block);
#else
    IdctSimdScalar(block);
#endif
}

int SelectIdctVariant(const CpuFeatures& cpu) {
    int v = kVariantGeneric;
    if (cpu.mmx)
        v = kVariantMmx;
    if (cpu.cmov && cpu.sse)
        v = kVariantMmxSse;
    if (cpu.cmov && cpu.sse2)
        v = kVariantSse2;
    return v;
}

namespace {

// What the variant's own transform and store make of each DC-only block; the
// decoder fills such blocks from this instead of transforming them.
void DeriveDcSamples(DspContext& ctx) {
    alignas(32) int16_t block[64];
    uint8_t out[64];
    ctx.dcFlat = true;
    for (int d = 0; d < 256; ++d) {
        std::memset(block, 0, sizeof block);
        block[0] = int16_t(8 * d);
        ctx.idct(block);
        ctx.storeBlock(block, out, 8);
        ctx.dcSample[d] = out[0];
        for (int i = 1; i < 64; ++i)
            ctx.dcFlat = ctx.dcFlat && out[i] == out[0];
    }
}

} // namespace

int InitDspContext(DspContext& ctx, int variant) {
    BlockClipTable();
    if (variant < kVariantGeneric || variant >= kVariantCount)
        variant = kVariantGeneric;
    ctx.variant = variant;
    ctx.clearBlock = ClearBlockPlain;
    ctx.idct = IdctGeneric;
    ctx.storeBlock = StoreLowByte;
    ctx.idctPut = IdctPutPlain<IdctGeneric, StoreLowByte>;
    // The MMX variant runs the portable realisation of the SIMD arithmetic, so
    // every build exercises it; the later variants use SSE2 where it exists.
    if (variant >= kVariantMmx) {
        ctx.idct = IdctSimdScalar;
        ctx.storeBlock = StoreSaturatedScalar;
        ctx.idctPut = IdctPutPlain<IdctSimdScalar, StoreSaturatedScalar>;
    }
#if defined(__SSE2__)
    if (variant >= kVariantMmxSse) {
        ctx.idct = IdctSimdSse2;
        ctx.idctPut = IdctPutSse2;
#if defined(TV_HAVE_AVX2_IDCT)
        // Same samples, two rows per instruction where the processor allows.
        // Every x86-64 processor takes the SSE2 variant, so MMX-SSE keeps the
        // SSE2 realisation and the tests see both run.
        if (variant >= kVariantSse2 && HasAvx2()) {
            ctx.idct = IdctSimdAvx2;
            ctx.idctPut = IdctPutAvx2;
        }
#endif
        ctx.storeBlock = StoreSaturatedSse2;
    }
    if (variant >= kVariantSse2)
        ctx.clearBlock = ClearBlockSse2;
#endif
    DeriveDcSamples(ctx);
    return variant;
}

const char* IdctVariantName(int variant) {
    switch (variant) {
    case kVariantGeneric:
        return "generic";
    case kVariantMmx:
        return "mmx";
    case kVariantMmxSse:
        return "mmx-sse";
    case kVariantSse2:
        return "sse2";
    default:
        return "unknown";
    }
}

int IdctVariantFromName(const char* name) {
    if (name == nullptr)
        return -1;
    const std::string_view n(name);
    if (n == "generic")
        return kVariantGeneric;
    if (n == "mmx")
        return kVariantMmx;
    if (n == "mmx-sse")
        return kVariantMmxSse;
    if (n == "sse2" || n == "simd")
        return kVariantSse2;
    return -1;
}

} // namespace tv
