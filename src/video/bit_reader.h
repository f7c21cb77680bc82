#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tv {

// Most-significant-bit-first reader over one packet. It never touches a byte
// at or past the end it was given: bits beyond the end read as 0, which the
// decoder's rules turn into a refusal (12 leading zeros) rather than a read
// of whatever follows the packet in memory.
class CBitReader {
public:
    CBitReader() = default;
    CBitReader(const uint8_t* data, size_t size, size_t pos) { Start(data, size, pos); }

    void Start(const uint8_t* data, size_t size, size_t pos) {
        m_ptr = data + pos;
        m_end = data + size;
        m_window = 0;
        m_bits = 0;
    }

    // Makes at least 32 bits valid.
    void Refill() {
        if (m_bits >= 32)
            return;
        if (m_end - m_ptr >= 8) {
            uint64_t v;
            std::memcpy(&v, m_ptr, 8);
            v = __builtin_bswap64(v);
            // Bits below the valid ones always equal the stream's next bits,
            // so OR-ing the same bytes in again is harmless.
            m_window |= v >> m_bits;
            m_ptr += (63 - m_bits) >> 3;
            m_bits |= 56; // the whole bytes taken bring it to 56..63
        } else {
            // Past the end the window fills with zero bits.
            while (m_bits <= 56) {
                if (m_ptr < m_end)
                    m_window |= uint64_t(*m_ptr++) << (56 - m_bits);
                m_bits += 8;
            }
        }
    }

    // n from 1 to 32; the caller has made n bits valid with Refill.
    uint32_t PeekValid(int n) const { return uint32_t(m_window >> (64 - n)); }
    void SkipValid(int n) {
        m_window <<= n;
        m_bits -= n;
    }
    uint32_t ReadValid(int n) {
        const uint32_t v = PeekValid(n);
        SkipValid(n);
        return v;
    }

    uint32_t Peek(int n) {
        if (m_bits < n)
            Refill();
        return PeekValid(n);
    }
    uint32_t Read(int n) {
        if (m_bits < n)
            Refill();
        return ReadValid(n);
    }

    int ValidBits() const { return m_bits; }

private:
    const uint8_t* m_ptr = nullptr;
    const uint8_t* m_end = nullptr;
    uint64_t m_window = 0;
    int m_bits = 0;
};

} // namespace tv
