#pragma once

#include <cstdint>

namespace tv {

// Builds the process-wide colour and clip tables. Idempotent and thread-safe;
// every conversion calls it, so explicit calls only move the cost earlier.
void InitColorTables();

// Planar YUV 4:2:0 (W x H luma, then W/2 x H/2 Cb, then W/2 x H/2 Cr, no row
// padding) to RGB. dstPitch is the number of bytes from one destination row to
// the next; the packed form is width x bytes per pixel. One chroma sample
// serves each 2 x 2 block, so an odd last column or row is not written.
// Components never come out as 0 (the clip table starts at 1), which keeps
// colour-keyed overlays from punching through black video.
void YuvToRgb555(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height);
void YuvToRgb565(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height);
void YuvToBgr565(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height);
// Bytes B, G, R per pixel, top-down.
void YuvToRgb24(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height);
// Bytes B, G, R, 0 per pixel, top-down.
void YuvToRgb32(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height);
// Bytes B, G, R, bottom-up: picture row y lands in destination row H - 1 - y.
void YuvToDib24(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height);
// As YuvToDib24 into a destination of 2H rows: picture row y lands in
// destination row 2(H - 1 - y); the odd destination rows are left untouched.
void YuvToDib24Doubled(uint8_t* dst, int dstPitch, const uint8_t* src, int width, int height);

// Surface images (top-down, srcPitch bytes per row) to bottom-up 24-bit B, G, R
// rows of dstPitch bytes. Bits a 16-bit pixel lacks come out as 0.
void Rgb555ToDib24(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width,
                   int height);
void Rgb565ToDib24(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width,
                   int height);
void Bgr565ToDib24(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width,
                   int height);
void Rgb24ToDib24(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width,
                  int height);
void Rgb32ToDib24(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int width,
                  int height);

// Conversion by pixel format code (PF_RGB555 ... PF_RGB32); 0 for an unknown code.
int YuvToPixelFormat(int format, uint8_t* dst, int dstPitch, const uint8_t* src, int width,
                     int height);
// Surface copy by pixel format code; 0 for an unknown code.
int SurfaceToDib24(int format, uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch,
                   int width, int height);

} // namespace tv
