#include "review/activity_scanner.h"

#include "media/qzf_block.h"
#include "platform/system.h"
#include "review/source_file.h"
#include "video/bit_reader.h"
#include "video/video_tables.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace tv {

namespace {

constexpr size_t kRun = 4u << 20; // bytes read at a time
constexpr size_t kMaxCarry = 4u * kMaxPacketSize;
constexpr char kStateMagic[8] = {'T', 'V', 'S', 'C', 'A', 'N', '0', '1'};
constexpr size_t kSecondBytes = 4 + 2 + 8 + kActivityChannels;
constexpr size_t kSpanBytes = 4 + 4 + 8;
constexpr size_t kMarkBytes = 8 + 4 + 8;
constexpr size_t kChannelHead = 3 + 4 + 4 * 5;
constexpr int kMaxCols = 2 * CVideoDecoder::kMaxWidth / 16;
constexpr int kMaxRows = 2 * CVideoDecoder::kMaxHeight / 16;
// The window after a run: an open packet at most kMaxCarry long (or the last
// bytes of one that was dropped) and the rest of its last block.
constexpr size_t kMaxWindow = kMaxCarry + kQzfPayloadSize;

class CStateWriter {
public:
    explicit CStateWriter(std::vector<uint8_t>* out) : m_out(out) {}
    template <typename T> void Put(T v) { Bytes(&v, sizeof(v)); }
    void Bytes(const void* p, size_t n) {
        if (n == 0)
            return;
        const auto* b = static_cast<const uint8_t*>(p);
        m_out->insert(m_out->end(), b, b + n);
    }

private:
    std::vector<uint8_t>* m_out;
};

class CStateReader {
public:
    CStateReader(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
    template <typename T> bool Get(T* v) { return Bytes(v, sizeof(T)); }
    bool Bytes(void* v, size_t n) {
        if (n > m_n - m_at)
            return false;
        // A channel without a picture has no cells, and its empty buffers
        // no address: memcpy must not be handed that even for no bytes.
        if (n != 0)
            std::memcpy(v, m_p + m_at, n);
        m_at += n;
        return true;
    }
    // A count of records of the given size that the rest can hold.
    bool Count(size_t record, size_t limit, size_t* n) {
        uint64_t v = 0;
        if (!Get(&v) || v > limit || v > (m_n - m_at) / record)
            return false;
        *n = size_t(v);
        return true;
    }
    bool AtEnd() const { return m_at == m_n; }

private:
    const uint8_t* m_p;
    size_t m_n;
    size_t m_at = 0;
};

// Reads the DC term of one block and steps over its coefficients. False on
// a code the decoder would refuse.
inline bool SkipBlock(CBitReader& br, int* dc) {
    br.Refill();
    *dc = int(br.ReadValid(8));
    int k = 0;
    for (;;) {
        ++k;
        br.Refill();
        const FastCoeff& f = kFastCoeffs.e[br.PeekValid(kFastBits)];
        int run;
        if (f.run < 64) {
            br.SkipValid(f.length);
            run = f.run;
        } else if (f.run == kFastEob) {
            br.SkipValid(f.length);
            return true;
        } else if (f.run == kFastEscape) {
            br.SkipValid(f.length);
            run = int(br.ReadValid(6));
            const int l = int(br.ReadValid(8));
            if (l == 0 || l == 128)
                br.SkipValid(8);
        } else {
            const unsigned v = br.PeekValid(16);
            if (v < 16)
                return false;
            const CoeffEntry& e = LookupCoeff(v);
            if (e.kind != kCoeffRunLevel)
                return false;
            br.SkipValid(e.length + 1);
            run = e.run;
        }
        k += run;
        if (k >= 64)
            return false;
    }
}

} // namespace

CActivityScanner::CActivityScanner() = default;

void CActivityScanner::Configure(const ActivityScanOptions& options) {
    m_format = options.format;
    m_diskOrder = options.disk;
    m_bias = GetTimeZoneBias();
    m_decoder.SetMode(options.format);
}

void CActivityScanner::Reset(const CActivityIndex& base) {
    m_entries = base.Seconds();
    m_byTime.clear();
    for (size_t i = 0; i < m_entries.size(); ++i)
        m_byTime[m_entries[i].time] = i;
    m_spans.clear();
    m_haveBlock = false;
    m_blockOffset = 0;
    for (Channel& c : m_channels)
        c = Channel{};
    m_window.clear();
    m_marks.clear();
    m_markAt = 0;
    m_scan = 2;
    m_packet = -1;
}

size_t CActivityScanner::EntryFor(uint32_t time, uint64_t offset) {
    auto it = m_byTime.find(time);
    if (it != m_byTime.end())
        return it->second;
    ActivitySecond s;
    s.time = time;
    s.offset = offset;
    m_entries.push_back(s);
    m_byTime.emplace(time, m_entries.size() - 1);
    return m_entries.size() - 1;
}

int CActivityScanner::Scan(const std::string& path, const ActivityScanOptions& options,
                           uint64_t from, CActivityIndex* index, const std::atomic<bool>* cancel,
                           const Progress& progress, std::string* error, uint64_t to) {
    CSourceFile src;
    if (!src.Open(path)) {
        if (error)
            *error = src.GetErrorText();
        return 0;
    }
    Configure(options);
    Reset(*index);
    const uint64_t size = std::min(src.GetSize(), to) / kQzfBlockSize * kQzfBlockSize;
    m_next = std::min(from / kQzfBlockSize * kQzfBlockSize, size);
    const int result = Run(src, size, cancel, progress, error);
    Finish(index, result == 1);
    return result;
}

int CActivityScanner::Resume(const std::string& path, const ActivityScanOptions& options,
                             CActivityIndex* index, const std::atomic<bool>* cancel,
                             const Progress& progress, std::string* error) {
    CSourceFile src;
    if (!src.Open(path)) {
        if (error)
            *error = src.GetErrorText();
        return 0;
    }
    if (options.format != m_format || options.disk != m_diskOrder) {
        if (error)
            *error = "the scan to resume was made with other options";
        return 0;
    }
    const uint64_t size = src.GetSize() / kQzfBlockSize * kQzfBlockSize;
    if (size < m_next) {
        if (error)
            *error = path + " is shorter than its activity index";
        return 0;
    }
    const int result = Run(src, size, cancel, progress, error);
    Finish(index, result == 1);
    return result;
}

int CActivityScanner::Run(CSourceFile& src, uint64_t size, const std::atomic<bool>* cancel,
                          const Progress& progress, std::string* error) {
    std::vector<uint8_t> run(kRun);
    m_window.reserve(kMaxCarry + kRun);
    while (m_next < size) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
            if (error)
                *error = "cancelled";
            return 0;
        }
        const uint64_t off = m_next;
        const size_t want = size_t(std::min<uint64_t>(kRun, size - off));
        size_t got = 0;
        if (src.ReadAt(off, run.data(), want, &got) && got == want) {
            for (size_t b = 0; b < want; b += kQzfBlockSize)
                Block(run.data() + b, off + b);
        } else {
            // A disk with bad sectors: read what can be read, block by block.
            for (size_t b = 0; b < want; b += kQzfBlockSize) {
                size_t one = 0;
                if (src.ReadAt(off + b, run.data(), kQzfBlockSize, &one) && one == kQzfBlockSize)
                    Block(run.data(), off + b);
                else
                    BadBlock();
            }
        }
        ScanWindow();
        Compact();
        m_next = off + want;
        if (progress)
            progress(m_next, size);
    }
    return 1;
}

