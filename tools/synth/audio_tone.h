#pragma once

#include <cstdint>
#include <vector>

namespace tv::synth {

// Audio format codes 1..6: "QZ_UPCM8", "QZ_SPCM8", "QZ_UPCM16", "QZ_SPCM16",
// "QZ_ALAW", "QZ_MLAW".
const char* AudioFormatName(int code);
int AudioFormatFromName(const char* name); // -1 if unknown
// Stored bytes per sample of a format code, 0 if unknown.
int AudioBytesPerSample(int code);

// G.711 encoders of a 16-bit linear sample.
uint8_t LinearToAlaw(int16_t pcm);
uint8_t LinearToUlaw(int16_t pcm);

// Appends count samples of a sine tone (amplitude about a third of full
// scale), starting at sample index first, in the stored form of the format.
// Returns 0 for an unknown format.
int AppendTone(int format, double frequencyHz, int sampleRate, uint64_t first, int count,
               std::vector<uint8_t>& out);

} // namespace tv::synth
