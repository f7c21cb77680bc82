// The local playback loop: reads a recording packet by packet and obeys the
// play commands, showing only true pictures and pacing them by the
// recording's frame gaps.

#include "engine/player_engine.h"

#include "platform/clock.h"
#include "video/dual_picture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace tv {

namespace {

// How long a pass waits for a command while nothing is read (paused, no
// file): short enough that the wave output is pumped well before its queued
// sound runs out.
constexpr uint32_t kIdleWaitMs = 5;
// Between two tries to hand sound to a full wave ring.
constexpr uint32_t kAudioRetryWaitMs = 2;
// A full ring whose play position has not moved for this long belongs to a
// device that is not playing (reopened and not started, or lost): its sound
// is dropped rather than waited for. A playing device moves every callback.
constexpr uint32_t kSoundStallMs = 500;
// The most lateness the pacing makes up; more than that is let go rather
// than shown as a burst of pictures.
constexpr int64_t kMaxLateUs = 200000;
// At the fast speeds an update is decoded only when its picture is due at
// least this far ahead; otherwise its stream waits for the next key picture.
constexpr int64_t kFastUpdateMarginUs = 2000;

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int StreamOfInfo(const PictureInfo& info) {
    return info.dual.dual ? 16 + (info.dual.leftChannel & 15) : info.channel & 15;
}

uint32_t ChannelsOf(const PictureInfo& info) {
    if (!info.dual.dual) {
        return 1u << (info.channel & 15);
    }
    uint32_t m = info.dual.leftAbsent ? 0 : 1u << (info.dual.leftChannel & 15);
    return m | (info.dual.rightAbsent ? 0 : 1u << (info.dual.rightChannel & 15));
}

} // namespace

DualInfo DualInfoOf(const CVideoDecoder& decoder) {
    DualInfo d;
    d.dual = decoder.IsDualPicture();
    d.leftChannel = decoder.GetLeftChannel();
    d.rightChannel = decoder.GetRightChannel();
    d.leftAbsent = decoder.IsLeftAbsent();
    d.rightAbsent = decoder.IsRightAbsent();
    return d;
}

struct CPlayerEngine::LocalBuffers {
    LocalBuffers()
        : packet(new uint8_t[kEnginePacketSize]), scan(new uint8_t[kEnginePacketSize]),
          left(new uint8_t[kEngineHalfPictureSize]), right(new uint8_t[kEngineHalfPictureSize]),
          audio(new uint8_t[kEngineLocalAudioSize]) {}
    std::unique_ptr<uint8_t[]> packet;
    std::unique_ptr<uint8_t[]> scan; // packets read while looking for key pictures
    std::unique_ptr<uint8_t[]> left;
    std::unique_ptr<uint8_t[]> right;
    std::unique_ptr<uint8_t[]> audio;
};

// Where the loop stands in the recording between passes.
struct CPlayerEngine::LocalPlace {
    // The direction the pictures on screen were reached in; turning round is
    // a jump.
    bool forward = true;
    // The stream buffers do not match the reader's place (a new source, a
    // jump, or updates passed over at a fast speed).
    bool needPrime = true;
    // Going backward: the next picture is the packet before this one, or,
    // when cursorRaw, the packet before the reader's own position.
    uint64_t cursor = 0;
    bool cursorRaw = true;
    bool lastForwardFailed = false;
    int failures = 0;
    // Pacing: when the next picture is due, in microseconds of the steady clock.
    int64_t due = 0;
    // The step in progress: streams and channels that have moved on by one
    // picture since the step command was taken.
    uint32_t steppedStreams = 0;
    uint32_t steppedChannels = 0;
};

bool CPlayerEngine::StopRequested() const {
    return m_running.load() == 0 || m_stopEvent.IsSet();
}

int CPlayerEngine::ReadForwardWrapped(uint8_t* dest) {
    const int n = m_file.ReadForward(dest);
    if (n > 0 && m_file.IsAudio()) {
        m_file.SetAudioSeen(1);
    } else if (n <= 0) {
        m_file.ClearIsAudio();
    }
    return n;
}