void CActivityScanner::Finish(CActivityIndex* index, bool complete) {
    // The end of what was read closes the last packet and second only in the
    // index handed out: the state stays as it was so that a recording that
    // has grown since goes on from it as if it had been read whole.
    const std::vector<ActivitySecond> entries = m_entries;
    std::vector<Channel> channels(m_channels, m_channels + kActivityChannels);
    const long packet = m_packet;
    const size_t markAt = m_markAt;
    if (complete && m_packet >= 0) {
        while (m_markAt + 1 < m_marks.size() && m_marks[m_markAt + 1].pos <= size_t(m_packet))
            ++m_markAt;
        if (!m_marks.empty() && m_window.size() - size_t(m_packet) <= kMaxCarry)
            Picture(m_window.data() + m_packet, m_window.size() - size_t(m_packet),
                    m_marks[m_markAt].time);
    }
    for (int c = 0; c < kActivityChannels; ++c)
        if (m_channels[c].haveSecond)
            Finalise(m_channels[c], c);
    Snapshot(index);
    index->SetScannedBytes(m_next);
    m_entries = entries;
    std::move(channels.begin(), channels.end(), m_channels);
    m_packet = packet;
    m_markAt = markAt;
}

void CActivityScanner::GetIndex(CActivityIndex* out) {
    Finish(out, true);
}

