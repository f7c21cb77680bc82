#pragma once

#include <cstdint>

namespace tv {

// Scan position 0..63 to raster position (row * 8 + column).
extern const uint8_t kZigzag[64];
// Default intra quantiser matrix, raster order.
extern const uint8_t kIntraQuantMatrix[64];

// One variable-length code for an AC coefficient: the code's bits (without the
// trailing sign bit) right-aligned in `bits`, its length, and run/level.
struct CoeffCode {
    uint16_t bits;
    uint8_t length;
    uint8_t run;
    uint8_t level;
};
constexpr int kCoeffCodeCount = 111;
extern const CoeffCode kCoeffCodes[kCoeffCodeCount];

// End of block "10" and escape "000001".
constexpr uint16_t kEobBits = 0x2;
constexpr int kEobLength = 2;
constexpr uint16_t kEscapeBits = 0x1;
constexpr int kEscapeLength = 6;

// Fast decode of the next coefficient code from 16 peeked bits, by the
// position of their highest set bit (the caller has already refused 12 or more
// leading zeros).
enum CoeffKind : uint8_t { kCoeffRunLevel = 0, kCoeffEob = 1, kCoeffEscape = 2, kCoeffInvalid = 3 };
struct CoeffEntry {
    uint8_t length; // bits consumed, sign bit excluded
    uint8_t run;
    uint8_t level;
    uint8_t kind;
};
struct CoeffClass {
    int shift;
    int offset;
    int count;
    int base; // first entry of the class in kCoeffEntries
};
extern const CoeffClass kCoeffClasses[8];
// Highest set bit (4..15) minus 4 to class.
extern const uint8_t kCoeffClassOf[12];
struct CoeffEntryTable {
    CoeffEntry e[160];
};
extern const CoeffEntryTable kCoeffEntries;

// v is the next 16 bits, v >= 16.
inline const CoeffEntry& LookupCoeff(unsigned v) {
    const int top = 31 - __builtin_clz(v);
    const CoeffClass& cls = kCoeffClasses[kCoeffClassOf[top - 4]];
    return kCoeffEntries.e[cls.base + int(v >> cls.shift) - cls.offset];
}

// One-look-up decode of the codes that fit in the next 11 bits together with
// their sign bit (all but the 12 to 16-bit codes), indexed by those 11 bits.
// run < 64: a coefficient, `length` bits including the sign, signed level.
// kFastEob / kFastEscape: consume `length` bits. kFastLong: the code is
// longer; decode it with LookupCoeff.
constexpr int kFastBits = 11;
constexpr uint8_t kFastEob = 64;
constexpr uint8_t kFastEscape = 65;
constexpr uint8_t kFastLong = 66;
struct FastCoeff {
    int16_t level;
    uint8_t run;
    uint8_t length;
};
struct FastCoeffTable {
    FastCoeff e[1 << kFastBits];
};
extern const FastCoeffTable kFastCoeffs;

// Up to two short codes, and an end of block behind them, per look-up of the
// next kPairBits bits: most coefficients of a busy picture are short codes,
// and each look-up is a step of the serial chain through the bit window.
// A dequantised value is (level x quantiser + bias) >> 2 with an arithmetic
// shift; bias 3 on a negative level gives -((|level| x quantiser) >> 2).
// When only one code is taken, the second slot repeats the first one's scan
// position with level 0.
constexpr int kPairBits = kFastBits;
enum PairKind : uint8_t {
    kPairTwo = 0,    // one or two coefficients
    kPairTwoEob = 1, // the same, then end of block
    kPairEnd = 2,    // end of block first
    kPairSingle = 3, // escape, a long code or no code: decode it singly
};
struct PairCoeff {
    int8_t level[2];
    uint8_t bias[2];
    uint8_t advance[2]; // scan positions from the last coefficient to each code's
    uint8_t length;     // bits of the codes taken, sign bits included
    uint8_t kind;
};
struct PairCoeffTable {
    PairCoeff e[1 << kPairBits];
};
extern const PairCoeffTable kPairCoeffs;

} // namespace tv
