#include "audio/wave_out.h"

#include <SDL.h>

#include <cstring>
#include <new>

#include "audio/audio_converter.h"
#include "platform/notifier.h"

namespace tv {

namespace {

// SDL's subsystem counts and device table are not safe to change from two threads.
std::mutex g_sdlLock;

// The device buffer bounds how far the play position runs ahead of what is
// heard: at most about 32 ms, never more than 256 sample frames.
uint16_t ChooseDeviceSamples(int rate) {
    const int limit = rate * 32 / 1000;
    uint16_t samples = 256;
    while (samples > 64 && samples > limit) {
        samples = static_cast<uint16_t>(samples / 2);
    }
    return samples;
}

// The ring is written by the worker thread while the callback thread reads it;
// single-byte relaxed atomics keep that defined without a lock.
inline uint8_t LoadByte(uint8_t* p) {
    return std::atomic_ref<uint8_t>(*p).load(std::memory_order_relaxed);
}
inline void StoreByte(uint8_t* p, uint8_t v) {
    std::atomic_ref<uint8_t>(*p).store(v, std::memory_order_relaxed);
}

void ApplyVolume(uint8_t* s, int len, uint32_t volume, int bits, int channels) {
    const int left = static_cast<int>(volume & 0xFFFF);
    // A mono device follows the low word alone.
    const int right = channels == 2 ? static_cast<int>(volume >> 16) : left;
    if (left == 0xFFFF && right == 0xFFFF) {
        return;
    }
    if (bits == 16) {
        for (int i = 0; i + 1 < len; i += 2) {
            const int gain = (channels == 2 && (i & 2)) ? right : left;
            const int v = static_cast<int16_t>(GetLe16(s + i));
            PutLe16(s + i, static_cast<uint16_t>(static_cast<int16_t>(v * gain / 0xFFFF)));
        }
    } else {
        for (int i = 0; i < len; ++i) {
            const int gain = (channels == 2 && (i & 1)) ? right : left;
            s[i] = static_cast<uint8_t>((s[i] - 128) * gain / 0xFFFF + 128);
        }
    }
}

} // namespace

CWaveOut::CWaveOut() {
    m_pWavQ = new (std::nothrow) uint8_t[kRingSize];
    if (m_pWavQ == nullptr) {
        ShowMessageBox("m_pWavQ Allocation Failed");
        return;
    }
    std::memset(m_pWavQ, 0, kRingSize);
}

CWaveOut::~CWaveOut() {
    {
        std::lock_guard lock(m_lock);
        CloseDevice();
    }
    delete[] m_pWavQ;
    if (m_bAudioInit) {
        std::lock_guard sdl(g_sdlLock);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

void CWaveOut::FillRing(uint8_t value) {
    if (m_pWavQ == nullptr) {
        return;
    }
    for (int i = 0; i < kRingSize; ++i) {
        StoreByte(m_pWavQ + i, value);
    }
}

void CWaveOut::CloseDevice() {
    if (m_hWaveOut != 0) {
        SDL_PauseAudioDevice(m_hWaveOut, 1);
        std::lock_guard sdl(g_sdlLock);
        SDL_CloseAudioDevice(m_hWaveOut);
        m_hWaveOut = 0;
    }
    m_bLooping = 0;
    m_bPaused = 0;
}

void CWaveOut::ApplyRunState() {
    if (m_hWaveOut != 0) {
        SDL_PauseAudioDevice(m_hWaveOut, (m_bLooping && !m_bPaused) ? 0 : 1);
    }
}

int CWaveOut::Open(const WAVEFORMATEX& format) {
    bool failed = false;
    {
        std::lock_guard lock(m_lock);
        m_nWriteOffset = 0;
        m_nWritten = 0;
        m_nQueued = 0;
        m_nRingSize = kRingSize;
        m_bFirstPause = 1;
        m_wfx = format;
        CloseDevice();
        m_nConsumed.store(0, std::memory_order_release);

        const int bits = format.wBitsPerSample;
        const int channels = format.nChannels;
        const bool usable = m_pWavQ != nullptr && format.wFormatTag == WAVE_FORMAT_PCM &&
                            (channels == 1 || channels == 2) && (bits == 8 || bits == 16) &&
                            format.nSamplesPerSec > 0 && format.nSamplesPerSec <= 384000;
        if (usable) {
            m_nBits = bits;
            m_nChannels = channels;
            m_nBlockAlign = channels * bits / 8;
        }
        FillRing(usable ? Silence() : 0);

        SDL_AudioDeviceID dev = 0;
        if (usable) {
            std::lock_guard sdl(g_sdlLock);
            if (!m_bAudioInit) {
                // Signals belong to the application, not to the sound library.
                SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
                m_bAudioInit = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
            }
            if (m_bAudioInit) {
                SDL_AudioSpec want;
                SDL_AudioSpec have;
                SDL_zero(want);
                SDL_zero(have);
                want.freq = static_cast<int>(format.nSamplesPerSec);
                want.format = bits == 16 ? AUDIO_S16LSB : AUDIO_U8;
                want.channels = static_cast<Uint8>(channels);
                want.samples = ChooseDeviceSamples(want.freq);
                want.callback = &CWaveOut::FillDeviceBuffer;
                want.userdata = this;
                // No allowed changes: SDL converts, so the callback sees exactly this format.
                dev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
            }
        }
        if (dev == 0) {
            failed = !m_bOpenErrorShown;
            m_bOpenErrorShown = 1;
            if (!failed) {
                return 0;
            }
        } else {
            m_bOpenErrorShown = 0;
            m_hWaveOut = dev;
            m_nSampleRate = static_cast<int>(format.nSamplesPerSec);
        }
    }
    // Shown outside the lock: a modal box must not hold up the writer.
    if (failed) {
        ShowMessageBox("Sound device open error !");
        return 0;
    }
    return 1;
}

void CWaveOut::Close() {
    std::lock_guard lock(m_lock);
    CloseDevice();
}

int CWaveOut::Start() {
    {
        std::lock_guard lock(m_lock);
        if (m_hWaveOut == 0) {
            return 1;
        }
        FillRing(Silence());
        if (SDL_GetAudioDeviceStatus(m_hWaveOut) != SDL_AUDIO_STOPPED) {
            m_bLooping = 1;
            ApplyRunState();
            return 1;
        }
    }
    ShowMessageBox("Sound out fail !");
    return 0;
}

int CWaveOut::QueryPosition(uint32_t* p) const {
    if (m_hWaveOut == 0 || SDL_GetAudioDeviceStatus(m_hWaveOut) == SDL_AUDIO_STOPPED) {
        return 0;
    }
    const uint32_t consumed = m_nConsumed.load(std::memory_order_acquire);
    *p = consumed - consumed % static_cast<uint32_t>(m_nBlockAlign);
    return 1;
}

void CWaveOut::JumpTo(uint32_t position) {
    m_nWritten = position;
    m_nWriteOffset = static_cast<int>(position % kRingSize);
    m_nQueued = 0;
}

int CWaveOut::Write(const uint8_t* bytes, int n) {
    return WriteBytes(bytes, n, nullptr);
}

int CWaveOut::WriteExpanded(const uint8_t* codes, int n) {
    return WriteBytes(codes, n, &kAlawToLinear);
}

int CWaveOut::WriteBytes(const uint8_t* bytes, int n, const std::array<int16_t, 256>* expand) {
    std::unique_lock lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        m_nLastRefusal = kWaveBusy;
        return 0;
    }
    if (n < 0 || n > kRingSize || (n > 0 && bytes == nullptr)) {
        m_nLastRefusal = kWaveTooLarge;
        return 0;
    }
    uint32_t p = 0;
    if (!QueryPosition(&p)) {
        m_nLastRefusal = kWaveNoDevice;
        return 0;
    }
    int len = n;
    if (expand != nullptr) {
        len = 2 * n;
        p &= ~1u;
    } else {
        // A trailing part of a sample frame would shift every later sample.
        len -= len % m_nBlockAlign;
    }
    if (len > kRingSize) {
        m_nLastRefusal = kWaveTooLarge;
        return 0;
    }

    const auto ahead = static_cast<int32_t>(m_nWritten - p);
    if (ahead < 0) {
        // The device played past everything written: start at the play
        // position rather than behind it, where the bytes would wait a whole loop.
        if (m_bLooping && !m_bPaused) {
            ++m_nUnderruns;
        }
        JumpTo(p);
    } else {
        m_nQueued = static_cast<uint32_t>(ahead);
        if (ahead + len + kGuardBytes > m_nRingSize) {
            // A device paused for lack of data never makes room; let it play
            // what is queued so that the write fits on a later try.
            if (m_bPaused) {
                m_bPaused = 0;
                ApplyRunState();
            }
            m_nLastRefusal = kWaveRingFull;
            return 0;
        }
    }

    int off = m_nWriteOffset;
    if (expand != nullptr) {
        for (int i = 0; i < n; ++i) {
            const auto v = static_cast<uint16_t>((*expand)[bytes[i]]);
            StoreByte(m_pWavQ + off, static_cast<uint8_t>(v));
            off = (off + 1) % kRingSize;
            StoreByte(m_pWavQ + off, static_cast<uint8_t>(v >> 8));
            off = (off + 1) % kRingSize;
        }
    } else {
        for (int i = 0; i < len; ++i) {
            StoreByte(m_pWavQ + off, bytes[i]);
            off = (off + 1) % kRingSize;
        }
    }
    m_nWritten += static_cast<uint32_t>(len);
    m_nWriteOffset = static_cast<int>(m_nWritten % kRingSize);
    m_nLastRefusal = kWaveTaken;
    return 1;
}

void CWaveOut::Pump() {
    std::unique_lock lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        return;
    }
    uint32_t p = 0;
    if (!QueryPosition(&p)) {
        return;
    }
    const auto ahead = static_cast<int32_t>(m_nWritten - p);
    if (ahead < 0) {
        if (m_bLooping && !m_bPaused) {
            ++m_nUnderruns;
        }
        JumpTo(p);
    } else {
        m_nQueued = static_cast<uint32_t>(ahead);
    }

    if (m_nQueued < static_cast<uint32_t>(kGuardBytes)) {
        if (!m_bPaused) {
            m_bPaused = 1;
            ApplyRunState();
            // The device has settled now; at the first pause the writer starts
            // from where it stopped.
            uint32_t settled = 0;
            if (QueryPosition(&settled)) {
                if (m_bLooping && static_cast<int32_t>(m_nWritten - settled) < 0) {
                    ++m_nUnderruns; // a chunk went out before the pause took hold
                }
                if (m_bFirstPause) {
                    JumpTo(settled);
                    m_bFirstPause = 0;
                }
            }
        }
    } else if (m_bPaused) {
        m_bPaused = 0;
        ApplyRunState();
    }
}

void CWaveOut::FillDeviceBuffer(void* self, uint8_t* stream, int len) {
    auto* w = static_cast<CWaveOut*>(self);
    if (len <= 0) {
        return;
    }
    if (w->m_pWavQ == nullptr) {
        std::memset(stream, 0, static_cast<size_t>(len));
        return;
    }
    // Claimed before it is read, so a writer that jumps to the play position
    // never lands inside the chunk being handed over.
    const uint32_t start =
        w->m_nConsumed.fetch_add(static_cast<uint32_t>(len), std::memory_order_acq_rel);
    int off = static_cast<int>(start % kRingSize);
    for (int i = 0; i < len; ++i) {
        stream[i] = LoadByte(w->m_pWavQ + off);
        off = (off + 1) % kRingSize;
    }
    ApplyVolume(stream, len, w->m_nDeviceVolume.load(std::memory_order_relaxed), w->m_nBits,
                w->m_nChannels);
}

void CWaveOut::SetVolume(unsigned v) {
    std::lock_guard lock(m_lock);
    m_nVolume = (v & 0xFFFFu) * 0x10001u;
    if (!m_bMute && m_hWaveOut != 0) {
        m_nDeviceVolume = m_nVolume.load();
    }
}

unsigned CWaveOut::GetVolume() const {
    return m_nVolume.load() & 0xFFFFu;
}

void CWaveOut::SetMute(int flag) {
    std::lock_guard lock(m_lock);
    m_bMute = flag;
    if (m_hWaveOut != 0) {
        m_nDeviceVolume = flag ? 0u : m_nVolume.load();
    }
}

int CWaveOut::GetMute() const {
    std::lock_guard lock(m_lock);
    return m_bMute;
}

int CWaveOut::IsOpen() const {
    std::lock_guard lock(m_lock);
    return m_hWaveOut != 0;
}

int CWaveOut::GetPosition(uint32_t* bytes) const {
    std::lock_guard lock(m_lock);
    return bytes != nullptr && QueryPosition(bytes);
}

uint32_t CWaveOut::GetBytesWritten() const {
    std::lock_guard lock(m_lock);
    return m_nWritten;
}

uint32_t CWaveOut::GetQueued() const {
    std::lock_guard lock(m_lock);
    return m_nQueued;
}

int CWaveOut::IsPaused() const {
    std::lock_guard lock(m_lock);
    return m_bPaused;
}

int CWaveOut::GetLastRefusal() const {
    return m_nLastRefusal.load();
}

uint32_t CWaveOut::GetUnderruns() const {
    std::lock_guard lock(m_lock);
    return m_nUnderruns;
}

uint32_t CWaveOut::GetDeviceVolume() const {
    return m_nDeviceVolume.load();
}

} // namespace tv
