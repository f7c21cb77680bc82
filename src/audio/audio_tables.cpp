#include <array>

#include "audio/audio_converter.h"

namespace tv {

namespace {

// G.711 A-law: even bits are inverted on the line; 3 segment bits, 4 mantissa bits.
constexpr int16_t AlawToLinear(uint8_t code) {
    const int a = code ^ 0x55;
    int t = (a & 0x0F) << 4;
    const int seg = (a & 0x70) >> 4;
    if (seg == 0) {
        t += 8;
    } else {
        t = (t + 0x108) << (seg - 1);
    }
    return static_cast<int16_t>((a & 0x80) ? t : -t);
}

// G.711 mu-law: all bits inverted on the line; biased by 0x84 before segmenting.
constexpr int16_t MulawToLinear(uint8_t code) {
    const int u = ~code & 0xFF;
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return static_cast<int16_t>((u & 0x80) ? (0x84 - t) : (t - 0x84));
}

template <int16_t (*F)(uint8_t)> constexpr std::array<int16_t, 256> MakeTable() {
    std::array<int16_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        t[i] = F(static_cast<uint8_t>(i));
    }
    return t;
}

constexpr std::array<int16_t, 256> kAlaw = MakeTable<AlawToLinear>();
constexpr std::array<int16_t, 256> kMulaw = MakeTable<MulawToLinear>();

static_assert(kAlaw[0x00] == -5504 && kAlaw[0x80] == 5504);
static_assert(kAlaw[0x55] == -8 && kAlaw[0xD5] == 8);
static_assert(kMulaw[0x00] == -32124 && kMulaw[0x80] == 32124);
static_assert(kMulaw[0x7F] == 0 && kMulaw[0xFF] == 0);

} // namespace

// Constant-initialised from the generators above: no start-up code, no order issues.
const std::array<int16_t, 256> kAlawToLinear = kAlaw;
const std::array<int16_t, 256> kMulawToLinear = kMulaw;

} // namespace tv
