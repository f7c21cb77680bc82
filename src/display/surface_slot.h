#pragma once

// One drawing surface of the video window and the pixel operations on it: an
// image in the display's pixel format with what is known of it, colour fills,
// lost-surface handling and nearest-neighbour scaled copies.

#include <QImage>
#include <cstdint>

#include "display/dd_error.h"
#include "platform/win_types.h"

namespace tv {

struct SurfaceSlot {
    QImage image;
    int width = 0;
    int height = 0;
    int pitch = 0;
    int format = 0;
    uint32_t generation = 0; // the device generation the surface belongs to
    int64_t reserved = 0;    // bytes held against the device's memory budget
    bool live = false;

    // Releases the surface; every field returns to 0.
    void Clear();
    bool IsLost() const;
};

// The image format that holds pixels of a format code. 5-6-5 with red in the
// low bits has no image format of its own: it is kept as 5-6-5 bits and only
// swapped when shown.
QImage::Format QtFormatFor(int pixelFormat);

// A width x height surface of the given format code, filled with 0x0A0A0A.
DDRESULT CreateSurface(SurfaceSlot& slot, int width, int height, int pixelFormat);
// Fills the whole surface, or one rectangle of it, with a raw pixel value: the
// colour's 24-bit value is written unchanged, whatever the surface's format.
void ColorFill(SurfaceSlot& slot, const RECT* rect, uint32_t value);
// 1 when the surface was lost; it is then restored and filled with 0x0A0A0A.
int RestoreIfLost(SurfaceSlot& slot);
// The surface memory, or DDERR_SURFACELOST for a lost surface.
DDRESULT LockSurface(SurfaceSlot& slot, uint8_t** bits);

// Nearest-neighbour scaled copy of a srcWidth x srcHeight image into dstRect of
// a dstWidth x dstHeight image of the same pixel size (2, 3 or 4 bytes); the
// parts of dstRect outside the destination are skipped.
void StretchCopy(uint8_t* dst, int dstPitch, int dstWidth, int dstHeight, const RECT& dstRect,
                 const uint8_t* src, int srcPitch, int srcWidth, int srcHeight, int bytesPerPixel);
// The same from a bottom-up 24-bit device-independent picture (rows of
// 3 x srcWidth bytes) into 32-bit (B, G, R, 0xFF) or 24-bit (B, G, R) pixels.
void StretchDib24(uint8_t* dst, int dstPitch, int dstWidth, int dstHeight, int dstBytes,
                  const RECT& dstRect, const uint8_t* dib, int srcWidth, int srcHeight);

// A 32-bit copy of a surface image as the screen shows it; ConvertToScreen
// reuses out when it already has the size.
QImage ToScreenImage(const QImage& image, int pixelFormat);
void ConvertToScreen(const QImage& image, int pixelFormat, QImage& out);
// The colour a painter must use on a surface of the format to end up with c.
uint32_t SurfaceColour(uint32_t rgb, int pixelFormat);

} // namespace tv
