#include "media_test_util.h"

#include "media/stream_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <unistd.h>

using namespace tv;
using namespace tv::test;

namespace {

constexpr uint64_t kBlk = kQzfBlockSize;

// Only the headers named are written, the rest reads as zeros (unwritten):
// a sparse file, or in disk byte order one with every zero written, as on a
// disk where nothing says where the data lies.
class SparseRecording {
public:
    SparseRecording(const std::string& path, uint64_t blocks, bool disk)
        : m_path(path), m_disk(disk) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        EXPECT_GE(m_fd, 0);
        EXPECT_EQ(::ftruncate(m_fd, static_cast<off_t>(blocks * kBlk)), 0);
        const std::vector<uint8_t> zeros(kBlk);
        for (uint64_t b = 0; disk && b < blocks; ++b) {
            EXPECT_EQ(::pwrite(m_fd, zeros.data(), kBlk, static_cast<off_t>(b * kBlk)),
                      static_cast<ssize_t>(kBlk));
        }
    }
    ~SparseRecording() { ::close(m_fd); }
    void Put(uint64_t block, uint32_t time, bool corrupt = false) {
        QzfBlockHeader h;
        h.time = time;
        h.channelMask = 1;
        uint8_t head[kQzfHeaderSize];
        EncodeBlockHeader(h, false, head);
        if (corrupt) {
            head[7] ^= 0x5A;
        }
        if (m_disk) {
            SwapWords(head, sizeof(head));
        }
        ASSERT_EQ(::pwrite(m_fd, head, sizeof(head), static_cast<off_t>(block * kBlk)), 8);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    bool m_disk;
    int m_fd = -1;
};

// The block with the earliest time at or after t; equal times: the first in the file.
int64_t Expected(const std::vector<uint32_t>& times, uint32_t t, uint32_t* found) {
    int64_t best = -1;
    for (size_t b = 0; b < times.size(); ++b) {
        if (times[b] != 0 && times[b] >= t && (best < 0 || times[b] < *found)) {
            best = static_cast<int64_t>(b);
            *found = times[b];
        }
    }
    return best < 0 ? -1 : best * static_cast<int64_t>(kBlk);
}

} // namespace

