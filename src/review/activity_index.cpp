#include "review/activity_index.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tv {

uint16_t CActivityIndex::ChannelMask() const {
    uint16_t m = 0;
    for (const ActivitySecond& s : m_seconds)
        m |= s.present;
    return m;
}

std::vector<ActivityEvent> CActivityIndex::FindEvents(double threshold, uint16_t mask) const {
    std::vector<ActivityEvent> events;
    const int limit = std::clamp(int(std::ceil(threshold * 255.0)), 1, 255);
    for (int c = 0; c < kActivityChannels; ++c) {
        if (!(mask & (1u << c)))
            continue;
        bool open = false;
        ActivityEvent e;
        int peak = 0;
        for (const ActivitySecond& s : m_seconds) {
            if (s.level[c] < limit)
                continue;
            if (open && s.time > e.end + kActivityMergeGap + 1) {
                e.peak = peak / 255.0;
                events.push_back(e);
                open = false;
            }
            if (!open) {
                e = ActivityEvent{};
                e.channel = c;
                e.start = s.time;
                e.offset = s.offset;
                peak = 0;
                open = true;
            }
            e.end = s.time;
            peak = std::max(peak, int(s.level[c]));
        }
        if (open) {
            e.peak = peak / 255.0;
            events.push_back(e);
        }
    }
    std::sort(events.begin(), events.end(), [](const ActivityEvent& a, const ActivityEvent& b) {
        return a.start != b.start ? a.start < b.start : a.channel < b.channel;
    });
    return events;
}

long CActivityIndex::FindSecond(uint32_t t) const {
    auto it = std::lower_bound(m_seconds.begin(), m_seconds.end(), t,
                               [](const ActivitySecond& s, uint32_t v) { return s.time < v; });
    return it == m_seconds.end() ? -1 : long(it - m_seconds.begin());
}

bool CActivityIndex::NextEventStart(uint32_t t, bool forward, uint16_t mask, double threshold,
                                    ActivityEvent* out) const {
    const std::vector<ActivityEvent> events = FindEvents(threshold, mask);
    const ActivityEvent* best = nullptr;
    for (const ActivityEvent& e : events) {
        if (forward && e.start > t) {
            best = &e;
            break;
        }
        if (!forward && e.start < t)
            best = &e;
    }
    if (best == nullptr)
        return false;
    if (out != nullptr)
        *out = *best;
    return true;
}

namespace {

constexpr char kMagic[8] = {'T', 'V', 'A', 'C', 'T', 'S', 'E', '1'};

template <typename T> void Put(std::vector<uint8_t>* out, const T& v) {
    const size_t at = out->size();
    out->resize(at + sizeof(T));
    std::memcpy(out->data() + at, &v, sizeof(T));
}

} // namespace

void CActivityIndex::Serialize(std::vector<uint8_t>* out) const {
    out->assign(kMagic, kMagic + sizeof(kMagic));
    Put(out, m_scanned);
    Put(out, uint64_t(m_seconds.size()));
    for (const ActivitySecond& s : m_seconds) {
        Put(out, s.time);
        Put(out, s.present);
        Put(out, s.offset);
        const size_t at = out->size();
        out->resize(at + kActivityChannels);
        std::memcpy(out->data() + at, s.level, kActivityChannels);
    }
}

bool CActivityIndex::Deserialize(const uint8_t* p, size_t n) {
    constexpr size_t kRecord = 4 + 2 + 8 + kActivityChannels;
    if (n < sizeof(kMagic) + 16 || std::memcmp(p, kMagic, sizeof(kMagic)) != 0)
        return false;
    uint64_t scanned = 0;
    uint64_t count = 0;
    std::memcpy(&scanned, p + 8, 8);
    std::memcpy(&count, p + 16, 8);
    const size_t head = sizeof(kMagic) + 16;
    if (count > (n - head) / kRecord || head + count * kRecord != n)
        return false;
    std::vector<ActivitySecond> seconds(count);
    const uint8_t* q = p + head;
    for (ActivitySecond& s : seconds) {
        std::memcpy(&s.time, q, 4);
        std::memcpy(&s.present, q + 4, 2);
        std::memcpy(&s.offset, q + 6, 8);
        std::memcpy(s.level, q + 14, kActivityChannels);
        q += kRecord;
    }
    for (size_t i = 1; i < seconds.size(); ++i)
        if (seconds[i].time <= seconds[i - 1].time)
            return false;
    m_seconds = std::move(seconds);
    m_scanned = scanned;
    return true;
}

} // namespace tv
