#include "engine/channel_pictures.h"

#include "engine/playback_rules.h"

#include <cstring>
#include <new>

namespace tv {

PictureInfo PictureInfoOf(const CVideoDecoder& decoder, uint64_t offset, const SYSTEMTIME& time,
                          int frameGap) {
    PictureInfo info;
    info.offset = offset;
    info.time = time;
    info.frameGap = frameGap;
    info.channel = decoder.GetChannel();
    info.width = decoder.GetWidth();
    info.height = decoder.GetHeight();
    info.dual.dual = decoder.IsDualPicture();
    info.dual.leftChannel = decoder.GetLeftChannel();
    info.dual.rightChannel = decoder.GetRightChannel();
    info.dual.leftAbsent = decoder.IsLeftAbsent();
    info.dual.rightAbsent = decoder.IsRightAbsent();
    return info;
}

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
    Invalidate();
}

void CChannelPictures::Invalidate() {
    for (bool& t : m_true) {
        t = false;
    }
}

void CReverseCache::Clear() {
    for (int s = 0; s < CChannelPictures::kStreams; ++s) {
        ClearStream(s);
    }
}

void CReverseCache::SetKeyless(int stream, uint64_t from, uint64_t to) {
    m_keyless[stream & 31] = true;
    m_keylessFrom[stream & 31] = from;
    m_keylessTo[stream & 31] = to;
}

bool CReverseCache::IsKeyless(int stream, uint64_t offset) const {
    return m_keyless[stream & 31] && offset >= m_keylessFrom[stream & 31] &&
           offset <= m_keylessTo[stream & 31];
}

void CReverseCache::ClearStream(int stream) {
    m_keyless[stream & 31] = false;
    if (m_streams[stream & 31]) {
        for (Slot& slot : m_streams[stream & 31]->entries) {
            slot.used = false;
        }
    }
}

const uint8_t* CReverseCache::Find(int stream, uint64_t offset, PictureInfo* info) const {
    const Stream* s = m_streams[stream & 31].get();
    if (s == nullptr) {
        return nullptr;
    }
    for (const Slot& slot : s->entries) {
        if (slot.used && slot.info.offset == offset) {
            if (info != nullptr) {
                *info = slot.info;
            }
            return slot.picture.get();
        }
    }
    return nullptr;
}

int CReverseCache::Put(int stream, const PictureInfo& info, const uint8_t* picture, size_t bytes) {
    std::unique_ptr<Stream>& s = m_streams[stream & 31];
    if (!s) {
        s.reset(new (std::nothrow) Stream);
        if (!s) {
            return 0;
        }
    }
    Slot& slot = s->entries[s->next];
    if (!slot.picture) {
        slot.picture.reset(new (std::nothrow) uint8_t[kEnginePictureSize]);
        if (!slot.picture) {
            return 0;
        }
    }
    std::memcpy(slot.picture.get(), picture,
                bytes < kEnginePictureSize ? bytes : kEnginePictureSize);
    slot.info = info;
    slot.used = true;
    s->next = (s->next + 1) % kSlots;
    return 1;
}

size_t CReverseCache::GetBytesAllocated() const {
    size_t total = 0;
    for (const auto& s : m_streams) {
        if (!s) {
            continue;
        }
        for (const Slot& slot : s->entries) {
            total += slot.picture ? kEnginePictureSize : 0;
        }
    }
    return total;
}

} // namespace tv