void CActivityScanner::Snapshot(CActivityIndex* out) const {
    std::vector<ActivitySecond>& s = out->MutableSeconds();
    s = m_entries;
    for (const Span& span : m_spans) {
        const auto a = m_byTime.find(span.from);
        const auto b = m_byTime.find(span.to);
        const uint16_t present = a != m_byTime.end() && b != m_byTime.end()
                                     ? m_entries[a->second].present & m_entries[b->second].present
                                     : 0;
        for (uint32_t t = span.from + 1; t < span.to; ++t) {
            if (m_byTime.count(t) != 0)
                continue;
            ActivitySecond x;
            x.time = t;
            x.present = present;
            x.offset = span.offset;
            s.push_back(x);
        }
    }
    // A second covered twice (a disk that wrapped round) keeps what came first.
    std::stable_sort(s.begin(), s.end(), [](const ActivitySecond& a, const ActivitySecond& b) {
        return a.time < b.time;
    });
    s.erase(std::unique(
                s.begin(), s.end(),
                [](const ActivitySecond& a, const ActivitySecond& b) { return a.time == b.time; }),
            s.end());
}

void CActivityScanner::Block(const uint8_t* raw, uint64_t offset) {
    uint8_t head[kQzfHeaderSize];
    std::memcpy(head, raw, kQzfHeaderSize);
    QzfBlockHeader h;
    // Disk order swaps every 16-bit word, the header's included.
    const bool swapped = m_diskOrder;
    if (swapped)
        SwapWords(head, kQzfHeaderSize);
    if (!DecodeRecordingHeader(head, m_format, m_bias, &h)) {
        BadBlock();
        return;
    }
    if (!m_haveBlock || h.time != m_blockTime) {
        if (m_haveBlock && h.time > m_blockTime + 1 && h.time - m_blockTime <= kMaxBlockSpan)
            m_spans.push_back(Span{m_blockTime, h.time, m_blockOffset});
        m_blockEntry = EntryFor(h.time, offset);
        m_blockTime = h.time;
        m_haveBlock = true;
    }
    m_blockOffset = offset;
    const size_t at = m_window.size();
    m_window.resize(at + kQzfPayloadSize);
    std::memcpy(m_window.data() + at, raw + kQzfHeaderSize, kQzfPayloadSize);
    if (swapped)
        SwapWords(m_window.data() + at, kQzfPayloadSize);
    m_marks.push_back(Mark{at, h.time, offset});
}

void CActivityScanner::BadBlock() {
    // The packet in progress lost its continuation: drop it.
    ScanWindow();
    m_window.clear();
    m_marks.clear();
    m_markAt = 0;
    m_scan = 2;
    m_packet = -1;
    m_haveBlock = false;
}

