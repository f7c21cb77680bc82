#pragma once

// Mono PCM output through one looping 8192-byte ring.
//
// The SDL audio callback plays the ring round and round like a looping wave
// buffer; the play position is the count of bytes it has taken from the ring
// since Open. The writer (the engine's worker thread) keeps 1024 bytes clear
// ahead of that position; Pump pauses the device when fewer than 1024 bytes
// are queued and restarts it once 1024 or more are. If the writer falls behind
// while the device plays, old bytes are replayed until Pump pauses it.
//
//   CWaveOut out;
//   out.Open(wfx);               // from CAudioConverter::Configure
//   out.Start();                 // at the start of each playback loop
//   while (playing) {
//       out.Pump();              // once per pass
//       if (!out.Write(pcm, n) && out.GetLastRefusal() != kWaveRingFull) drop the packet;
//   }
//
// Write and Pump never block: they refuse at once when there is no device,
// when the ring has no room, or while another thread reopens the device.
// Until Start follows an Open the device does not play, so a full ring stays
// full: a retry loop must also watch for its own stop request and give up
// when the play position stops moving.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/win_types.h"

namespace tv {

// Why the last Write or WriteExpanded was refused.
enum WaveRefusal : int {
    kWaveTaken = 0,    // the last write was taken
    kWaveNoDevice = 1, // no open device (never opened, open failed or device lost): drop
    kWaveRingFull = 2, // too close to the play position: retry once the device played on
    kWaveTooLarge = 3, // more than the ring holds, or unusable arguments: never taken
    kWaveBusy = 4,     // another thread is reopening or adjusting the device: retry
};

class CWaveOut {
public:
    static constexpr int kRingSize = 8192;
    // Distance the writer keeps from the play position, and the least queued
    // amount the device keeps playing on.
    static constexpr int kGuardBytes = 1024;

    CWaveOut();
    virtual ~CWaveOut();
    CWaveOut(const CWaveOut&) = delete;
    CWaveOut& operator=(const CWaveOut&) = delete;

    // Resets the counters and the ring, closes any open device and opens one
    // for the format (PCM, 1 or 2 channels, 8 or 16 bits). Result 1, or 0 with
    // "Sound device open error !" (shown once until an open succeeds again).
    int Open(const WAVEFORMATEX& format);
    // Silences the ring and lets the device play it round and round. With no
    // device, result 1.
    int Start();
    // Copies n PCM bytes into the ring at the write offset. 1 taken, 0 refused
    // (the caller keeps the bytes; GetLastRefusal says why).
    int Write(const uint8_t* bytes, int n);
    // Like Write for n A-law codes, each stored as its 16-bit linear value.
    int WriteExpanded(const uint8_t* codes, int n);
    // Flow control, once per pass of the playback loop.
    void Pump();
    // Closes the device; Open opens a new one.
    void Close();

    // Level 0..65535 for both halves (v & 0xFFFF) * 0x10001; applied to the
    // device unless muted. Remembered across Open.
    void SetVolume(unsigned v);
    unsigned GetVolume() const;
    void SetMute(int flag);
    int GetMute() const;

    int IsOpen() const;
    // Play position in bytes since Open, on a whole sample frame. 0 with no device.
    int GetPosition(uint32_t* bytes) const;
    uint32_t GetBytesWritten() const;
    // Bytes written and not yet played, as of the last Write or Pump.
    uint32_t GetQueued() const;
    int IsPaused() const;
    int GetLastRefusal() const;
    // How often the device was found past everything written while it
    // played, i.e. replayed old bytes.
    uint32_t GetUnderruns() const;
    // The volume the output currently applies: 0 while muted.
    uint32_t GetDeviceVolume() const;

    // The audio callback: hands the next len bytes of the ring to the device
    // with the volume applied and advances the play position by len. SDL calls
    // it only while the device plays; on an opened but never started device a
    // caller may drive it to step the play position by hand.
    static void FillDeviceBuffer(void* self, uint8_t* stream, int len);

private:
    int QueryPosition(uint32_t* p) const;
    int WriteBytes(const uint8_t* bytes, int n, const std::array<int16_t, 256>* expand);
    void JumpTo(uint32_t position);
    void CloseDevice();
    void ApplyRunState();
    void FillRing(uint8_t value);
    uint8_t Silence() const { return m_nBits == 8 ? 0x80 : 0x00; }

    mutable std::mutex m_lock;

    int m_nSampleRate = 0;
    int m_nBits = 0;
    int m_nChannels = 0;
    int m_nBlockAlign = 1;
    uint32_t m_hWaveOut = 0; // SDL device id, 0 when closed
    WAVEFORMATEX m_wfx;
    int m_bLooping = 0; // the ring is playing (Start done since Open)
    uint8_t* m_pWavQ = nullptr;
    int m_nWriteOffset = 0;
    uint32_t m_nWritten = 0;
    std::atomic<uint32_t> m_nVolume{0xFFFFFFFFu};
    int m_bMute = 0;
    int m_bPaused = 0;
    uint32_t m_nQueued = 0;
    int m_nRingSize = kRingSize;
    int m_bFirstPause = 1;

    std::atomic<int> m_nLastRefusal{kWaveTaken};
    uint32_t m_nUnderruns = 0;
    int m_bOpenErrorShown = 0;
    int m_bAudioInit = 0;
    // Shared with the callback thread.
    std::atomic<uint32_t> m_nConsumed{0};
    std::atomic<uint32_t> m_nDeviceVolume{0xFFFFFFFFu};
};

} // namespace tv
