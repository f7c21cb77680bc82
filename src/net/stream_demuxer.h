#pragma once

// Splits the recorder's live byte stream into video frame packets, audio frame
// packets and control messages. Works byte by byte with a 32-bit start-code
// register; its state carries over from one receive to the next.

#include "platform/win_types.h"
#include "worker/frame_queue.h"

#include <cstddef>
#include <cstdint>

namespace tv {

class IDemuxSink {
public:
    virtual ~IDemuxSink() = default;
    virtual void OnVideoPacket(const FrameRecord& packet) = 0;
    virtual void OnAudioPacket(const FrameRecord& packet) = 0;
    // A whole control message, start code included.
    virtual void OnControlMessage(const uint8_t* message, uint32_t length) = 0;
};

class CStreamDemuxer {
public:
    static constexpr uint32_t kVideoCapacity = 131072;
    static constexpr uint32_t kAudioCapacity = 4096;
    static constexpr uint32_t kControlCapacity = 1024;

    enum State { kScanning = 0, kVideo = 1, kAudio = 2, kControl = 3 };

    explicit CStreamDemuxer(IDemuxSink* sink);
    CStreamDemuxer(const CStreamDemuxer&) = delete;
    CStreamDemuxer& operator=(const CStreamDemuxer&) = delete;

    // False when the assemblies could not be allocated.
    bool IsAllocated() const { return m_video.data != nullptr && m_audio.data != nullptr; }
    // Back to scanning with empty assemblies: a new connection starts afresh.
    void Reset();
    void Feed(const uint8_t* p, size_t n);
    // The same, one byte at a time through the start-code register: the
    // reference that Feed's bulk copy of picture bytes must agree with.
    void FeedBytewise(const uint8_t* p, size_t n);

    int GetState() const { return m_state; }
    uint32_t GetRegister() const { return m_register; }

private:
    void Step(uint8_t b);
    // The index of the byte that ends the next start code of F0..FF at or
    // after from (>= 3), or n.
    static size_t FindStartCodeEnd(const uint8_t* p, size_t from, size_t n);
    void OnStartCode(uint8_t code);
    void CompleteAudio();
    void CompleteVideo();
    void DropVideoStartCode();
    void FeedControl(uint8_t b);

    IDemuxSink* m_sink;
    FrameRecord m_video;
    // Bytes that reached the video assembly's state since its start code,
    // stored or not: tells which of the last four bytes are really in it.
    uint64_t m_videoArrived = 0;
    FrameRecord m_audio;
    uint64_t m_audioArrived = 0;
    uint8_t m_control[kControlCapacity];
    uint32_t m_controlLength = 4;
    uint32_t m_controlExpected = 0;
    int m_state = kScanning;
    int m_returnState = kScanning;
    uint32_t m_register = 0xFFFFFFFFu;
};

// The time stamp every live picture carries: the stream has none of its own.
SYSTEMTIME LiveFrameTime();

} // namespace tv