void CPlayerEngine::NoteCutEnd() {
    // A recorder disk simply ends where the device does.
    if (m_file.IsDiskMode() || m_file.GetPosition() + kQzfBlockSize <= m_file.GetSize()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_timeLock);
        if (m_cutEndNoted) {
            return;
        }
    }
    const uint64_t size = m_file.GetSize();
    const uint64_t tail = size % kQzfBlockSize;
    const uint64_t packet = m_file.GetCutPacketOffset();
    // In the words qzftool verify uses for the same finding.
    std::string text;
    char part[128];
    if (tail != 0) {
        std::snprintf(
            part, sizeof part, "cut tail at offset %llu: %llu bytes after the last whole block",
            static_cast<unsigned long long>(size - tail), static_cast<unsigned long long>(tail));
        text = part;
    }
    if (packet != CStreamFile::kNoCutPacket) {
        std::snprintf(part, sizeof part, "%sthe packet at offset %llu is cut off",
                      text.empty() ? "" : "; ", static_cast<unsigned long long>(packet));
        text += part;
    }
    if (text.empty()) {
        return;
    }
    // Short enough for the status line: where the cut is.
    if (tail != 0) {
        std::snprintf(part, sizeof part, "Cut tail at offset %llu (%llu bytes)",
                      static_cast<unsigned long long>(size - tail),
                      static_cast<unsigned long long>(tail));
    } else {
        std::snprintf(part, sizeof part, "Cut mid-packet at offset %llu",
                      static_cast<unsigned long long>(packet));
    }
    std::lock_guard<std::mutex> lock(m_timeLock);
    m_cutEndNoted = true;
    m_cutEndText = text;
    m_cutEndBrief = part;
    m_cutEndCount.fetch_add(1);
}

void CPlayerEngine::NoteReaderState() {
    m_position.store(m_file.GetPosition());
    m_streamSize.store(m_file.GetSize());
    m_channelMask.store(static_cast<uint32_t>(m_file.GetChannelMask()));
    m_frameGap.store(m_file.GetFrameGap());
}

int CPlayerEngine::WriteSound(const uint8_t* samples, int length, uint8_t* buffer,
                              bool wakeOnCommand, const std::function<bool()>& giveUp) {
    // Chunks small enough that a converted one always fits the wave ring,
    // even after A-law or mu-law doubled it.
    int written = 0;
    for (int offset = 0; offset < length; offset += kAudioChunk) {
        const int n = length - offset < kAudioChunk ? length - offset : kAudioChunk;
        int converted = 0;
        m_audioConverter.Convert(samples + offset, n, buffer, &converted);
        // A full ring takes the sound once the device has played some of it.
        uint32_t position = 0;
        m_waveOut.GetPosition(&position);
        uint32_t since = GetTickCount();
        while (true) {
            const int took = WaveWrite(buffer, converted);
            if (took < 0) {
                return written;
            }
            if (took > 0) {
                m_soundStalled = false;
                written = 1;
                break;
            }
            if (giveUp()) {
                return written;
            }
            uint32_t now = 0;
            m_waveOut.GetPosition(&now);
            if (now != position) {
                position = now;
                since = GetTickCount();
                m_soundStalled = false;
            } else if ((m_soundStalled && now == m_stallPosition) ||
                       GetTickCount() - since >= kSoundStallMs) {
                m_soundStalled = true;
                m_stallPosition = now;
                return written;
            }
            WavePump();
            if (wakeOnCommand) {
                WaitAny({&m_stopEvent, &m_commandEvent}, kAudioRetryWaitMs);
            } else {
                m_stopEvent.Wait(kAudioRetryWaitMs);
            }
        }
    }
    return written;
}

int CPlayerEngine::PlayLocalAudio(const uint8_t* samples, int length, LocalBuffers& b) {
    // The user changing speed or state, or a stop, ends the wait for room.
    return WriteSound(samples, length, b.audio.get(), true, [this] {
        return m_speed.load() != 1.0 || m_playState.load() != kStatePlay ||
               m_commandEvent.IsSet() || StopRequested();
    });
}

