#pragma once

// Bitmap files of the still capture: a device-independent bitmap block (info
// header, colour table or masks, pixels) behind the 14-byte file header.

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tv {

// The block for an image: a 40-byte info header, no colour table, 24-bit
// B, G, R rows bottom-up, each padded to a multiple of four bytes.
std::vector<uint8_t> BuildDib24(const QImage& image);

// Where the pixels start in the file, from the info header at the start of the
// block; 0 when the block is too short to hold one.
uint32_t BitmapPixelDataOffset(const uint8_t* dib, size_t size);

// Writes the file header and the block; the file appears whole or not at all.
// 1 on success, 0 with errorText set otherwise.
int WriteBitmapFile(const std::string& path, const std::vector<uint8_t>& dib,
                    std::string* errorText);

} // namespace tv
