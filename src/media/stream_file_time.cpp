// Time search over a recording whose block times need not rise from start to
// end. A recorder disk is a ring (the newest blocks lie before the oldest),
// has unwritten and unreadable stretches of any length, and its clock gets
// corrected, so the same time may be recorded twice. The search samples block
// headers at a coarse stride, finds where the times fall back between two
// samples by bisection, and bisects for the time inside each stretch of rising
// time. Only headers are read, a few hundred for a whole disk; holes in a
// sparse file are stepped over without reading them.

#include "media/stream_file.h"
#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <unistd.h>

namespace tv {

namespace {

constexpr uint64_t kBlock = kQzfBlockSize;
constexpr uint64_t kSamples = 256;    // sample intervals across the whole source
constexpr uint64_t kSampleLook = 8;   // blocks a sample point reads before giving up
constexpr int kExtraSamplePoints = 1; // more points tried in an interval that looks empty
constexpr uint64_t kNone = ~0ull;

struct Point {
    uint64_t block = 0;
    uint32_t time = 0;
    bool lastOfRun = false; // the next usable block starts another stretch
};

struct Candidate {
    uint64_t block = 0;
    uint32_t time = 0;
    uint32_t runStart = 0; // time of the stretch's first known block: its place in recording order
    bool spans = false;    // the stretch holds the time itself, not only later ones
};

class CTimeSearcher {
public:
    // usable: the block has a valid header with a time; skip: the first block
    // at or after the given one that may hold data (past a hole).
    using Usable = std::function<bool(uint64_t block, uint32_t* time)>;
    using Skip = std::function<uint64_t(uint64_t block)>;

    CTimeSearcher(uint64_t count, Usable usable, Skip skip)
        : m_count(count), m_stride(std::max<uint64_t>(1, (count + kSamples - 1) / kSamples)),
          m_usable(std::move(usable)), m_skip(std::move(skip)) {}

    std::vector<Candidate> Find(uint32_t t) {
        Sample();
        SplitRuns();
        std::vector<Candidate> found;
        for (size_t r = 0; r < m_runs.size(); ++r) {
            Candidate c;
            if (SearchRun(r, t, &c)) {
                found.push_back(c);
            }
        }
        const auto order = [](const Candidate& a, const Candidate& b) {
            if (a.time != b.time) {
                return a.time < b.time;
            }
            if (a.runStart != b.runStart) {
                return a.runStart < b.runStart;
            }
            return a.block < b.block;
        };
        std::sort(found.begin(), found.end(), order);
        // The earliest time at or after t, then every other stretch that spans
        // t: a stretch that merely starts later adds nothing to choose from.
        std::vector<Candidate> out;
        for (size_t i = 0; i < found.size(); ++i) {
            if (i == 0 || found[i].spans) {
                out.push_back(found[i]);
            }
        }
        return out;
    }

    struct Span {
        uint64_t runFirst = 0;
        uint64_t start = 0;
        uint64_t end = 0;
        uint64_t runEnd = 0;
        uint32_t time = 0;
        uint32_t runStart = 0;
        bool reachesTo = false;
    };

    std::vector<Span> FindRange(uint32_t from, uint32_t to) {
        Sample();
        SplitRuns();
        std::vector<Span> out;
        for (size_t r = 0; r < m_runs.size(); ++r) {
            Candidate a;
            if (!SearchRun(r, from, &a) || a.time >= to) {
                continue;
            }
            Span s;
            s.runFirst = m_runs[r];
            s.start = a.block;
            s.time = a.time;
            s.runStart = a.runStart;
            Candidate b;
            s.reachesTo = SearchRun(r, to, &b);
            // The last stretch's end costs reading headers: only when needed.
            s.runEnd = s.reachesTo && r + 1 == m_runs.size() ? m_count : RunEnd(r);
            s.end = s.reachesTo ? b.block : s.runEnd;
            out.push_back(s);
        }
        return out;
    }

private:
    // Just past the last usable block of run r. A run that ends where time
    // falls back ends at its known last block; the last run may be followed
    // by unwritten blocks up to the end of the source, which are no part of
    // it: its end is looked for in its last sample's interval, as the search
    // for a time there is.
    uint64_t RunEnd(size_t r) {
        const uint64_t runEnd = r + 1 < m_runs.size() ? m_runs[r + 1] : m_count;
        const auto last =
            std::lower_bound(m_points.begin(), m_points.end(), runEnd,
                             [](const Point& p, uint64_t block) { return p.block < block; });
        if (last == m_points.begin() || (last - 1)->block < m_runs[r]) {
            return runEnd;
        }
        const Point& p = *(last - 1);
        if (p.lastOfRun) {
            return p.block + 1;
        }
        const uint64_t e = std::min(IntervalEnd(p.block), runEnd);
        uint64_t lo = p.block + 1;
        uint64_t hi = e;
        while (lo < hi) {
            const uint64_t mid = lo + (hi - lo) / 2;
            uint32_t time = 0;
            const uint64_t v = FirstUsable(mid, e, e - mid, &time);
            if (v == kNone) {
                hi = mid;
            } else {
                lo = v + 1;
            }
        }
        return lo;
    }