bool CPlayerEngine::DecodeTrue(const uint8_t* packet, int length, const PictureInfo& info) {
    const int stream = StreamOfInfo(info);
    if (!m_decoder.IsKeyPicture() && !m_pictures.IsTrue(stream)) {
        return false; // drawn over a picture of another time it would be false
    }
    uint8_t* picture = m_pictures.For(m_decoder);
    if (picture == nullptr || m_decoder.Decode(packet, length, picture, kEnginePictureSize) == 0) {
        m_refusedPictures.fetch_add(1);
        m_pictures.SetTrue(stream, false);
        return false;
    }
    m_pictures.SetTrue(stream, true);
    m_pictures.SetInfo(stream, info);
    return true;
}

void CPlayerEngine::ShowStreamPicture(const PictureInfo& info, const uint8_t* picture,
                                      LocalBuffers& b) {
    m_shownOffset[StreamOfInfo(info)] = info.offset;
    m_framePeriod.store(FramePeriodUs(info.height, m_decoder.GetMode()));
    {
        std::lock_guard<std::mutex> lock(m_timeLock);
        m_frameTime = info.time;
        m_blockTime = info.time;
        m_blockTimeValid = true;
    }
    m_renderOffset = info.offset;
    if (!info.dual.dual) {
        RenderPicture(info.channel, info.time, picture, info.width, info.height);
        return;
    }
    SplitDualPicture(picture, info.width, info.height, b.left.get(), b.right.get());
    if (!info.dual.leftAbsent) {
        RenderPicture(info.dual.leftChannel, info.time, b.left.get(), info.width / 2, info.height);
    }
    if (!info.dual.rightAbsent) {
        RenderPicture(info.dual.rightChannel, info.time, b.right.get(), info.width / 2,
                      info.height);
    }
}

bool CPlayerEngine::StreamVisible(const PictureInfo& info) {
    int split = 1;
    int page = 0;
    m_output->GetSplit(&split, &page);
    const int n = std::max(split, 1);
    const int count = m_output->GetChannelCount();
    const uint32_t channels = ChannelsOf(info);
    for (int c = 0; c < 16; ++c) {
        if ((channels & (1u << c)) != 0 && c < count && c / n == page) {
            return true;
        }
    }
    return false;
}

void CPlayerEngine::PrimeBefore(uint64_t target, LocalBuffers& b) {
    const uint64_t size = m_file.GetSize();
    if (target == 0 || target >= size) {
        return;
    }
    uint8_t* scan = b.scan.get();
    bool seen[CChannelPictures::kStreams] = {};
    bool found[CChannelPictures::kStreams] = {};
    uint64_t key[CChannelPictures::kStreams] = {};
    const uint32_t mask = static_cast<uint32_t>(m_file.GetChannelMask()) & 0xFFFF;
    uint32_t channelsSeen = 0;
    int failures = 0;
    int open = 0; // streams seen whose key picture is still to be found
    m_file.SetPositionBefore(target);
    while (!StopRequested()) {
        const int n = m_file.ReadBackward(scan);
        if (n <= 0) {
            if (m_file.GetPosition() == 0 || ++failures > kSearchFailures ||
                target - m_file.GetPosition() > kKeySearchHard) {
                break;
            }
            continue;
        }
        const uint64_t offset = m_file.GetPacketOffset();
        const uint64_t back = target - std::min(target, offset);
        if (back > kKeySearchHard) {
            break;
        }
        if (m_file.IsAudio() || m_decoder.ParseHeader(scan, n) == 0) {
            continue;
        }
        const int s = CChannelPictures::StreamOf(m_decoder);
        if (!seen[s]) {
            seen[s] = true;
            ++open;
            channelsSeen |= ChannelsOf(PictureInfoOf(m_decoder, 0, SYSTEMTIME{}, 0));
        }
        if (!found[s] && m_decoder.IsKeyPicture()) {
            found[s] = true;
            key[s] = offset;
            --open;
        }
        if (open == 0 && ((channelsSeen & mask) == mask || back > kKeySearchSoft)) {
            break;
        }
    }
    uint64_t from = target;
    for (int s = 0; s < CChannelPictures::kStreams; ++s) {
        if (found[s]) {
            from = std::min(from, key[s]);
        }
    }
    if (from == target) {
        return;
    }
    m_file.SetPosition(from);
    failures = 0;
    while (!StopRequested()) {
        const int n = m_file.ReadForward(scan);
        if (n <= 0) {
            // The packets of a skipped block are gone: what follows would be
            // decoded over pictures that lack them.
            m_pictures.Invalidate();
            if (++failures > kSearchFailures || m_file.GetPosition() >= target) {
                break;
            }
            continue;
        }
        const uint64_t offset = m_file.GetPacketOffset();
        if (offset >= target) {
            break;
        }
        if (m_file.IsAudio() || m_decoder.ParseHeader(scan, n) == 0) {
            continue;
        }
        const int s = CChannelPictures::StreamOf(m_decoder);
        if (!found[s] || offset < key[s]) {
            continue;
        }
        DecodeTrue(
            scan, n,
            PictureInfoOf(m_decoder, offset, m_file.GetPacketTime(), m_file.GetPacketFrameGap()));
    }
}

