#pragma once

#include "engine/playback_rules.h"
#include "platform/win_types.h"
#include "video/video_decoder.h"

#include <cstdint>
#include <memory>

namespace tv {

// Where a decoded picture came from: its packet and what the window needs to
// show it.
struct PictureInfo {
    uint64_t offset = 0; // first byte of the packet's start code in the source
    SYSTEMTIME time{};   // the block time of the packet's own block
    int frameGap = 0;
    int channel = 0;
    int width = 0;
    int height = 0;
    DualInfo dual;
};

// The picture description of the packet the decoder has just parsed.
PictureInfo PictureInfoOf(const CVideoDecoder& decoder, uint64_t offset, const SYSTEMTIME& time,
                          int frameGap);

// One decoding buffer per picture stream. An update picture codes only the
// macroblocks that changed and leaves the rest as its buffer holds it, so a
// buffer shared by all channels would show one channel's picture through
// another's wherever the update codes nothing. A stream is a channel, or for
// dual pictures the pair named by its left channel. A buffer is made on its
// stream's first picture and kept for the owner's life, so switching
// between files and sessions allocates nothing new.
//
// A stream's buffer is true when it holds exactly what decoding forward from
// the stream's last key picture gives at the packet named by its info; an
// update picture may only be decoded on top of a true buffer.
class CChannelPictures {
public:
    static constexpr int kStreams = 32; // 16 channels, then 16 dual pairs

    // The stream of the picture the decoder has just parsed.
    static int StreamOf(const CVideoDecoder& decoder);

    // The buffer to decode that picture into (kEnginePictureSize bytes),
    // black on a stream's first picture since the last Reset; null only when
    // memory is short.
    uint8_t* For(const CVideoDecoder& decoder);
    uint8_t* Buffer(int stream) { return m_buffers[stream & 31].get(); }
    // A new source begins: no picture of the last one may show through.
    void Reset();
    // A jump: no buffer matches the new place until decoded up to it again.
    void Invalidate();

    bool IsTrue(int stream) const { return m_true[stream & 31]; }
    void SetTrue(int stream, bool isTrue) { m_true[stream & 31] = isTrue; }
    const PictureInfo& Info(int stream) const { return m_info[stream & 31]; }
    void SetInfo(int stream, const PictureInfo& info) { m_info[stream & 31] = info; }

private:
    std::unique_ptr<uint8_t[]> m_buffers[kStreams];
    bool m_blank[kStreams] = {};
    bool m_true[kStreams] = {};
    PictureInfo m_info[kStreams];
};

// Pictures decoded ahead for playing backward: per stream the last few
// pictures of a run decoded forward from a key picture, found again by their
// packet's offset. Slots are allocated on a stream's first use and kept.
class CReverseCache {
public:
    static constexpr int kSlots = 12; // per stream: about 3 MB at 640 x 272

    // Forgets every stream's pictures (a new source).
    void Clear();
    // The picture of stream's packet at offset, or null.
    const uint8_t* Find(int stream, uint64_t offset, PictureInfo* info) const;
    // Keeps a copy of picture (bytes long), dropping the stream's oldest
    // when full. 0 when memory is short.
    int Put(int stream, const PictureInfo& info, const uint8_t* picture, size_t bytes);
    void ClearStream(int stream);
    // A search found no key picture of stream in [from, to]: a picture there
    // cannot be made true, and searching again would only cost time.
    void SetKeyless(int stream, uint64_t from, uint64_t to);
    bool IsKeyless(int stream, uint64_t offset) const;
    // Bytes allocated for pictures, for monitoring.
    size_t GetBytesAllocated() const;

private:
    struct Slot {
        std::unique_ptr<uint8_t[]> picture;
        PictureInfo info;
        bool used = false;
    };
    struct Stream {
        Slot entries[kSlots];
        int next = 0;
    };
    std::unique_ptr<Stream> m_streams[CChannelPictures::kStreams];
    uint64_t m_keylessFrom[CChannelPictures::kStreams] = {};
    uint64_t m_keylessTo[CChannelPictures::kStreams] = {};
    bool m_keyless[CChannelPictures::kStreams] = {};
};

} // namespace tv