    uint64_t IntervalStart(uint64_t block) const { return block / m_stride * m_stride; }
    uint64_t IntervalEnd(uint64_t block) const {
        return std::min(m_count, IntervalStart(block) + m_stride);
    }
    // Where the blocks before a sample may begin: its interval, and the one
    // before when sampling could not tell whether that one holds anything
    // (a stretch of bad or unwritten blocks ending inside it).
    uint64_t RegionStart(uint64_t block) const {
        const uint64_t start = IntervalStart(block);
        const uint64_t before = start / m_stride;
        return before > 0 && m_unsure[before - 1] ? start - m_stride : start;
    }

    // The first usable block in [from, end), reading at most budget headers;
    // kNone when there is none. *stop: where the look ended.
    uint64_t FirstUsable(uint64_t from, uint64_t end, uint64_t budget, uint32_t* time,
                         uint64_t* stop = nullptr) {
        uint64_t b = from;
        for (uint64_t read = 0; b < end && read < budget; ++read) {
            if (m_usable(b, time)) {
                return b;
            }
            b = std::max(b + 1, m_skip(b + 1));
        }
        if (stop != nullptr) {
            *stop = b;
        }
        return kNone;
    }

    void Sample() {
        m_points.clear();
        m_unsure.clear();
        for (uint64_t a = 0; a < m_count; a += m_stride) {
            const uint64_t e = std::min(m_count, a + m_stride);
            uint32_t time = 0;
            uint64_t stop = 0;
            uint64_t v = FirstUsable(a, e, kSampleLook, &time, &stop);
            // A bad or unwritten stretch may cover the interval's start only.
            for (int q = 1; v == kNone && stop < e && q <= kExtraSamplePoints; ++q) {
                const uint64_t from = std::max(stop, a + (e - a) * q / (kExtraSamplePoints + 1));
                v = FirstUsable(from, e, kSampleLook, &time, &stop);
            }
            if (v != kNone) {
                m_points.push_back({v, time, false});
            }
            m_unsure.push_back(v == kNone && stop < e);
        }
    }

    // lo and hi usable, lo's time above hi's, nothing usable in [ub, hi):
    // narrows them to two neighbouring usable blocks where time falls back.
    void Narrow(Point* lo, Point* hi, uint64_t ub) {
        while (ub > lo->block + 1) {
            const uint64_t mid = lo->block + (ub - lo->block) / 2;
            uint32_t time = 0;
            const uint64_t v = FirstUsable(mid, ub, ub - mid, &time);
            if (v == kNone) {
                ub = mid;
            } else if (time >= lo->time) {
                *lo = {v, time, false};
            } else {
                *hi = {v, time, false};
                ub = mid;
            }
        }
    }

