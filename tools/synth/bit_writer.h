#pragma once

#include <cstdint>
#include <vector>

namespace tv::synth {

// Most-significant-bit-first writer.
class CBitWriter {
public:
    explicit CBitWriter(std::vector<uint8_t>& out) : m_out(out) {}
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            m_acc = uint8_t((m_acc << 1) | ((value >> i) & 1));
            if (++m_count == 8) {
                m_out.push_back(m_acc);
                m_acc = 0;
                m_count = 0;
            }
        }
    }
    // Bits written as text, e.g. "0100 0 10"; characters other than 0 and 1 are ignored.
    void PutText(const char* text) {
        for (; *text; ++text) {
            if (*text == '0' || *text == '1')
                Put(uint32_t(*text - '0'), 1);
        }
    }
    // Pads with 1 bits: a zero pad could join the next start code's zeros.
    void AlignWithOnes() {
        while (m_count != 0)
            Put(1, 1);
    }
    int PendingBits() const { return m_count; }

private:
    std::vector<uint8_t>& m_out;
    uint8_t m_acc = 0;
    int m_count = 0;
};

} // namespace tv::synth
