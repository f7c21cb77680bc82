#pragma once

// Hand-built video packets for the decoder tests.

#include "synth/bit_writer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tv::testing {

// Start code 00 00 01 F8/F9 and byte 4 (codes 1, 3, 4, 6 layout).
inline std::vector<uint8_t> PacketHeader(bool key, int channel, int scale) {
    return {0x00, 0x00, 0x01, uint8_t(key ? 0xF9 : 0xF8), uint8_t((scale << 4) | channel)};
}

// Appends a slice: 00 00 01, the 5-bit row, then the given bits (text of 0
// and 1), padded with 1 bits to a byte.
inline void AppendSlice(std::vector<uint8_t>& p, int row, const std::string& bits) {
    p.insert(p.end(), {0x00, 0x00, 0x01});
    synth::CBitWriter bw(p);
    bw.Put(uint32_t(row), 5);
    bw.PutText(bits.c_str());
    bw.AlignWithOnes();
}

inline std::string Repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i)
        r += s;
    return r;
}

} // namespace tv::testing
