// Arbitrary packets through the header parse and the decoder. The first byte
// picks the video format code and the transform variant; the rest is the packet.

#include "video/color_convert.h"
#include "video/video_decoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tv::CVideoDecoder decoder;
    static std::vector<uint8_t> picture(tv::CVideoDecoder::kMaxPictureBytes);
    static std::vector<uint8_t> rgb(size_t(640) * 272 * 4);
    if (size < 1)
        return 0;
    const int mode = data[0] % tv::VF_COUNT;
    decoder.SetMode(mode);
    decoder.ForceVariant((data[0] >> 3) % tv::kVariantCount);
    // A copy of exactly the packet's size, so any read past it is caught.
    std::vector<uint8_t> packet(data + 1, data + size);
    const int length = int(packet.size());
    const int accepted = decoder.ParseHeader(packet.data(), length);
    // Decoding a refused packet is outside the calling order but must be safe too.
    if (accepted || (data[0] & 0x80)) {
        if (decoder.Decode(packet.data(), length, picture.data(), picture.size()) &&
            decoder.GetWidth() <= 640 && decoder.GetHeight() <= 272)
            tv::YuvToRgb32(rgb.data(), decoder.GetWidth() * 4, picture.data(), decoder.GetWidth(),
                           decoder.GetHeight());
    }
    return 0;
}