    // Splits the samples into stretches of rising time: m_runs holds the
    // first block of each, every drop adds its two neighbouring blocks.
    void SplitRuns() {
        m_runs.assign(1, 0);
        std::vector<Point> extra;
        for (size_t i = 0; i + 1 < m_points.size(); ++i) {
            Point lo = m_points[i];
            Point hi = m_points[i + 1];
            if (hi.time >= lo.time) {
                continue;
            }
            // Intervals between two samples held nothing when sampled; the
            // drop lies at the end of lo's interval or the start of hi's (or
            // in the interval before, when sampling was unsure of it).
            uint64_t ub = hi.block;
            if (IntervalStart(lo.block) != IntervalStart(hi.block)) {
                const uint64_t hiStart = RegionStart(hi.block);
                uint32_t time = 0;
                const uint64_t r = FirstUsable(hiStart, hi.block, hi.block - hiStart, &time);
                if (r != kNone && time >= lo.time) {
                    lo = {r, time, false};
                } else {
                    if (r != kNone) {
                        hi = {r, time, false};
                    }
                    ub = std::min(IntervalEnd(lo.block), hi.block);
                }
            }
            Narrow(&lo, &hi, ub);
            lo.lastOfRun = true;
            extra.push_back(lo);
            extra.push_back(hi);
            m_runs.push_back(hi.block);
        }
        for (const Point& p : extra) {
            m_points.push_back(p);
        }
        std::sort(m_points.begin(), m_points.end(), [](const Point& a, const Point& b) {
            return a.block != b.block ? a.block < b.block : a.lastOfRun > b.lastOfRun;
        });
        m_points.erase(
            std::unique(m_points.begin(), m_points.end(),
                        [](const Point& a, const Point& b) { return a.block == b.block; }),
            m_points.end());
    }

    // The first usable block in [from, end) at or after t, the times rising;
    // *earlier set when a usable block before t was seen.
    uint64_t LowerBound(uint64_t from, uint64_t end, uint32_t t, uint32_t* found, bool* earlier) {
        uint64_t lo = from;
        uint64_t hi = end;
        uint64_t best = kNone;
        while (lo < hi) {
            const uint64_t mid = lo + (hi - lo) / 2;
            uint32_t time = 0;
            const uint64_t v = FirstUsable(mid, hi, hi - mid, &time);
            if (v == kNone) {
                hi = mid;
            } else if (time >= t) {
                best = v;
                *found = time;
                hi = mid;
            } else {
                *earlier = true;
                lo = v + 1;
            }
        }
        return best;
    }

    bool SearchRun(size_t r, uint32_t t, Candidate* c) {
        const uint64_t runFrom = m_runs[r];
        const uint64_t runEnd = r + 1 < m_runs.size() ? m_runs[r + 1] : m_count;
        const auto first =
            std::lower_bound(m_points.begin(), m_points.end(), runFrom,
                             [](const Point& p, uint64_t block) { return p.block < block; });
        const auto last =
            std::lower_bound(first, m_points.end(), runEnd,
                             [](const Point& p, uint64_t block) { return p.block < block; });
        if (first == last) {
            return false;
        }
        c->runStart = first->time;
        const auto at = std::find_if(first, last, [t](const Point& p) { return p.time >= t; });
        bool earlier = at != first;
        uint32_t time = 0;
        uint64_t v = kNone;
        if (at == last) {
            // Past the last sample: only the rest of its interval is left.
            const Point& p = *(last - 1);
            if (!p.lastOfRun) {
                v = LowerBound(p.block + 1, std::min(IntervalEnd(p.block), runEnd), t, &time,
                               &earlier);
            }
        } else {
            const uint64_t qStart = std::max(runFrom, RegionStart(at->block));
            if (at != first) {
                const Point& p = *(at - 1);
                const uint64_t pEnd = std::min(IntervalEnd(p.block), at->block);
                if (!p.lastOfRun) {
                    v = LowerBound(p.block + 1, pEnd, t, &time, &earlier);
                }
                if (v == kNone && qStart >= pEnd) {
                    v = LowerBound(qStart, at->block, t, &time, &earlier);
                }
            } else {
                v = LowerBound(qStart, at->block, t, &time, &earlier);
            }
            if (v == kNone) {
                v = at->block;
                time = at->time;
            }
        }
        if (v == kNone) {
            return false;
        }
        c->block = v;
        c->time = time;
        c->spans = earlier || time == t;
        return true;
    }

