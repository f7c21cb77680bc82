#include "synth/audio_tone.h"

#include "platform/audio_format.h"

#include <cmath>
#include <numbers>
#include <string_view>

namespace tv::synth {

namespace {

const char* const kNames[6] = {"QZ_UPCM8",  "QZ_SPCM8", "QZ_UPCM16",
                               "QZ_SPCM16", "QZ_ALAW",  "QZ_MLAW"};

int Segment(int value, const int* ends) {
    for (int i = 0; i < 8; ++i) {
        if (value <= ends[i])
            return i;
    }
    return 8;
}

} // namespace

const char* AudioFormatName(int code) {
    return code >= 1 && code <= 6 ? kNames[code - 1] : nullptr;
}

int AudioFormatFromName(const char* name) {
    if (name == nullptr)
        return -1;
    for (int i = 0; i < 6; ++i) {
        if (std::string_view(name) == kNames[i])
            return i + 1;
    }
    return -1;
}

int AudioBytesPerSample(int code) {
    switch (code) {
    case kAudioUpcm8:
    case kAudioSpcm8:
    case kAudioAlaw:
    case kAudioMlaw:
        return 1;
    case kAudioUpcm16:
    case kAudioSpcm16:
        return 2;
    default:
        return 0;
    }
}

uint8_t LinearToAlaw(int16_t pcm) {
    static const int kEnds[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int v = pcm >> 3;
    int mask;
    if (v >= 0) {
        mask = 0xD5;
    } else {
        mask = 0x55;
        v = -v - 1;
    }
    const int seg = Segment(v, kEnds);
    if (seg >= 8)
        return uint8_t(0x7F ^ mask);
    int a = seg << 4;
    a |= seg < 2 ? (v >> 1) & 0xF : (v >> seg) & 0xF;
    return uint8_t(a ^ mask);
}

uint8_t LinearToUlaw(int16_t pcm) {
    static const int kEnds[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
    int v = pcm >> 2;
    int mask;
    if (v < 0) {
        v = -v;
        mask = 0x7F;
    } else {
        mask = 0xFF;
    }
    if (v > 8159)
        v = 8159;
    v += 0x84 >> 2;
    const int seg = Segment(v, kEnds);
    if (seg >= 8)
        return uint8_t(0x7F ^ mask);
    return uint8_t(((seg << 4) | ((v >> (seg + 1)) & 0xF)) ^ mask);
}

int AppendTone(int format, double frequencyHz, int sampleRate, uint64_t first, int count,
               std::vector<uint8_t>& out) {
    if (AudioBytesPerSample(format) == 0 || sampleRate <= 0 || count < 0)
        return 0;
    for (int i = 0; i < count; ++i) {
        const double t = double(first + uint64_t(i)) / sampleRate;
        const auto s =
            int16_t(std::lround(10000.0 * std::sin(2 * std::numbers::pi * frequencyHz * t)));
        switch (format) {
        case kAudioUpcm8:
            out.push_back(uint8_t(128 + (s >> 8)));
            break;
        case kAudioSpcm8:
            out.push_back(uint8_t(s >> 8));
            break;
        case kAudioUpcm16:
        case kAudioSpcm16:
            out.push_back(uint8_t(s & 0xFF));
            out.push_back(uint8_t(uint16_t(s) >> 8));
            break;
        case kAudioAlaw:
            out.push_back(LinearToAlaw(s));
            break;
        case kAudioMlaw:
            out.push_back(LinearToUlaw(s));
            break;
        }
    }
    return 1;
}

} // namespace tv::synth
