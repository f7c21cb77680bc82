#pragma once

// Audio sample formats of the recorder's audio packets and their conversion to
// the PCM that the wave output plays.
//
//   CAudioConverter conv;
//   WAVEFORMATEX wfx;
//   conv.Configure(kAudioAlaw, 8000, &wfx);   // 16-bit mono PCM, 16000 bytes/s
//   int len = 0;
//   conv.Convert(samples, n, dst, &len);      // dst holds 2n bytes; len = 2n
//
// Conversion never allocates; the caller's destination must hold 2n bytes.

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/audio_format.h"
#include "platform/win_types.h"

namespace tv {

// The code of a configured format name ("QZ_ALAW" -> 5), by exact comparison;
// 0 for a name outside the table.
int AudioFormatFromName(std::string_view name);
// The name of a code, or nullptr outside 1..6.
const char* AudioFormatName(int code);

// G.711 expansions in the common 16-bit scaling (A-law 0xD5 -> 8, 0x00 -> -5504;
// mu-law 0x00 -> -32124, 0xFF -> 0). Indexed by the coded byte.
extern const std::array<int16_t, 256> kAlawToLinear;
extern const std::array<int16_t, 256> kMulawToLinear;

class CAudioConverter {
public:
    CAudioConverter() = default;
    virtual ~CAudioConverter() = default;

    // Stores the format code and rate. With a null out pointer the result is 0;
    // otherwise fills a mono PCM format (16 bits for codes 3..6, else 8) and returns 1.
    int Configure(int formatCode, int sampleRate, WAVEFORMATEX* out);

    // Converts n stored bytes into dst as the format code says; *outLength := n,
    // or 2n for A-law and mu-law. dst must hold 2n bytes. A code outside 1..6
    // converts nothing and leaves *outLength alone. Result 1; 0 only for unusable
    // arguments (negative n, or a null pointer with bytes to convert).
    int Convert(const uint8_t* samples, int n, uint8_t* dst, int* outLength) const;

    int GetFormat() const { return m_nFormat; }
    int GetSampleRate() const { return m_nSampleRate; }

    // Bits per output sample for a format code: 16 for codes 3..6, else 8.
    static int OutputBits(int formatCode);

private:
    int m_nFormat = kAudioUpcm8;
    int m_nSampleRate = 8000;
};

} // namespace tv
