// The local playback loop: reads a recording packet by packet and obeys the
// play commands, pacing pictures by the recording's frame gaps.

#include "engine/player_engine.h"

#include "platform/clock.h"

#include <algorithm>
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
constexpr uint32_t kMaxPaceDebtMs = 100;

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
        : packet(new uint8_t[kEnginePacketSize]), left(new uint8_t[kEngineHalfPictureSize]),
          right(new uint8_t[kEngineHalfPictureSize]), audio(new uint8_t[kEngineLocalAudioSize]) {}
    std::unique_ptr<uint8_t[]> packet;
    std::unique_ptr<uint8_t[]> left;
    std::unique_ptr<uint8_t[]> right;
    std::unique_ptr<uint8_t[]> audio;
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

void CPlayerEngine::NoteReaderState() {
    m_position.store(m_file.GetPosition());
    m_channelMask.store(static_cast<uint32_t>(m_file.GetChannelMask()));
    m_frameGap.store(m_file.GetFrameGap());
    SYSTEMTIME t;
    const bool valid = m_file.GetBlockTime(&t) != 0;
    std::lock_guard<std::mutex> lock(m_timeLock);
    m_blockTimeValid = valid;
    if (valid) {
        m_blockTime = t;
    }
}

void CPlayerEngine::TakeFrameTime() {
    std::lock_guard<std::mutex> lock(m_timeLock);
    m_frameTime = m_blockTime;
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

int CPlayerEngine::ShowPicture(const uint8_t* packet, int length, LocalBuffers& b, bool parsed) {
    uint8_t* picture = nullptr;
    if ((!parsed && m_decoder.ParseHeader(packet, length) == 0) ||
        (picture = m_pictures.For(m_decoder)) == nullptr ||
        m_decoder.Decode(packet, length, picture, kEnginePictureSize) == 0) {
        m_refusedPictures.fetch_add(1);
        return 0;
    }
    const int width = m_decoder.GetWidth();
    const int height = m_decoder.GetHeight();
    m_framePeriod.store(FramePeriodUs(height, m_decoder.GetMode()));
    SYSTEMTIME time;
    {
        std::lock_guard<std::mutex> lock(m_timeLock);
        time = m_frameTime;
    }
    const DualInfo dual = DualInfoOf(m_decoder);
    if (!dual.dual) {
        RenderPicture(m_decoder.GetChannel(), time, picture, width, height);
    } else {
        SplitDualPicture(picture, width, height, b.left.get(), b.right.get());
        if (!dual.leftAbsent) {
            RenderPicture(dual.leftChannel, time, b.left.get(), width / 2, height);
        }
        if (!dual.rightAbsent) {
            RenderPicture(dual.rightChannel, time, b.right.get(), width / 2, height);
        }
    }
    return 1;
}

int CPlayerEngine::RunLocalLoop() {
    LocalBuffers b;
    m_pictures.Reset();
    uint8_t* packet = b.packet.get();
    WaveStart();
    int skip = 0;
    int failures = 0;
    uint32_t paceDebt = 0;
    m_frameStart = 0;

    int enabled[16];
    auto gateOpen = [&]() {
        for (int i = 0; i < 16; ++i) {
            enabled[i] = m_channelEnable[i].load();
        }
        return ChannelGatePasses(enabled, m_decoder.GetChannel(), DualInfoOf(m_decoder));
    };
    // Picture and audio path for a packet just read: sound at speed 1 while
    // playing forward, everything else through the decoder.
    // Returns true when the pass ends without the pacing tail.
    auto deliver = [&](int length, bool isAudio, bool parsed) -> bool {
        TakeFrameTime();
        const int state = m_playState.load();
        if (isAudio && m_speed.load() == 1.0 && state == kStatePlay) {
            if (PlayLocalAudio(packet, length, b)) {
                m_audioPlayed.fetch_add(1);
                m_frameStart -= 5;
            }
            if (m_exportActive.load() && (m_videoFormat != 6 || m_file.GetChannel() == 0)) {
                m_aviWriter.WriteAudio(packet, length);
            }
            return true;
        }
        ++skip;
        ShowPicture(packet, length, b, parsed && !isAudio);
        return false;
    };

    while (m_running.load()) {
        const int woke = WaitAny({&m_stopEvent, &m_commandEvent}, 0);
        if (woke == 0) {
            break;
        }
        if (woke == 1) {
            // Reset before reading, so that a command posted meanwhile is not lost.
            m_commandEvent.Reset();
            m_playState.store(PlayStateForCommand(m_command.load(), m_playState.load()));
            paceDebt = 0;
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
        if (m_frameStart == 0) {
            m_frameStart = MediaClockNow();
        }
        const uint64_t size = m_file.GetSize();
        const double speed = m_speed.load();
        bool noTail = false;

        switch (state) {
        case kStatePlay:
        case kStatePlayBackward: {
            const bool forward = state == kStatePlay;
            if (speed >= 16.0 && skip >= kPicturesBetweenSkips) {
                const uint64_t distance =
                    static_cast<uint64_t>(static_cast<int64_t>(speed) * kSkipBytesPerSpeed);
                const uint64_t pos = m_file.GetPosition();
                if (forward) {
                    if (pos + distance < size) {
                        m_file.SetPosition(pos + distance);
                    }
                } else if (pos > distance) {
                    m_file.SetPosition(pos - distance);
                }
                skip = 0;
            }
            const int length = forward ? ReadForwardWrapped(packet) : m_file.ReadBackward(packet);
            NoteReaderState();
            if (length <= 0) {
                if (++failures > kMaxReadFailures) {
                    m_playState.store(kStatePause);
                    failures = 0;
                } else if (forward && m_repeat.load() && m_file.GetPosition() + 4096 > size) {
                    m_file.SetPosition(0);
                    m_playState.store(kStatePlay);
                }
                noTail = !forward;
                break;
            }
            failures = 0;
            const bool isAudio = m_file.IsAudio() != 0;
            if (isAudio) {
                if (forward) {
                    noTail = deliver(length, true, false);
                }
                break;
            }
            if (m_decoder.ParseHeader(packet, length) == 0 || !gateOpen()) {
                break;
            }
            noTail = deliver(length, false, true);
            break;
        }
        case kStateStepForward:
        case kStateStepBackward: {
            const bool forward = state == kStateStepForward;
            const int length = forward ? ReadForwardWrapped(packet) : m_file.ReadBackward(packet);
            NoteReaderState();
            if (length <= 0) {
                m_playState.store(kStatePause);
                break;
            }
            if (m_file.IsAudio()) {
                break;
            }
            if (!forward) {
                const uint32_t now = MediaClockNow();
                m_decodeTime = now - m_frameStart;
                m_frameStart = now;
            }
            if (m_decoder.ParseHeader(packet, length) == 0 || !gateOpen()) {
                break;
            }
            m_playState.store(kStatePause);
            deliver(length, false, true);
            break;
        }
        case kStateSearch: {
            m_file.SetSeekTarget(m_seekPosition.load());
            const int length = m_file.ReadAtSeekTarget(packet);
            NoteReaderState();
            m_playState.store(kStatePause);
            if (length > 0) {
                deliver(length, m_file.IsAudio() != 0, false);
            }
            break;
        }
        default:
            break;
        }
        reader.unlock();

        if (noTail) {
            continue;
        }
        // Pacing tail: what the picture cost is taken off its time on screen.
        m_decodeTime = MediaClockNow() - m_frameStart;
        const int after = m_playState.load();
        if (after == kStatePlay || after == kStatePlayBackward) {
            m_pacedPasses.fetch_add(1);
            const uint32_t waitMs = PacingWaitMs(m_frameGap.load(), m_framePeriod.load(), speed);
            // Time lost to a late wake-up or a slow picture is made up on the
            // next waits, so that the pace holds on average on a busy machine.
            const uint32_t spent = m_decodeTime + paceDebt;
            if (waitMs > spent) {
                m_pacingWaits.fetch_add(1);
                const uint32_t want = waitMs - spent;
                const uint32_t t0 = MediaClockNow();
                // A command or a stop cuts the wait short: commands take effect at once.
                if (WaitAny({&m_stopEvent, &m_commandEvent}, want) == kWaitTimeout) {
                    const uint32_t slept = MediaClockNow() - t0;
                    paceDebt = slept > want ? std::min(slept - want, kMaxPaceDebtMs) : 0;
                } else {
                    paceDebt = 0;
                }
            } else {
                paceDebt = std::min(spent - waitMs, kMaxPaceDebtMs);
            }
        } else {
            paceDebt = 0;
        }
        m_frameStart = 0;
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
