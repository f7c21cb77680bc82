#pragma once

// The activity index of a recording: for every second that was recorded, how
// much of each channel's picture changed (0..255 for 0..1), and the byte
// offset of the second's first block so that a viewer can go there. Periods
// of activity are read off the series with a threshold.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tv {

constexpr int kActivityChannels = 16;

struct ActivitySecond {
    uint32_t time = 0;    // seconds since 1970 UTC
    uint16_t present = 0; // bit n: channel n had a picture in this second
    uint16_t reserved = 0;
    uint64_t offset = 0; // first block of the second in file order
    uint8_t level[kActivityChannels] = {};
};

struct ActivityEvent {
    int channel = 0;     // 0-based
    uint32_t start = 0;  // first second above the threshold
    uint32_t end = 0;    // last second above the threshold
    double peak = 0;     // 0..1
    uint64_t offset = 0; // where the first second was recorded
};

// Seconds below the threshold that do not split a period: an object that
// stops for a moment is still the same event.
constexpr uint32_t kActivityMergeGap = 2;
// Fraction of the picture that must change within a second for it to count.
constexpr double kDefaultActivityThreshold = 0.01;

class CActivityIndex {
public:
    // Seconds in time order; a time appears once (a clock set back or a disk
    // that wrapped round merges the seconds that share a time).
    const std::vector<ActivitySecond>& Seconds() const { return m_seconds; }
    std::vector<ActivitySecond>& MutableSeconds() { return m_seconds; }
    bool Empty() const { return m_seconds.empty(); }
    uint32_t FirstTime() const { return m_seconds.empty() ? 0 : m_seconds.front().time; }
    uint32_t LastTime() const { return m_seconds.empty() ? 0 : m_seconds.back().time; }
    uint16_t ChannelMask() const;

    // Periods of activity of the channels in mask, ordered by start then channel.
    std::vector<ActivityEvent> FindEvents(double threshold, uint16_t mask = 0xFFFF) const;

    // The second at or after t (index into Seconds()), -1 when none.
    long FindSecond(uint32_t t) const;
    // Start of the first period on a channel of mask that begins after t
    // (forward) or before t (backward); 0 and false when there is none.
    bool NextEventStart(uint32_t t, bool forward, uint16_t mask, double threshold,
                        ActivityEvent* out) const;

    // Bytes of the recording that the series covers (for a recording that grows).
    uint64_t GetScannedBytes() const { return m_scanned; }
    void SetScannedBytes(uint64_t n) { m_scanned = n; }

    // Flat binary form for the cache.
    void Serialize(std::vector<uint8_t>* out) const;
    bool Deserialize(const uint8_t* p, size_t n);

private:
    std::vector<ActivitySecond> m_seconds;
    uint64_t m_scanned = 0;
};

} // namespace tv