void CActivityScanner::ScanWindow() {
    const uint8_t* w = m_window.data();
    const size_t n = m_window.size();
    size_t q = std::max<size_t>(m_scan, 2);
    while (q + 1 < n) {
        const void* f = std::memchr(w + q, 0x01, n - 1 - q);
        if (f == nullptr) {
            q = n - 1;
            break;
        }
        q = size_t(static_cast<const uint8_t*>(f) - w);
        if (w[q - 1] == 0 && w[q - 2] == 0 && IsPacketCode(w[q + 1])) {
            const size_t start = q - 2;
            if (m_packet >= 0) {
                while (m_markAt + 1 < m_marks.size() &&
                       m_marks[m_markAt + 1].pos <= size_t(m_packet))
                    ++m_markAt;
                // A packet too long to be a picture is skipped whether or not
                // it was dropped from the window already, so that where the
                // reads happen to end never changes the index.
                if (w[m_packet + 3] <= kKeyVideoCode && !m_marks.empty() &&
                    start - size_t(m_packet) <= kMaxCarry)
                    Picture(w + m_packet, start - size_t(m_packet), m_marks[m_markAt].time);
            }
            m_packet = long(start);
            q += 2;
            continue;
        }
        ++q;
    }
    m_scan = std::max<size_t>(q, 2);
}

void CActivityScanner::Compact() {
    size_t keep;
    if (m_packet >= 0 && m_window.size() - size_t(m_packet) <= kMaxCarry) {
        keep = size_t(m_packet);
    } else {
        // No packet open, or one too long to be a picture: keep only what a
        // start code split at the end of the window needs.
        m_packet = -1;
        keep = m_window.size() > 3 ? m_window.size() - 3 : 0;
    }
    if (keep == 0)
        return;
    m_window.erase(m_window.begin(), m_window.begin() + long(keep));
    // The mark of the block that holds the first kept byte, and those after.
    size_t first = 0;
    while (first + 1 < m_marks.size() && m_marks[first + 1].pos <= keep)
        ++first;
    m_marks.erase(m_marks.begin(), m_marks.begin() + long(first));
    for (Mark& m : m_marks)
        m.pos = m.pos > keep ? m.pos - keep : 0;
    m_markAt = 0;
    m_scan = m_scan > keep ? m_scan - keep : 2;
    if (m_packet >= 0)
        m_packet -= long(keep);
}

void CActivityScanner::Picture(const uint8_t* p, size_t n, uint32_t time) {
    if (n > size_t(kMaxPacketSize))
        n = kMaxPacketSize;
    // Most key pictures need not be read at all: a look at the header byte
    // spares them the search for their slices.
    if (m_format != VF_QZB3 && n > 5 && (p[3] == kVideoCode || p[3] == kKeyVideoCode)) {
        const uint8_t b4 = p[4];
        int c;
        bool key;
        int q;
        if (m_format == VF_QZF || m_format == VF_QZD) {
            c = m_format == VF_QZD || (b4 & 7) >= 4 ? 0 : (b4 & 7);
            key = (b4 & 0x80) != 0;
            q = (b4 >> 3) & 0xF;
        } else {
            c = b4 & 0xF;
            key = p[3] == kKeyVideoCode;
            q = b4 >> 4;
        }
        Channel& st = m_channels[c];
        if (key && q != 15 && st.valid && st.sawUpdate &&
            !BeginChannel(st, c, time, true, st.cols, st.rows))
            return;
    }
    if (!m_decoder.ParseHeader(p, int(n)))
        return;
    const int mbCols = m_decoder.GetWidth() / 16;
    const int mbRows = m_decoder.GetHeight() / 16;
    const bool key = m_decoder.IsKeyPicture() != 0;
    Target targets[2];
    int count = 0;
    if (m_decoder.IsDualPicture()) {
        const int half = mbCols / 2;
        if (!m_decoder.IsLeftAbsent()) {
            const int c = m_decoder.GetLeftChannel() & 15;
            targets[count++] = Target{&m_channels[c], c, 0, false};
        }
        if (!m_decoder.IsRightAbsent()) {
            const int c = m_decoder.GetRightChannel() & 15;
            if (count == 0 || targets[0].index != c)
                targets[count++] = Target{&m_channels[c], c, half, false};
        }
        for (int i = 0; i < count; ++i)
            targets[i].parse =
                BeginChannel(*targets[i].ch, targets[i].index, time, key, half * 2, mbRows * 2);
    } else {
        const int c = m_decoder.GetChannel() & 15;
        targets[count++] = Target{&m_channels[c], c, 0, false};
        targets[0].parse = BeginChannel(m_channels[c], c, time, key, mbCols * 2, mbRows * 2);
    }
    bool any = false;
    for (int i = 0; i < count; ++i)
        any = any || targets[i].parse;
    if (!any)
        return;
    const bool ok = ParseSlices(p, n, targets, count, mbCols, mbRows);
    for (int i = 0; i < count; ++i) {
        Channel& st = *targets[i].ch;
        if (!targets[i].parse)
            continue;
        if (!st.valid && key && ok) {
            // The first picture of a channel is what later ones are measured against.
            st.ref = st.cur;
            st.valid = true;
        }
    }
}

