#include "export/export_timeline.h"

#include <algorithm>
#include <cmath>

namespace tv {

namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// Live sound arrives in bursts; only a second without any is a gap to fill.
constexpr int64_t kLiveSoundSlackMs = 1000;
// A frame later than this behind its moment is dropped rather than shifting
// every later picture.
constexpr int64_t kLateLimitMs = 500;
// A clock further ahead than this of everything before it jumped: a seek, fast
// play, a gap in the recording or a recorder clock set wrong.
constexpr int64_t kLeapMs = 5000;

} // namespace

int64_t BlockTimeMs(const SYSTEMTIME& t) {
    if (t.wYear < 1970 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 || t.wDay > 31 ||
        t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59) {
        return -1;
    }
    const int64_t days = DaysFromCivil(t.wYear, t.wMonth, t.wDay);
    return ((days * 24 + t.wHour) * 60 + t.wMinute) * 60000 + t.wSecond * 1000 + t.wMilliseconds;
}

void CExportTimeline::Start(int frameRate, int sampleRate) {
    m_rate = frameRate > 0 ? frameRate : 1;
    m_sampleRate = sampleRate > 0 ? sampleRate : 8000;
    m_started = false;
    m_rebase = false;
    m_origin = 0;
    m_newest = -1;
    m_lastVideoClock = -1;
    m_lastAudioClock = -1;
    m_nextSlot = 0;
    m_lastFrameTime = -1;
    m_interval = 0;
    m_second = -1;
    m_inSecond = 0;
    m_lastSecondCount = 0;
}

void CExportTimeline::SetClock(int resolutionMs, double expectedFrameRate) {
    resolutionMs = resolutionMs > 0 ? resolutionMs : 0;
    if (m_started && resolutionMs != m_resolutionMs) {
        m_rebase = true; // times of one clock say nothing about another's
    }
    m_resolutionMs = resolutionMs;
    m_expectedRate = expectedFrameRate > 0 ? expectedFrameRate : 0;
}

int64_t CExportTimeline::ExportTime(int64_t t, int64_t* last) {
    if (!m_started) {
        m_started = true;
        m_rebase = false;
        m_origin = t;
        m_newest = t;
    } else if (m_rebase || (*last >= 0 && t < *last) || t > m_newest + kLeapMs) {
        m_rebase = false;
        m_origin = t - SlotTime(m_nextSlot);
        m_newest = t;
        m_second = -1;
        // The other stream's last time is of the place left: its next one,
        // from this place, is no jump of its own.
        m_lastVideoClock = -1;
        m_lastAudioClock = -1;
    }
    *last = t;
    m_newest = std::max(m_newest, t);
    return t - m_origin;
}

int64_t CExportTimeline::PlaceFrame(int64_t t) {
    if (!IsTimed() || t < 0) {
        return m_nextSlot++;
    }
    int64_t e = ExportTime(t, &m_lastVideoClock);
    if (m_resolutionMs >= 1000) {
        // A whole-second clock says nothing within the second: its frames are
        // spread at the pace the last complete second had.
        if (t != m_second) {
            if (m_second >= 0 && t == m_second + m_resolutionMs) {
                m_lastSecondCount = m_inSecond;
            }
            m_second = t;
            m_inSecond = 0;
        }
        const double perSecond = m_lastSecondCount > 0 ? m_lastSecondCount
                                 : m_expectedRate > 0  ? m_expectedRate
                                                       : m_rate;
        const double step = m_resolutionMs / perSecond;
        e += std::min<int64_t>(std::llround(m_inSecond * step), m_resolutionMs - 1);
        m_interval = std::min<int64_t>(std::llround(step), m_resolutionMs);
        ++m_inSecond;
    } else if (m_lastFrameTime >= 0) {
        m_interval = std::clamp<int64_t>(e - m_lastFrameTime, 1, 1000);
    } else if (m_expectedRate > 0) {
        m_interval = std::llround(1000 / m_expectedRate);
    }
    int64_t slot = std::llround(static_cast<double>(e) * m_rate / 1000.0);
    if (slot < m_nextSlot) {
        if (SlotTime(m_nextSlot - slot) > kLateLimitMs) {
            return -1;
        }
        slot = m_nextSlot;
    }
    m_lastFrameTime = std::max(e, SlotTime(slot));
    m_nextSlot = slot + 1;
    return slot;
}

int64_t CExportTimeline::SilenceBefore(int64_t t, int64_t audioSamples) {
    if (!IsTimed() || t < 0) {
        return 0;
    }
    const int64_t e = ExportTime(t, &m_lastAudioClock);
    const int64_t a = AudioTime(audioSamples);
    const int64_t slack = m_resolutionMs >= 1000 ? 0 : kLiveSoundSlackMs;
    if (a + slack >= e) {
        return 0;
    }
    const int64_t target = m_resolutionMs >= 1000 ? e : e - slack / 2;
    return (target - a) * m_sampleRate / 1000;
}

int64_t CExportTimeline::EndSlot(int64_t audioSamples) const {
    int64_t end = m_nextSlot;
    if (IsTimed() && m_lastFrameTime >= 0) {
        end = std::max<int64_t>(
            end, std::llround(static_cast<double>(m_lastFrameTime + m_interval) * m_rate / 1000.0));
        end = std::max<int64_t>(
            end, std::llround(static_cast<double>(AudioTime(audioSamples)) * m_rate / 1000.0));
    }
    return end;
}

} // namespace tv
