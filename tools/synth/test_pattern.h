#pragma once

#include <cstdint>

namespace tv::synth {

// A picture a person recognises at a glance and a test can reason about:
// colour bars and a grey ramp that stay put, a square and a disc that move
// with frameIndex, a strip of one-pixel detail just above black and just below
// white, and the channel number and clock text burned in. Planar YUV 4:2:0,
// width x height (both multiples of 16; 640 x 224 or 272 for the recorder).
// clockText may be nullptr.
void DrawTestPattern(uint8_t* yuv, int width, int height, int channel, int frameIndex,
                     const char* clockText);

// Draws text with the built-in 5 x 7 font into the luma plane at (x, y), each
// font pixel scale x scale, in luma value fg over a box of luma bg.
// Characters: digits, upper-case letters, space and : - / . (others are blank).
void DrawText(uint8_t* yuv, int width, int height, int x, int y, int scale, const char* text,
              uint8_t fg, uint8_t bg);

// Glyph rows for one character (7 rows, 5 bits each, bit 4 the leftmost).
const uint8_t* FontGlyph(char c);

} // namespace tv::synth