bool CActivityScanner::BeginChannel(Channel& st, int index, uint32_t time, bool key, int cols,
                                    int rows) {
    if (st.cols != cols || st.rows != rows) {
        if (st.haveSecond)
            Finalise(st, index);
        st = Channel{};
        st.cols = cols;
        st.rows = rows;
        st.cur.assign(size_t(cols) * rows, 0);
        st.ref = st.cur;
        st.flag = st.cur;
    }
    if (st.haveSecond && time != st.second) {
        Finalise(st, index);
        if (time < st.second || time > st.second + kMaxTimeJump)
            st.valid = false;
    }
    if (!st.haveSecond || time != st.second) {
        st.second = time;
        st.haveSecond = true;
        st.changed = 0;
        std::fill(st.flag.begin(), st.flag.end(), 0);
        if (st.valid)
            st.ref = st.cur;
    }
    auto it = m_byTime.find(time);
    if (it != m_byTime.end())
        m_entries[it->second].present |= uint16_t(1u << index);
    if (key) {
        const bool parse = !st.valid || !st.sawUpdate;
        st.sawUpdate = false;
        return parse;
    }
    if (!st.valid)
        return false;
    st.sawUpdate = true;
    return true;
}

void CActivityScanner::Finalise(Channel& st, int index) {
    auto it = m_byTime.find(st.second);
    const int total = st.cols * st.rows;
    if (it != m_byTime.end() && total > 0) {
        const int level = int(std::lround(255.0 * st.changed / total));
        uint8_t& l = m_entries[it->second].level[index];
        l = uint8_t(std::max<int>(l, std::min(level, 255)));
    }
    st.haveSecond = false;
}

bool CActivityScanner::ParseSlices(const uint8_t* p, size_t n, Target* targets, int count,
                                   int mbCols, int mbRows) {
    const bool key = m_decoder.IsKeyPicture() != 0;
    const int slices =
        int(std::min(m_decoder.GetSliceCount(), unsigned(CVideoDecoder::kMaxSlices)));
    const int half = mbCols / 2;
    Channel* single = count == 1 && !m_decoder.IsDualPicture() && !key ? targets[0].ch : nullptr;
    const int stride = single != nullptr ? single->stride : 1;
    const int phase = single != nullptr ? single->phase : 0;
    int coded = 0;
    int rows = 0;
    for (int s = 0; s < slices; ++s) {
        CBitReader br(p, n, m_decoder.GetSliceOffset(s));
        if (br.Read(24) != 1)
            return false;
        const int row = int(br.Read(5));
        if (row >= mbRows)
            return false;
        if (row % stride != phase)
            continue;
        ++rows;
        for (int c = 0; c < mbCols; ++c) {
            unsigned cbp = 0xF;
            if (!key) {
                br.Refill();
                const int increment = int(br.ReadValid(6));
                if (increment == 0)
                    break;
                c += increment - 1;
                if (c >= mbCols)
                    return false;
                cbp = br.ReadValid(4);
            }
            ++coded;
            // Which channel this macroblock belongs to.
            Target* t = nullptr;
            int col = c;
            if (m_decoder.IsDualPicture()) {
                const int side = c >= half ? half : 0;
                for (int i = 0; i < count; ++i)
                    if (targets[i].colStart == side)
                        t = &targets[i];
                col = c - side;
            } else {
                t = &targets[0];
            }
            for (int b = 0; b < 6; ++b) {
                if (b < 4 && !(cbp & (1u << b)))
                    continue;
                int dc;
                if (!SkipBlock(br, &dc))
                    return false;
                if (b >= 4 || t == nullptr || !t->parse)
                    continue;
                Channel& st = *t->ch;
                const size_t idx =
                    size_t(2 * row + (b >> 1)) * size_t(st.cols) + size_t(2 * col + (b & 1));
                if (st.valid && !st.flag[idx] && std::abs(dc - int(st.ref[idx])) > kDcDelta) {
                    st.flag[idx] = 1;
                    ++st.changed;
                }
                st.cur[idx] = uint8_t(dc);
            }
        }
    }
    if (single != nullptr && rows > 0) {
        single->stride = coded * 4 >= rows * mbCols * 3 ? kNoisyStride : 1;
        single->phase = single->stride > 1 ? (phase + 1) % single->stride : 0;
    }
    return true;
}

