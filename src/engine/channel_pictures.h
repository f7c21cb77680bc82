#pragma once

#include "video/video_decoder.h"

#include <cstdint>
#include <memory>

namespace tv {

// One decoding buffer per picture stream. An update picture codes only the
// macroblocks that changed and leaves the rest as its buffer holds it, so a
// buffer shared by all channels would show one channel's picture through
// another's wherever the update codes nothing. A stream is a channel, or for
// dual pictures the pair named by its left channel. A buffer is made on its
// stream's first picture and kept for the owner's life, so switching
// between files and sessions allocates nothing new.
class CChannelPictures {
public:
    static constexpr int kStreams = 32; // 16 channels, then 16 dual pairs

    // The stream of the picture the decoder has just parsed.
    static int StreamOf(const CVideoDecoder& decoder);

    // The buffer to decode that picture into (kEnginePictureSize bytes),
    // black on a stream's first picture since the last Reset; null only when
    // memory is short.
    uint8_t* For(const CVideoDecoder& decoder);
    // A new source begins: no picture of the last one may show through.
    void Reset();

private:
    std::unique_ptr<uint8_t[]> m_buffers[kStreams];
    bool m_blank[kStreams] = {};
};

} // namespace tv
