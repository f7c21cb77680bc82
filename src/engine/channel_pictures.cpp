#include "engine/channel_pictures.h"

#include "engine/playback_rules.h"

#include <cstring>
#include <new>

namespace tv {

int CChannelPictures::StreamOf(const CVideoDecoder& decoder) {
    if (decoder.IsDualPicture()) {
        return 16 + (decoder.GetLeftChannel() & 15);
    }
    return decoder.GetChannel() & 15;
}

uint8_t* CChannelPictures::For(const CVideoDecoder& decoder) {
    const int stream = StreamOf(decoder);
    std::unique_ptr<uint8_t[]>& buffer = m_buffers[stream];
    if (!buffer) {
        buffer.reset(new (std::nothrow) uint8_t[kEnginePictureSize]);
        if (!buffer) {
            return nullptr;
        }
        m_blank[stream] = true;
    }
    if (m_blank[stream]) {
        // Black at the size of this first picture: what an update picture
        // that comes before any key picture of its stream leaves uncoded.
        const size_t luma = size_t(decoder.GetWidth()) * size_t(decoder.GetHeight());
        const size_t lumaBytes = luma <= kEnginePictureSize ? luma : kEnginePictureSize;
        std::memset(buffer.get(), 0, lumaBytes);
        std::memset(buffer.get() + lumaBytes, 128, kEnginePictureSize - lumaBytes);
        m_blank[stream] = false;
    }
    return buffer.get();
}

void CChannelPictures::Reset() {
    for (bool& blank : m_blank) {
        blank = true;
    }
}

} // namespace tv