uint64_t CActivityScanner::MaxStateBytes(uint64_t recordingBytes) {
    // Every good block can open a second and a span, and holds the marks of
    // the window; each channel keeps three maps of its blocks.
    const uint64_t blocks = recordingBytes / kQzfBlockSize + 1;
    return 256 + blocks * (kSecondBytes + kSpanBytes) +
           kActivityChannels * (kChannelHead + 3 * uint64_t(kMaxCols) * kMaxRows) + kMaxWindow +
           (kMaxWindow / kQzfPayloadSize + 2) * kMarkBytes;
}

void CActivityScanner::SaveState(std::vector<uint8_t>* out) const {
    out->clear();
    CStateWriter w(out);
    w.Bytes(kStateMagic, sizeof(kStateMagic));
    w.Put(int32_t(m_format));
    w.Put(uint8_t(m_diskOrder ? 1 : 0));
    w.Put(int64_t(m_bias));
    w.Put(uint64_t(m_next));
    w.Put(uint64_t(m_entries.size()));
    for (const ActivitySecond& e : m_entries) {
        w.Put(e.time);
        w.Put(e.present);
        w.Put(e.offset);
        w.Bytes(e.level, kActivityChannels);
    }
    w.Put(uint64_t(m_spans.size()));
    for (const Span& x : m_spans) {
        w.Put(x.from);
        w.Put(x.to);
        w.Put(x.offset);
    }
    w.Put(uint8_t(m_haveBlock ? 1 : 0));
    w.Put(m_blockTime);
    w.Put(uint64_t(m_blockEntry));
    w.Put(m_blockOffset);
    for (const Channel& c : m_channels) {
        w.Put(uint8_t(c.valid));
        w.Put(uint8_t(c.haveSecond));
        w.Put(uint8_t(c.sawUpdate));
        w.Put(c.second);
        w.Put(int32_t(c.cols));
        w.Put(int32_t(c.rows));
        w.Put(int32_t(c.changed));
        w.Put(int32_t(c.stride));
        w.Put(int32_t(c.phase));
        w.Bytes(c.cur.data(), c.cur.size());
        w.Bytes(c.ref.data(), c.ref.size());
        w.Bytes(c.flag.data(), c.flag.size());
    }
    w.Put(uint64_t(m_window.size()));
    w.Bytes(m_window.data(), m_window.size());
    w.Put(uint64_t(m_marks.size()));
    for (const Mark& m : m_marks) {
        w.Put(uint64_t(m.pos));
        w.Put(m.time);
        w.Put(m.offset);
    }
    w.Put(uint64_t(m_markAt));
    w.Put(uint64_t(m_scan));
    w.Put(int64_t(m_packet));
}

