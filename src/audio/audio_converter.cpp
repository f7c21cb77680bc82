#include "audio/audio_converter.h"

#include <cstring>

namespace tv {

namespace {

constexpr const char* kFormatNames[] = {"QZ_UPCM8",  "QZ_SPCM8", "QZ_UPCM16",
                                        "QZ_SPCM16", "QZ_ALAW",  "QZ_MLAW"};

void Expand(const std::array<int16_t, 256>& table, const uint8_t* src, int n, uint8_t* dst) {
    for (int i = 0; i < n; ++i) {
        PutLe16(dst + 2 * i, static_cast<uint16_t>(table[src[i]]));
    }
}

} // namespace

int AudioFormatFromName(std::string_view name) {
    for (int i = 0; i < 6; ++i) {
        if (name == kFormatNames[i]) {
            return i + 1;
        }
    }
    return 0;
}

const char* AudioFormatName(int code) {
    return (code >= 1 && code <= 6) ? kFormatNames[code - 1] : nullptr;
}

int CAudioConverter::OutputBits(int formatCode) {
    return (formatCode >= kAudioUpcm16 && formatCode <= kAudioMlaw) ? 16 : 8;
}

int CAudioConverter::Configure(int formatCode, int sampleRate, WAVEFORMATEX* out) {
    m_nFormat = formatCode;
    m_nSampleRate = sampleRate;
    if (out == nullptr) {
        return 0;
    }
    const int bits = OutputBits(formatCode);
    out->wFormatTag = WAVE_FORMAT_PCM;
    out->nChannels = 1;
    out->nSamplesPerSec = static_cast<uint32_t>(sampleRate);
    out->wBitsPerSample = static_cast<uint16_t>(bits);
    out->nBlockAlign = static_cast<uint16_t>(bits / 8);
    out->nAvgBytesPerSec = static_cast<uint32_t>(sampleRate) * static_cast<uint32_t>(bits / 8);
    out->cbSize = 0;
    return 1;
}

int CAudioConverter::Convert(const uint8_t* samples, int n, uint8_t* dst, int* outLength) const {
    if (n < 0 || outLength == nullptr || (n > 0 && (samples == nullptr || dst == nullptr))) {
        return 0;
    }
    switch (m_nFormat) {
    case kAudioUpcm8:
    case kAudioUpcm16:
    case kAudioSpcm16:
        if (n > 0) {
            std::memmove(dst, samples, static_cast<size_t>(n));
        }
        *outLength = n;
        break;
    case kAudioSpcm8:
        // Flipping the top bit is the modulo-256 subtraction of 128.
        for (int i = 0; i < n; ++i) {
            dst[i] = static_cast<uint8_t>(samples[i] ^ 0x80);
        }
        *outLength = n;
        break;
    case kAudioAlaw:
        Expand(kAlawToLinear, samples, n, dst);
        *outLength = 2 * n;
        break;
    case kAudioMlaw:
        Expand(kMulawToLinear, samples, n, dst);
        *outLength = 2 * n;
        break;
    default:
        break;
    }
    return 1;
}

} // namespace tv
