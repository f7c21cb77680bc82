#pragma once

#include <cstdint>
#include <functional>

#include "platform/win_types.h"

namespace tv {

// Where an export's time comes from. now() is the moment of the frame or sound
// being written, in milliseconds on any fixed scale, or negative while it is
// unknown. A recording's block times count whole seconds (resolutionMs 1000);
// a live clock counts milliseconds (1). expectedFrameRate is how many export
// frames a second the source is expected to give, used until the clock shows
// the real pace.
struct ExportClock {
    std::function<int64_t()> now;
    int resolutionMs = 1;
    double expectedFrameRate = 0;
    // For a source whose clock changes while the export runs (a player keeps
    // the recording's time at x1 and follows the time watched otherwise): each
    // reading with its resolution. Used instead of now when set.
    std::function<int64_t(int* resolutionMs)> read{};
};

// Milliseconds since 1970 of a block time as the reader gives it (whole
// seconds), or -1 for a time that is not set.
int64_t BlockTimeMs(const SYSTEMTIME& t);

// Puts export frames and sound on the time line of what is exported. An AVI
// stream has a fixed frame rate, so each picture goes to the frame slot of its
// own moment and the slots between hold the previous picture; pictures that
// come faster than the stream's rate follow each other and are dropped once
// half a second late. The sound gets silence where the source had none, so
// that it stays beside its pictures. A jump (the clock going back, leaping
// ahead by more than a few seconds, changing its resolution, or Rebase) goes
// on from the next free slot: what nobody watched, or a recorder clock that
// was wrong, never becomes held pictures. Not thread-safe: the writer
// serialises.
class CExportTimeline {
public:
    // A new export: nothing placed yet. The clock's resolution and expected
    // rate may be given before or after (0: untimed, frames follow each other).
    void Start(int frameRate, int sampleRate);
    void SetClock(int resolutionMs, double expectedFrameRate);
    bool IsTimed() const { return m_resolutionMs > 0; }
    int Resolution() const { return m_resolutionMs; }
    // The next frame or sound goes on from the next free slot, whatever its
    // time says (the user jumped).
    void Rebase() { m_rebase = true; }

    // The slot for a frame taken at time t; -1 when the frame is to be
    // dropped. t < 0: the next free slot.
    int64_t PlaceFrame(int64_t t);
    // Samples of silence to write before sound taken at time t.
    int64_t SilenceBefore(int64_t t, int64_t audioSamples);
    // The length in slots the video should have when the export ends: the last
    // picture lasts its own interval, and the video is no shorter than the sound.
    int64_t EndSlot(int64_t audioSamples) const;
    int64_t NextSlot() const { return m_nextSlot; }

private:
    // Export time in ms of clock time t. Pictures and sound each go forward
    // on their own (a frame's time is when its cycle began, which sound read
    // since may have passed), so each keeps its last time for telling a clock
    // that went back; a leap ahead is measured from the newest time of both.
    int64_t ExportTime(int64_t t, int64_t* last);
    int64_t SlotTime(int64_t slot) const { return slot * 1000 / m_rate; }
    int64_t AudioTime(int64_t samples) const { return samples * 1000 / m_sampleRate; }

    int m_rate = 30;
    int m_sampleRate = 8000;
    int m_resolutionMs = 0; // 0: untimed
    double m_expectedRate = 0;
    bool m_started = false;
    bool m_rebase = false;
    int64_t m_origin = 0;
    int64_t m_newest = -1; // the latest clock time of either stream since the last jump
    int64_t m_lastVideoClock = -1;
    int64_t m_lastAudioClock = -1;
    int64_t m_nextSlot = 0;
    int64_t m_lastFrameTime = -1;
    int64_t m_interval = 0;
    // Whole-second clocks: frames seen in the current second and in the last
    // complete one, to spread a second's frames over it.
    int64_t m_second = -1;
    int m_inSecond = 0;
    int m_lastSecondCount = 0;
};

} // namespace tv