int CPlayerEngine::FillReverse(int stream, uint64_t offset, bool isKey, LocalBuffers& b) {
    uint8_t* scan = b.scan.get();
    uint64_t key = offset;
    if (!isKey) {
        if (m_reverseCache.IsKeyless(stream, offset)) {
            return 0;
        }
        bool found = false;
        uint64_t lowest = offset;
        int failures = 0;
        m_file.SetPositionBefore(offset);
        while (!StopRequested()) {
            const int n = m_file.ReadBackward(scan);
            if (n <= 0) {
                if (m_file.GetPosition() == 0 || ++failures > kSearchFailures) {
                    break;
                }
                continue;
            }
            const uint64_t at = m_file.GetPacketOffset();
            if (offset - std::min(offset, at) > kKeySearchHard) {
                break;
            }
            lowest = std::min(lowest, at);
            if (m_file.IsAudio() || m_decoder.ParseHeader(scan, n) == 0 ||
                CChannelPictures::StreamOf(m_decoder) != stream || !m_decoder.IsKeyPicture()) {
                continue;
            }
            key = at;
            found = true;
            break;
        }
        if (!found) {
            m_reverseCache.SetKeyless(stream, m_file.GetPosition() == 0 ? 0 : lowest, offset);
            return 0;
        }
    }
    m_file.SetPosition(key);
    m_pictures.SetTrue(stream, false);
    int failures = 0;
    while (!StopRequested()) {
        const int n = m_file.ReadForward(scan);
        if (n <= 0) {
            m_pictures.SetTrue(stream, false);
            if (++failures > kSearchFailures || m_file.GetPosition() > offset) {
                break;
            }
            continue;
        }
        const uint64_t at = m_file.GetPacketOffset();
        if (at > offset) {
            break;
        }
        if (m_file.IsAudio() || m_decoder.ParseHeader(scan, n) == 0 ||
            CChannelPictures::StreamOf(m_decoder) != stream) {
            continue;
        }
        const PictureInfo info =
            PictureInfoOf(m_decoder, at, m_file.GetPacketTime(), m_file.GetPacketFrameGap());
        if (DecodeTrue(scan, n, info)) {
            m_reverseCache.Put(stream, info, m_pictures.Buffer(stream),
                               m_decoder.GetPictureBytes());
        }
        if (at == offset) {
            break;
        }
    }
    m_reverseCacheBytes.store(m_reverseCache.GetBytesAllocated());
    return m_reverseCache.Find(stream, offset, nullptr) != nullptr ? 1 : 0;
}

void CPlayerEngine::Pace(const PictureInfo& info, double speed, LocalPlace& place) {
    m_pacedPasses.fetch_add(1);
    place.due += static_cast<int64_t>(
        PacingWaitUs(info.frameGap, FramePeriodUs(info.height, m_decoder.GetMode()), speed));
    if (m_unpaced.load()) {
        place.due = NowUs();
        return;
    }
    const int64_t now = NowUs();
    if (now - place.due > kMaxLateUs) {
        place.due = now;
        return;
    }
    if (place.due - now >= 1000) {
        m_pacingWaits.fetch_add(1);
        // A command or a stop cuts the wait short: commands take effect at once.
        WaitAny({&m_stopEvent, &m_commandEvent}, static_cast<uint32_t>((place.due - now) / 1000));
    }
}