TEST(TimeSearch, RingsUnwrittenStretchesAndAClockSetBack) {
    TempDir dir;
    struct Layout {
        const char* name;
        bool disk;
        std::vector<uint32_t> times; // per block, 0 unwritten
    };
    const size_t n = 6000;
    std::vector<Layout> layouts;
    {
        // Unwritten space before the recordings.
        Layout l{"unwritten first", false, std::vector<uint32_t>(10 * n, 0)};
        for (size_t b = 9 * n; b < 10 * n; ++b) {
            l.times[b] = 1000000 + static_cast<uint32_t>(b / 3);
        }
        layouts.push_back(l);
    }
    {
        // A recorder disk used as a ring: the newest blocks first, then the
        // oldest, with unwritten and bad stretches in both.
        Layout l{"ring", true, std::vector<uint32_t>(n, 0)};
        for (size_t b = 0; b < n; ++b) {
            l.times[b] = b < 2000 ? 2000000 + static_cast<uint32_t>(b / 4)
                                  : 1000000 + static_cast<uint32_t>(b / 4);
        }
        std::fill(l.times.begin() + 700, l.times.begin() + 1600, 0);
        std::fill(l.times.begin() + 3100, l.times.begin() + 3500, 0);
        layouts.push_back(l);
    }
    {
        // The recorder's clock set back once by 1000 s: those seconds recur.
        Layout l{"clock set back", false, std::vector<uint32_t>(n, 0)};
        for (size_t b = 0; b < n; ++b) {
            l.times[b] = b < 3000 ? 1000000 + static_cast<uint32_t>(b / 2)
                                  : 1001000 + static_cast<uint32_t>(b / 2) - 2000;
        }
        layouts.push_back(l);
    }
    std::mt19937 rng(5);
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.name);
        SparseRecording rec(dir.File("r.qzf"), l.times.size(), l.disk);
        uint32_t lo = 0xFFFFFFFFu;
        uint32_t hi = 0;
        for (size_t b = 0; b < l.times.size(); ++b) {
            if (l.times[b] != 0) {
                rec.Put(b, l.times[b]);
                lo = std::min(lo, l.times[b]);
                hi = std::max(hi, l.times[b]);
            } else if (b % 7 == 0) {
                rec.Put(b, 1500000, true); // bad blocks among the unwritten ones
            }
        }
        CStreamFile f;
        ASSERT_EQ(f.Open(rec.Path(), l.disk ? 1 : 0), 1);
        // Times just before and at the first block after every unwritten stretch...
        std::vector<uint32_t> queries;
        for (size_t b = 1; b < l.times.size(); ++b) {
            if (l.times[b] != 0 && l.times[b - 1] == 0) {
                queries.push_back(l.times[b] - 1);
                queries.push_back(l.times[b]);
            }
        }
        int wrong = 0;
        uint32_t firstWrong = 0;
        for (size_t i = 0; i < 60 + queries.size(); ++i) {
            // ...and random ones, mostly near recorded times, some anywhere.
            uint32_t t = lo - 5 + static_cast<uint32_t>(rng() % (hi - lo + 10));
            const uint32_t near = l.times[rng() % l.times.size()];
            if (i % 4 != 0 && near != 0) {
                t = near - 2 + rng() % 5;
            }
            if (i >= 60) {
                t = queries[i - 60];
            }
            uint32_t want = 0;
            uint32_t got = 0;
            const int64_t expect = Expected(l.times, t, &want);
            if (f.FindTime(t, &got) != expect || (expect >= 0 && got != want)) {
                firstWrong = wrong++ == 0 ? t : firstWrong;
            }
        }
        EXPECT_EQ(wrong, 0) << "wrong for time " << firstWrong << " and others";
    }
    // Both places where a recurring second was recorded are offered, the
    // first recorded first.
    SparseRecording rec(dir.File("r.qzf"), n, false);
    for (size_t b = 0; b < n; ++b) {
        rec.Put(b, layouts[2].times[b]);
    }
    CStreamFile f;
    ASSERT_EQ(f.Open(rec.Path(), 0), 1);
    const std::vector<CStreamFile::TimeMatch> all = f.FindTimeAll(1001200);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].offset, static_cast<int64_t>(2400 * kBlk));
    EXPECT_EQ(all[1].offset, static_cast<int64_t>(4400 * kBlk));
    EXPECT_EQ(all[1].time, 1001200u);
    EXPECT_EQ(f.FindTimeAll(1000100).size(), 1u);
}

TEST(TimeSearch, RecordingsFarApartInAHugeSparseFile) {
    // 5 GiB with short recordings at 0, 2 GiB, 4 GiB and at the very end.
    TempDir dir;
    const uint64_t n = (5ull << 30) / kBlk;
    SparseRecording rec(dir.File("big.qzf"), n, false);
    const uint64_t starts[4] = {0, (2ull << 30) / kBlk, (4ull << 30) / kBlk, n - 64};
    for (int c = 0; c < 4; ++c) {
        for (uint64_t b = 0; b < 64; ++b) {
            rec.Put(starts[c] + b,
                    1000000 + static_cast<uint32_t>(c) * 10000 + static_cast<uint32_t>(b));
        }
    }
    CStreamFile f;
    ASSERT_EQ(f.Open(rec.Path(), 0), 1);
    for (int c = 0; c < 4; ++c) {
        const uint32_t base = 1000000 + static_cast<uint32_t>(c) * 10000;
        uint32_t got = 0;
        EXPECT_EQ(f.FindTime(base + 17, &got), static_cast<int64_t>((starts[c] + 17) * kBlk));
        EXPECT_EQ(got, base + 17);
        // Between recordings: the start of the next one.
        if (c > 0) {
            EXPECT_EQ(f.FindTime(base - 5000), static_cast<int64_t>(starts[c] * kBlk));
        }
    }
    EXPECT_EQ(f.FindTime(1040000), -1);
}
