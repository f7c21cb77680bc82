#include "video/video_tables.h"

namespace tv {

const uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

const uint8_t kIntraQuantMatrix[64] = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

// clang-format off
constexpr CoeffCode kCoeffCodes[kCoeffCodeCount] = {
    // run 0
    {0x3, 2, 0, 1}, {0x4, 4, 0, 2}, {0x5, 5, 0, 3}, {0x6, 7, 0, 4}, {0x26, 8, 0, 5},
    {0x21, 8, 0, 6}, {0xa, 10, 0, 7}, {0x1d, 12, 0, 8}, {0x18, 12, 0, 9}, {0x13, 12, 0, 10},
    {0x10, 12, 0, 11}, {0x1a, 13, 0, 12}, {0x19, 13, 0, 13}, {0x18, 13, 0, 14}, {0x17, 13, 0, 15},
    {0x1f, 14, 0, 16}, {0x1e, 14, 0, 17}, {0x1d, 14, 0, 18}, {0x1c, 14, 0, 19}, {0x1b, 14, 0, 20},
    {0x1a, 14, 0, 21}, {0x19, 14, 0, 22}, {0x18, 14, 0, 23}, {0x17, 14, 0, 24}, {0x16, 14, 0, 25},
    {0x15, 14, 0, 26}, {0x14, 14, 0, 27}, {0x13, 14, 0, 28}, {0x12, 14, 0, 29}, {0x11, 14, 0, 30},
    {0x10, 14, 0, 31}, {0x18, 15, 0, 32}, {0x17, 15, 0, 33}, {0x16, 15, 0, 34}, {0x15, 15, 0, 35},
    {0x14, 15, 0, 36}, {0x13, 15, 0, 37}, {0x12, 15, 0, 38}, {0x11, 15, 0, 39}, {0x10, 15, 0, 40},
    // run 1
    {0x3, 3, 1, 1}, {0x6, 6, 1, 2}, {0x25, 8, 1, 3}, {0xc, 10, 1, 4}, {0x1b, 12, 1, 5},
    {0x16, 13, 1, 6}, {0x15, 13, 1, 7}, {0x1f, 15, 1, 8}, {0x1e, 15, 1, 9}, {0x1d, 15, 1, 10},
    {0x1c, 15, 1, 11}, {0x1b, 15, 1, 12}, {0x1a, 15, 1, 13}, {0x19, 15, 1, 14}, {0x13, 16, 1, 15},
    {0x12, 16, 1, 16}, {0x11, 16, 1, 17}, {0x10, 16, 1, 18},
    // runs 2 to 31
    {0x5, 4, 2, 1}, {0x4, 7, 2, 2}, {0xb, 10, 2, 3}, {0x14, 12, 2, 4}, {0x14, 13, 2, 5},
    {0x7, 5, 3, 1}, {0x24, 8, 3, 2}, {0x1c, 12, 3, 3}, {0x13, 13, 3, 4},
    {0x6, 5, 4, 1}, {0xf, 10, 4, 2}, {0x12, 12, 4, 3},
    {0x7, 6, 5, 1}, {0x9, 10, 5, 2}, {0x12, 13, 5, 3},
    {0x5, 6, 6, 1}, {0x1e, 12, 6, 2}, {0x14, 16, 6, 3},
    {0x4, 6, 7, 1}, {0x15, 12, 7, 2},
    {0x7, 7, 8, 1}, {0x11, 12, 8, 2},
    {0x5, 7, 9, 1}, {0x11, 13, 9, 2},
    {0x27, 8, 10, 1}, {0x10, 13, 10, 2},
    {0x23, 8, 11, 1}, {0x1a, 16, 11, 2},
    {0x22, 8, 12, 1}, {0x19, 16, 12, 2},
    {0x20, 8, 13, 1}, {0x18, 16, 13, 2},
    {0xe, 10, 14, 1}, {0x17, 16, 14, 2},
    {0xd, 10, 15, 1}, {0x16, 16, 15, 2},
    {0x8, 10, 16, 1}, {0x15, 16, 16, 2},
    {0x1f, 12, 17, 1}, {0x1a, 12, 18, 1}, {0x19, 12, 19, 1}, {0x17, 12, 20, 1}, {0x16, 12, 21, 1},
    {0x1f, 13, 22, 1}, {0x1e, 13, 23, 1}, {0x1d, 13, 24, 1}, {0x1c, 13, 25, 1}, {0x1b, 13, 26, 1},
    {0x1f, 16, 27, 1}, {0x1e, 16, 28, 1}, {0x1d, 16, 29, 1}, {0x1c, 16, 30, 1}, {0x1b, 16, 31, 1},
};
// clang-format on

const CoeffClass kCoeffClasses[8] = {{0, 16, 16, 0},  {1, 16, 16, 16}, {2, 16, 16, 32},
                                     {3, 16, 16, 48}, {4, 16, 16, 64}, {6, 8, 8, 80},
                                     {8, 4, 60, 88},  {12, 4, 12, 148}};
const uint8_t kCoeffClassOf[12] = {0, 1, 2, 3, 4, 5, 6, 6, 6, 6, 7, 7};

namespace {

constexpr CoeffClass kClasses[8] = {{0, 16, 16, 0},  {1, 16, 16, 16}, {2, 16, 16, 32},
                                    {3, 16, 16, 48}, {4, 16, 16, 64}, {6, 8, 8, 80},
                                    {8, 4, 60, 88},  {12, 4, 12, 148}};

constexpr bool Matches(unsigned v, uint16_t bits, int length) {
    return (v >> (16 - length)) == bits;
}

constexpr CoeffEntryTable BuildEntries(const CoeffCode (&codes)[kCoeffCodeCount]) {
    CoeffEntryTable t{};
    for (const CoeffClass& cls : kClasses) {
        for (int i = 0; i < cls.count; ++i) {
            // Every v of this entry shares the bits above the shift; a code
            // belongs here only when it is no longer than those bits.
            const unsigned v = unsigned(i + cls.offset) << cls.shift;
            const int known = 16 - cls.shift;
            CoeffEntry e{0, 0, 0, kCoeffInvalid};
            if (kEobLength <= known && Matches(v, kEobBits, kEobLength)) {
                e = {kEobLength, 0, 0, kCoeffEob};
            } else if (kEscapeLength <= known && Matches(v, kEscapeBits, kEscapeLength)) {
                e = {kEscapeLength, 0, 0, kCoeffEscape};
            } else {
                for (const CoeffCode& c : codes) {
                    if (c.length <= known && Matches(v, c.bits, c.length)) {
                        e = {c.length, c.run, c.level, kCoeffRunLevel};
                        break;
                    }
                }
            }
            t.e[cls.base + i] = e;
        }
    }
    return t;
}

constexpr FastCoeffTable BuildFast(const CoeffCode (&codes)[kCoeffCodeCount]) {
    FastCoeffTable t{};
    for (unsigned v = 0; v < (1u << kFastBits); ++v) {
        FastCoeff e{0, kFastLong, 0};
        const unsigned v16 = v << (16 - kFastBits);
        if (Matches(v16, kEobBits, kEobLength)) {
            e = {0, kFastEob, kEobLength};
        } else if (Matches(v16, kEscapeBits, kEscapeLength)) {
            e = {0, kFastEscape, kEscapeLength};
        } else {
            for (const CoeffCode& c : codes) {
                if (c.length + 1 <= kFastBits && Matches(v16, c.bits, c.length)) {
                    const bool negative = (v16 >> (15 - c.length)) & 1;
                    e = {int16_t(negative ? -c.level : c.level), c.run, uint8_t(c.length + 1)};
                    break;
                }
            }
        }
        t.e[v] = e;
    }
    return t;
}

constexpr PairCoeffTable BuildPairs(const FastCoeffTable& fast) {
    PairCoeffTable t{};
    for (unsigned v = 0; v < (1u << kPairBits); ++v) {
        const FastCoeff& a = fast.e[v];
        PairCoeff e{{0, 0}, {0, 0}, {0, 0}, 0, kPairSingle};
        if (a.run == kFastEob) {
            e.kind = kPairEnd;
        } else if (a.run < 64) {
            e = {{int8_t(a.level), 0},
                 {uint8_t(a.level < 0 ? 3 : 0), 0},
                 {uint8_t(a.run + 1), uint8_t(a.run + 1)},
                 a.length,
                 kPairTwo};
            // The bits behind the first code; only a code that lies wholly
            // inside the known bits can be taken with it.
            const int known = kPairBits - a.length;
            const FastCoeff& b = fast.e[(v << a.length) & ((1u << kPairBits) - 1)];
            if (b.run < 64 && b.length <= known) {
                e.level[1] = int8_t(b.level);
                e.bias[1] = uint8_t(b.level < 0 ? 3 : 0);
                e.advance[1] = uint8_t(a.run + 1 + b.run + 1);
                e.length = uint8_t(a.length + b.length);
            } else if (b.run == kFastEob && b.length <= known) {
                e.length = uint8_t(a.length + b.length);
                e.kind = kPairTwoEob;
            }
        }
        t.e[v] = e;
    }
    return t;
}

} // namespace

constinit const FastCoeffTable kFastCoeffs = BuildFast(kCoeffCodes);

// Built from its own copy of the fast table: a constinit object is no
// constant expression, so its value cannot be read by another initializer.
constinit const PairCoeffTable kPairCoeffs = BuildPairs(BuildFast(kCoeffCodes));

constinit const CoeffEntryTable kCoeffEntries = BuildEntries(kCoeffCodes);

} // namespace tv