void CPlayerEngine::PlayForward(int state, LocalBuffers& b, LocalPlace& place) {
    uint8_t* packet = b.packet.get();
    const double speed = m_speed.load();
    const bool play = state == kStatePlay;
    if (!place.forward || place.needPrime) {
        // Back onto the pictures of this place: each stream decoded forward
        // from its key picture up to where reading goes on.
        const uint64_t resume =
            place.forward || place.cursorRaw ? m_file.GetPosition() : place.cursor;
        m_pictures.Invalidate();
        PrimeBefore(resume, b);
        m_file.SetPosition(resume);
        place.forward = true;
        place.needPrime = false;
    }
    const int length = ReadForwardWrapped(packet);
    NoteReaderState();
    if (length <= 0) {
        // A failed read may have skipped a block and every packet in it, or
        // cut off the packet that ran into the end of a growing recording.
        m_pictures.Invalidate();
        place.lastForwardFailed = true;
        NoteCutEnd();
        if (!play) {
            m_playState.store(kStatePause);
        } else if (++place.failures > kMaxReadFailures) {
            m_playState.store(kStatePause);
            place.failures = 0;
        } else if (m_repeat.load() && m_file.GetPosition() + 4096 > m_file.GetSize()) {
            m_file.SetPosition(0);
            m_pictures.Invalidate();
            for (uint64_t& shown : m_shownOffset) {
                shown = kNoPicture;
            }
            m_playState.store(kStatePlay);
        }
        return;
    }
    place.failures = 0;
    place.lastForwardFailed = false;
    if (m_file.IsAudio()) {
        // Sound is played at speed 1 only; elsewhere it costs no time.
        if (play && speed == 1.0 && !m_unpaced.load()) {
            {
                std::lock_guard<std::mutex> lock(m_timeLock);
                m_frameTime = m_file.GetPacketTime();
                m_blockTime = m_frameTime;
                m_blockTimeValid = true;
            }
            if (PlayLocalAudio(packet, length, b)) {
                m_audioPlayed.fetch_add(1);
            }
            if (m_exportActive.load() && (m_videoFormat != VF_QZA || m_file.GetChannel() == 0)) {
                m_aviWriter.WriteAudio(packet, length);
            }
        }
        return;
    }
    if (m_decoder.ParseHeader(packet, length) == 0) {
        m_refusedPictures.fetch_add(1);
        return;
    }
    const PictureInfo info = PictureInfoOf(m_decoder, m_file.GetPacketOffset(),
                                           m_file.GetPacketTime(), m_file.GetPacketFrameGap());
    const int stream = StreamOfInfo(info);
    int enabled[16];
    for (int i = 0; i < 16; ++i) {
        enabled[i] = m_channelEnable[i].load();
    }
    bool shown = false;
    if (!ChannelGatePasses(enabled, info.channel, info.dual)) {
        m_pictures.SetTrue(stream, false);
    } else if (play && speed >= 16.0 && !m_decoder.IsKeyPicture() && !m_unpaced.load() &&
               place.due - NowUs() < kFastUpdateMarginUs) {
        // No time for this update: the stream waits for its next key picture.
        m_pictures.SetTrue(stream, false);
    } else if (!play && StreamVisible(info) && (place.steppedStreams & (1u << stream)) != 0) {
        // A second picture of a stream that has already moved: the step is
        // over, and this picture is where the next one starts.
        m_file.SetPosition(info.offset);
        m_position.store(info.offset);
        m_playState.store(kStatePause);
        return;
    } else if (DecodeTrue(packet, length, info) && m_shownOffset[stream] != info.offset) {
        if (!play && !StreamVisible(info)) {
            return; // stepping goes on to a picture that is on screen
        }
        ShowStreamPicture(info, m_pictures.Buffer(stream), b);
        shown = true;
    }
    if (play) {
        Pace(info, speed, place);
    } else if (shown && StepDone(info, stream, place)) {
        m_playState.store(kStatePause);
    }
}

