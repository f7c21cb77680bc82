#include "video/dual_picture.h"

#include "video/video_decoder.h"

#include <cstddef>
#include <cstring>

namespace tv {

PictureChannels PictureChannelsOf(const CVideoDecoder& decoder) {
    PictureChannels c;
    c.channel = decoder.GetChannel();
    c.dual = decoder.IsDualPicture();
    c.left = decoder.GetLeftChannel();
    c.right = decoder.GetRightChannel();
    c.leftAbsent = decoder.IsLeftAbsent();
    c.rightAbsent = decoder.IsRightAbsent();
    return c;
}

void SplitDualPicture(const uint8_t* src, int width, int height, uint8_t* left, uint8_t* right) {
    // Each half is exactly width/2 wide, so a picture of odd width can never
    // write past a half's row.
    const size_t w = size_t(width), hw = w / 2, h = size_t(height);
    const size_t cw = w / 2, hcw = hw / 2, ch = h / 2;
    uint8_t* halves[2] = {left, right};
    for (int side = 0; side < 2; ++side) {
        uint8_t* dst = halves[side];
        if (dst == nullptr) {
            continue;
        }
        for (size_t y = 0; y < h; ++y) {
            std::memcpy(dst + y * hw, src + y * w + (side ? hw : 0), hw);
        }
        const uint8_t* cs = src + w * h;
        uint8_t* cd = dst + hw * h;
        for (int plane = 0; plane < 2; ++plane) {
            for (size_t y = 0; y < ch; ++y) {
                std::memcpy(cd + y * hcw, cs + y * cw + (side ? hcw : 0), hcw);
            }
            cs += cw * ch;
            cd += hcw * ch;
        }
    }
}

} // namespace tv