    const uint64_t m_count;
    const uint64_t m_stride;
    Usable m_usable;
    Skip m_skip;
    std::vector<Point> m_points; // known usable blocks in file order
    std::vector<bool> m_unsure;  // per interval: nothing found, but not all of it read
    std::vector<uint64_t> m_runs;
};

} // namespace

// Eight bytes instead of a read-ahead window: a search probe lands far from
// the last one, and on a spinning disk the seek is the cost anyway.
int CStreamFile::ProbeHeaderAt(uint64_t block, QzfBlockHeader* h) {
    if (m_fd < 0 || (block + 1) * kBlock > m_size) {
        return -1;
    }
    uint8_t head[kQzfHeaderSize];
    const ssize_t got = PreadFull(m_fd, head, sizeof(head), block * kBlock);
    if (got < 0) {
        m_readError = errno != 0 ? errno : EIO;
        return 0;
    }
    m_readError = 0;
    if (got < static_cast<ssize_t>(sizeof(head))) {
        return -1;
    }
    if (m_diskMode) {
        SwapWords(head, sizeof(head));
    }
    return DecodeRecordingHeader(head, m_format, m_bias, h);
}

// A hole in a sparse file reads as zeros, which no valid header is; asking
// the file system where data resumes saves reading it. Devices and file
// systems that cannot tell report everything as data.
bool CStreamFile::ProbeBlockTime(uint64_t block, uint32_t* time) {
    QzfBlockHeader h;
    // A zero time is an unwritten header, not a recording of 1970.
    if (ProbeHeaderAt(block, &h) != 1 || h.time == 0) {
        return false;
    }
    *time = h.time;
    return true;
}

uint64_t CStreamFile::NextDataBlock(uint64_t block) {
    const uint64_t count = GetBlockCount();
    if (block >= count) {
        return count;
    }
    const off_t r = ::lseek(m_fd, static_cast<off_t>(block * kBlock), SEEK_DATA);
    if (r < 0) {
        return errno == ENXIO ? count : block;
    }
    return std::max(block, static_cast<uint64_t>(r) / kBlock);
}

std::vector<CStreamFile::TimeMatch> CStreamFile::FindTimeAll(uint32_t t) {
    std::vector<TimeMatch> out;
    const uint64_t count = GetBlockCount();
    if (m_fd < 0 || count == 0) {
        return out;
    }
    CTimeSearcher search(
        count, [this](uint64_t block, uint32_t* time) { return ProbeBlockTime(block, time); },
        [this](uint64_t block) { return NextDataBlock(block); });
    for (const Candidate& c : search.Find(t)) {
        out.push_back({static_cast<int64_t>(c.block * kBlock), c.time});
    }
    return out;
}

std::vector<CStreamFile::TimeSpan> CStreamFile::FindTimeRange(uint32_t fromUtc, uint32_t toUtc) {
    std::vector<TimeSpan> out;
    const uint64_t count = GetBlockCount();
    if (m_fd < 0 || count == 0 || fromUtc >= toUtc) {
        return out;
    }
    CTimeSearcher search(
        count, [this](uint64_t block, uint32_t* time) { return ProbeBlockTime(block, time); },
        [this](uint64_t block) { return NextDataBlock(block); });
    for (const CTimeSearcher::Span& s : search.FindRange(fromUtc, toUtc)) {
        const auto at = [](uint64_t block) { return static_cast<int64_t>(block * kBlock); };
        out.push_back({at(s.runFirst), at(s.start), at(s.end), at(s.runEnd), s.time, s.runStart,
                       s.reachesTo});
    }
    return out;
}

int64_t CStreamFile::FindTime(uint32_t t, uint32_t* foundTime) {
    const std::vector<TimeMatch> all = FindTimeAll(t);
    if (all.empty()) {
        return -1;
    }
    if (foundTime != nullptr) {
        *foundTime = all.front().time;
    }
    return all.front().offset;
}

int64_t CStreamFile::FindTime(const SYSTEMTIME& local, uint32_t* foundTime) {
    const int64_t t = LocalToBlockTime(local, m_bias);
    if (t < 0) {
        return FindTime(0u, foundTime);
    }
    if (t > 0xFFFFFFFFll) {
        return -1;
    }
    return FindTime(static_cast<uint32_t>(t), foundTime);
}

} // namespace tv
