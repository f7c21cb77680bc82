#include "net/stream_demuxer.h"

#include "net/net_message.h"
#include "platform/win_types.h"

#include <algorithm>
#include <cstring>

namespace tv {

namespace {

// How many of the last four bytes that arrived were also stored, when `stored`
// counts the bytes kept out of `arrived` (the first ones, up to a cap).
uint32_t StoredTail(uint64_t arrived, uint32_t stored) {
    const uint64_t tailStart = arrived > 4 ? arrived - 4 : 0;
    return stored > tailStart ? static_cast<uint32_t>(stored - tailStart) : 0;
}

void PutSystemTime(uint8_t* out, const SYSTEMTIME& t) {
    const uint16_t fields[8] = {t.wYear, t.wMonth,  t.wDayOfWeek, t.wDay,
                                t.wHour, t.wMinute, t.wSecond,    t.wMilliseconds};
    for (int i = 0; i < 8; ++i) {
        PutLe16(out + 2 * i, fields[i]);
    }
}

} // namespace

SYSTEMTIME LiveFrameTime() {
    SYSTEMTIME t;
    t.wYear = 2008;
    t.wMonth = 1;
    t.wDayOfWeek = 2; // a Tuesday
    t.wDay = 1;
    t.wHour = 10;
    return t;
}

CStreamDemuxer::CStreamDemuxer(IDemuxSink* sink)
    : m_sink(sink), m_video(kVideoCapacity), m_audio(kAudioCapacity) {
    std::memset(m_control, 0, sizeof m_control);
    if (m_video.data) {
        PutSystemTime(m_video.metadata, LiveFrameTime());
    }
    Reset();
}

void CStreamDemuxer::Reset() {
    if (m_video.data) {
        m_video.data[0] = 0x00;
        m_video.data[1] = 0x00;
        m_video.data[2] = 0x01;
        m_video.data[3] = 0xF8;
        m_video.length = 4;
    }
    m_videoArrived = 0;
    m_audio.length = 0;
    m_audioArrived = 0;
    m_control[0] = 0x00;
    m_control[1] = 0x00;
    m_control[2] = 0x01;
    m_control[3] = kControlStartByte;
    m_controlLength = 4;
    m_controlExpected = 0;
    m_state = kScanning;
    m_returnState = kScanning;
    m_register = 0xFFFFFFFFu;
}

void CStreamDemuxer::FeedControl(uint8_t b) {
    if (m_controlLength < kControlCapacity) {
        m_control[m_controlLength++] = b;
    }
    if (m_controlLength == 8) {
        m_controlExpected = GetHex16(m_control + 4);
        // A length the assembly cannot hold, or shorter than the header, is no
        // message: drop it and go back to the stream.
        if (m_controlExpected < kControlHeaderSize || m_controlExpected > kControlCapacity) {
            m_state = m_returnState;
            m_controlLength = 4;
        }
    } else if (m_controlLength > 8 && m_controlLength == m_controlExpected) {
        m_state = m_returnState;
        const uint32_t length = m_controlLength;
        m_controlLength = 4;
        m_sink->OnControlMessage(m_control, length);
    }
}

inline void CStreamDemuxer::Step(uint8_t b) {
    switch (m_state) {
    case kVideo:
        if (m_video.length < kVideoCapacity) {
            m_video.data[m_video.length++] = b;
        }
        ++m_videoArrived;
        break;
    case kAudio:
        // The two bytes after the audio start code are not samples.
        if (m_audioArrived >= 2 && m_audio.length < kAudioCapacity) {
            m_audio.data[m_audio.length++] = b;
        }
        ++m_audioArrived;
        break;
    case kControl:
        FeedControl(b);
        break;
    default:
        break;
    }
    m_register = (m_register << 8) | b;
    if (b >= 0xF0 && (m_register & 0xFFFFFF00u) == 0x00000100u) {
        OnStartCode(b);
    }
}

void CStreamDemuxer::FeedBytewise(const uint8_t* p, size_t n) {
    if (!IsAllocated()) {
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        Step(p[i]);
    }
}

size_t CStreamDemuxer::FindStartCodeEnd(const uint8_t* p, size_t from, size_t n) {
    // A start code ending at j has its 01 at j - 1; from >= 3, so its two zero
    // bytes lie inside this receive.
    size_t at = from - 1;
    while (at + 1 < n) {
        const void* q = std::memchr(p + at, 0x01, n - 1 - at);
        if (!q) {
            break;
        }
        const size_t one = static_cast<size_t>(static_cast<const uint8_t*>(q) - p);
        if (p[one + 1] >= 0xF0 && p[one - 1] == 0 && p[one - 2] == 0) {
            return one + 1;
        }
        at = one + 1;
    }
    return n;
}

void CStreamDemuxer::Feed(const uint8_t* p, size_t n) {
    if (!IsAllocated()) {
        return;
    }
    // The first bytes may finish a start code begun in the last receive.
    size_t i = 0;
    for (; i < n && i < 3; ++i) {
        Step(p[i]);
    }
    while (i < n) {
        if (m_state != kVideo && m_state != kScanning) {
            Step(p[i++]);
            continue;
        }
        // Picture bytes run up to the next start code: take them in one copy.
        const size_t end = FindStartCodeEnd(p, i, n);
        const size_t run = end - i;
        if (m_state == kVideo) {
            const size_t room = kVideoCapacity - m_video.length;
            const size_t take = run < room ? run : room;
            std::memcpy(m_video.data + m_video.length, p + i, take);
            m_video.length += static_cast<uint32_t>(take);
            m_videoArrived += run;
        }
        if (run >= 4) {
            m_register = GetBe32(p + end - 4);
        } else {
            for (size_t k = i; k < end; ++k) {
                m_register = (m_register << 8) | p[k];
            }
        }
        i = end;
        if (i < n) {
            Step(p[i++]);
        }
    }
}

void CStreamDemuxer::CompleteAudio() {
    const uint32_t stored = m_audio.length;
    const uint64_t arrivedSamples = m_audioArrived > 2 ? m_audioArrived - 2 : 0;
    m_audio.length -= StoredTail(arrivedSamples, stored);
    // An assembly that held nothing but start-code bytes is no packet.
    if (m_audio.length > 0) {
        m_sink->OnAudioPacket(m_audio);
    }
    m_audio.length = 0;
    m_audioArrived = 0;
}

void CStreamDemuxer::DropVideoStartCode() {
    m_video.length -= StoredTail(m_videoArrived, m_video.length - 4);
    m_videoArrived = m_videoArrived > 4 ? m_videoArrived - 4 : 0;
}

void CStreamDemuxer::CompleteVideo() {
    if (m_video.length > 4) {
        m_sink->OnVideoPacket(m_video);
    }
    m_video.length = 4;
    m_videoArrived = 0;
}

void CStreamDemuxer::OnStartCode(uint8_t code) {
    if (m_audioArrived > 0) {
        CompleteAudio();
    }
    m_register = code;
    const bool leavesPicture =
        code == 0xF8 || code == 0xF9 || code == 0xFA || code == kControlStartByte;
    // The start code that ends a picture is not part of it. A status message's
    // start code matters most: kept, it would read as one slice too many and
    // cost the picture.
    if (m_state == kVideo && leavesPicture) {
        DropVideoStartCode();
    }
    switch (code) {
    case 0xF8:
    case 0xF9:
        CompleteVideo();
        m_video.data[3] = code;
        m_state = kVideo;
        break;
    case 0xFA:
        m_state = kAudio;
        break;
    case kControlStartByte:
        if (m_state != kControl) {
            m_returnState = m_state;
        }
        m_state = kControl;
        m_controlLength = 4;
        m_controlExpected = 0;
        break;
    default:
        break;
    }
}

} // namespace tv
