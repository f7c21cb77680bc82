#pragma once

namespace tv {

// Audio format codes, the configuration's audio format: what the recorder
// stores, for the converter, the AVI writer and the test-tone generator.
enum AudioFormat : int {
    kAudioUpcm8 = 1,  // "QZ_UPCM8": unsigned 8-bit, played as is
    kAudioSpcm8 = 2,  // "QZ_SPCM8": signed 8-bit, played as unsigned 8-bit
    kAudioUpcm16 = 3, // "QZ_UPCM16": 16-bit, played as is
    kAudioSpcm16 = 4, // "QZ_SPCM16": signed 16-bit little-endian, played as is
    kAudioAlaw = 5,   // "QZ_ALAW": G.711 A-law, expanded to signed 16-bit little-endian
    kAudioMlaw = 6,   // "QZ_MLAW": G.711 mu-law, expanded to signed 16-bit little-endian
};

} // namespace tv