bool CPlayerEngine::StepDone(const PictureInfo& info, int stream, LocalPlace& place) {
    place.steppedStreams |= 1u << stream;
    place.steppedChannels |= ChannelsOf(info);
    // Every visible channel the recording holds (and the gate lets through)
    // has moved by one picture of its own.
    int split = 1;
    int page = 0;
    m_output->GetSplit(&split, &page);
    const int n = std::max(split, 1);
    const int count = std::min(m_output->GetChannelCount(), 16);
    const uint32_t recorded = static_cast<uint32_t>(m_file.GetChannelMask()) & 0xFFFF;
    uint32_t wanted = 0;
    for (int c = page * n; c < std::min(count, (page + 1) * n); ++c) {
        if ((recorded & (1u << c)) != 0 && m_channelEnable[c].load() != 0) {
            wanted |= 1u << c;
        }
    }
    return (wanted & ~place.steppedChannels) == 0;
}

void CPlayerEngine::PlayBackwardPass(int state, LocalBuffers& b, LocalPlace& place) {
    uint8_t* packet = b.packet.get();
    const double speed = m_speed.load();
    const bool play = state == kStatePlayBackward;
    if (place.forward) {
        place.cursor = m_file.GetPosition();
        place.cursorRaw = place.lastForwardFailed;
        place.forward = false;
    }
    const uint64_t before = place.cursor;
    const bool beforeRaw = place.cursorRaw;
    if (place.cursorRaw) {
        m_file.SetPosition(place.cursor);
    } else {
        m_file.SetPositionBefore(place.cursor);
    }
    const int length = m_file.ReadBackward(packet);
    NoteReaderState();
    if (length <= 0) {
        place.cursor = m_file.GetPosition();
        place.cursorRaw = true;
        if (!play || ++place.failures > kMaxReadFailures) {
            m_playState.store(kStatePause);
            place.failures = 0;
        }
        return;
    }
    place.failures = 0;
    const uint64_t offset = m_file.GetPacketOffset();
    place.cursor = offset;
    place.cursorRaw = false;
    m_position.store(offset);
    if (m_file.IsAudio() || m_decoder.ParseHeader(packet, length) == 0) {
        return;
    }
    const PictureInfo info =
        PictureInfoOf(m_decoder, offset, m_file.GetPacketTime(), m_file.GetPacketFrameGap());
    const int stream = StreamOfInfo(info);
    const bool key = m_decoder.IsKeyPicture() != 0;
    int enabled[16];
    for (int i = 0; i < 16; ++i) {
        enabled[i] = m_channelEnable[i].load();
    }
    if (m_shownOffset[stream] == offset || (!play && !StreamVisible(info))) {
        return;
    }
    if (!play && (place.steppedStreams & (1u << stream)) != 0) {
        // The stream's next picture back belongs to the next step.
        place.cursor = before;
        place.cursorRaw = beforeRaw;
        m_playState.store(kStatePause);
        return;
    }
    bool shown = false;
    if (ChannelGatePasses(enabled, info.channel, info.dual)) {
        if (play && speed >= 16.0) {
            // Fast backward shows the key pictures, each true by itself.
            if (key && DecodeTrue(packet, length, info)) {
                ShowStreamPicture(info, m_pictures.Buffer(stream), b);
                shown = true;
            }
        } else {
            PictureInfo cached;
            const uint8_t* picture = m_reverseCache.Find(stream, offset, &cached);
            if (picture == nullptr && FillReverse(stream, offset, key, b)) {
                picture = m_reverseCache.Find(stream, offset, &cached);
            }
            if (picture != nullptr) {
                ShowStreamPicture(cached, picture, b);
                shown = true;
            }
        }
    }
    if (play) {
        Pace(info, speed, place);
    } else if (shown && StepDone(info, stream, place)) {
        m_playState.store(kStatePause);
    }
}