bool CActivityScanner::RestoreState(const uint8_t* p, size_t n,
                                    const ActivityScanOptions& options) {
    Configure(options);
    Reset(CActivityIndex{});
    m_next = 0;
    CStateReader r(p, n);
    char magic[sizeof(kStateMagic)];
    int32_t format = 0;
    uint8_t disk = 0;
    int64_t bias = 0;
    uint64_t next = 0;
    size_t count = 0;
    if (!r.Bytes(magic, sizeof(magic)) || std::memcmp(magic, kStateMagic, sizeof(magic)) != 0 ||
        !r.Get(&format) || !r.Get(&disk) || !r.Get(&bias) || !r.Get(&next) ||
        format != options.format || (disk != 0) != options.disk || bias != m_bias ||
        next % kQzfBlockSize != 0 || !r.Count(kSecondBytes, SIZE_MAX, &count))
        return false;
    m_entries.resize(count);
    for (size_t i = 0; i < count; ++i) {
        ActivitySecond& e = m_entries[i];
        if (!r.Get(&e.time) || !r.Get(&e.present) || !r.Get(&e.offset) ||
            !r.Bytes(e.level, kActivityChannels) || !m_byTime.emplace(e.time, i).second)
            return false;
    }
    if (!r.Count(kSpanBytes, SIZE_MAX, &count))
        return false;
    m_spans.resize(count);
    for (Span& x : m_spans)
        if (!r.Get(&x.from) || !r.Get(&x.to) || !r.Get(&x.offset) || x.to < x.from ||
            x.to - x.from > kMaxBlockSpan)
            return false;
    uint8_t haveBlock = 0;
    uint64_t blockEntry = 0;
    if (!r.Get(&haveBlock) || !r.Get(&m_blockTime) || !r.Get(&blockEntry) ||
        !r.Get(&m_blockOffset) || (haveBlock != 0 && blockEntry >= m_entries.size()))
        return false;
    m_haveBlock = haveBlock != 0;
    m_blockEntry = size_t(blockEntry);
    for (Channel& c : m_channels) {
        uint8_t flags[3];
        int32_t v[5];
        if (!r.Bytes(flags, 3) || !r.Get(&c.second))
            return false;
        for (int32_t& x : v)
            if (!r.Get(&x))
                return false;
        c.valid = flags[0] != 0;
        c.haveSecond = flags[1] != 0;
        c.sawUpdate = flags[2] != 0;
        c.cols = v[0];
        c.rows = v[1];
        c.changed = v[2];
        c.stride = v[3];
        c.phase = v[4];
        if (c.cols < 0 || c.cols > kMaxCols || c.rows < 0 || c.rows > kMaxRows ||
            (c.cols == 0) != (c.rows == 0) || (c.stride != 1 && c.stride != kNoisyStride) ||
            c.phase < 0 || c.phase >= c.stride || c.changed < 0 || c.changed > c.cols * c.rows)
            return false;
        const size_t cells = size_t(c.cols) * size_t(c.rows);
        c.cur.resize(cells);
        c.ref.resize(cells);
        c.flag.resize(cells);
        if (!r.Bytes(c.cur.data(), cells) || !r.Bytes(c.ref.data(), cells) ||
            !r.Bytes(c.flag.data(), cells))
            return false;
    }
    if (!r.Count(1, kMaxWindow, &count))
        return false;
    m_window.resize(count);
    if (!r.Bytes(m_window.data(), count) || !r.Count(kMarkBytes, SIZE_MAX, &count))
        return false;
    m_marks.resize(count);
    size_t last = 0;
    for (Mark& m : m_marks) {
        uint64_t pos = 0;
        if (!r.Get(&pos) || !r.Get(&m.time) || !r.Get(&m.offset) || pos < last ||
            pos > m_window.size())
            return false;
        m.pos = last = size_t(pos);
    }
    uint64_t markAt = 0;
    uint64_t scan = 0;
    int64_t packet = 0;
    if (!r.Get(&markAt) || !r.Get(&scan) || !r.Get(&packet) || !r.AtEnd() ||
        (markAt != 0 && markAt >= m_marks.size()) || scan < 2 ||
        scan > std::max<size_t>(m_window.size(), 2) || packet < -1 ||
        (packet >= 0 && (m_marks.empty() || uint64_t(packet) + 4 > m_window.size())))
        return false;
    m_markAt = size_t(markAt);
    m_scan = size_t(scan);
    m_packet = long(packet);
    m_next = next;
    return true;
}

} // namespace tv