void CPlayerEngine::SeekPass(LocalBuffers& b, LocalPlace& place) {
    uint8_t* packet = b.packet.get();
    m_file.SetSeekTarget(m_seekPosition.load());
    const int length = m_file.ReadAtSeekTarget(packet);
    NoteReaderState();
    place.forward = true;
    place.lastForwardFailed = length <= 0;
    if (length <= 0) {
        place.needPrime = true;
        m_playState.store(kStatePause);
        return;
    }
    const uint64_t offset = m_file.GetPacketOffset();
    const uint64_t after = m_file.GetPosition();
    const SYSTEMTIME time = m_file.GetPacketTime();
    const int gap = m_file.GetPacketFrameGap();
    m_pictures.Invalidate();
    PrimeBefore(offset, b);
    // Every stream at once at its picture of this moment, then the one found.
    uint32_t present = 0;
    for (int s = 0; s < CChannelPictures::kStreams; ++s) {
        if (m_pictures.IsTrue(s)) {
            present |= ChannelsOf(m_pictures.Info(s));
            if (m_shownOffset[s] != m_pictures.Info(s).offset) {
                ShowStreamPicture(m_pictures.Info(s), m_pictures.Buffer(s), b);
            }
        }
    }
    if (m_decoder.ParseHeader(packet, length) != 0) {
        const PictureInfo info = PictureInfoOf(m_decoder, offset, time, gap);
        if (DecodeTrue(packet, length, info)) {
            present |= ChannelsOf(info);
            ShowStreamPicture(info, m_pictures.Buffer(StreamOfInfo(info)), b);
        }
    }
    // A channel with nothing recorded at this moment (before its first
    // picture, or no key picture within reach) would otherwise go on showing
    // a picture of the place left.
    for (int c = 0; c < 16; ++c) {
        if ((present & (1u << c)) == 0) {
            m_output->ClearChannel(c);
        }
    }
    for (int s = 0; s < CChannelPictures::kStreams; ++s) {
        if (!m_pictures.IsTrue(s)) {
            m_shownOffset[s] = kNoPicture; // its picture is to be shown again when reached
        }
    }
    m_file.SetPosition(after);
    place.needPrime = false;
    m_playState.store(kStatePause);
}

int CPlayerEngine::RunLocalLoop() {
    LocalBuffers b;
    LocalPlace place;
    m_pictures.Reset();
    m_reverseCache.Clear();
    for (uint64_t& shown : m_shownOffset) {
        shown = kNoPicture;
    }
    WaveStart();
    double lastSpeed = m_speed.load();

    while (m_running.load()) {
        const int woke = WaitAny({&m_stopEvent, &m_commandEvent}, 0);
        if (woke == 0) {
            break;
        }
        if (woke == 1) {
            // Reset before reading, so that a command posted meanwhile is not lost.
            m_commandEvent.Reset();
            m_playState.store(PlayStateForCommand(m_command.load(), m_playState.load()));
            m_commandsTaken.fetch_add(1);
            place.due = NowUs();
            place.failures = 0;
            place.steppedStreams = 0;
            place.steppedChannels = 0;
            if (lastSpeed >= 16.0 && m_speed.load() < 16.0) {
                place.needPrime = true;
            }
            lastSpeed = m_speed.load();
            continue;
        }
        WavePump();

        const int state = m_playState.load();
        std::unique_lock<std::mutex> reader(m_readerLock);
        if (!m_file.IsOpen() || state == kStatePause || state == kStateReady ||
            state == kStateStop) {
            reader.unlock();
            WaitAny({&m_stopEvent, &m_commandEvent}, kIdleWaitMs);
            continue;
        }
        switch (state) {
        case kStatePlay:
        case kStateStepForward:
            PlayForward(state, b, place);
            break;
        case kStatePlayBackward:
        case kStateStepBackward:
            PlayBackwardPass(state, b, place);
            break;
        case kStateSearch:
            SeekPass(b, place);
            break;
        default:
            break;
        }
    }

    {
        std::lock_guard<std::mutex> lock(m_timeLock);
        m_frameTime = SYSTEMTIME{};
    }
    m_playState.store(kStateReady);
    m_commandEvent.Reset();
    Sleep(100);
    return 1;
}

} // namespace tv
