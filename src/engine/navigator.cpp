#include "engine/navigator.h"

#include "engine/playback_rules.h"
#include "video/dual_picture.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tv {

namespace {

// A second of eight channels is well within this.
constexpr uint64_t kSecondReach = 8ull << 20;

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool Late(int64_t deadlineUs) {
    return deadlineUs != 0 && NowUs() > deadlineUs;
}

// The channels a parsed picture shows.
uint32_t ChannelsOf(const CVideoDecoder& d) {
    if (!d.IsDualPicture()) {
        return 1u << (d.GetChannel() & 15);
    }
    uint32_t m = d.IsLeftAbsent() ? 0 : 1u << (d.GetLeftChannel() & 15);
    return m | (d.IsRightAbsent() ? 0 : 1u << (d.GetRightChannel() & 15));
}

uint32_t ChannelsOf(const PictureInfo& info) {
    if (!info.dual.dual) {
        return 1u << (info.channel & 15);
    }
    uint32_t m = info.dual.leftAbsent ? 0 : 1u << (info.dual.leftChannel & 15);
    return m | (info.dual.rightAbsent ? 0 : 1u << (info.dual.rightChannel & 15));
}

} // namespace

CNavigator::CNavigator()
    : m_packet(new uint8_t[kEnginePacketSize]), m_scan(new uint8_t[kEnginePacketSize]),
      m_half(new uint8_t[2 * size_t(kEngineHalfPictureSize)]) {}

CNavigator::~CNavigator() = default;

int CNavigator::HoldsRecording(const std::string& path, int diskMode, int videoFormat) {
    CStreamFile probe;
    if (!probe.Open(path, diskMode)) {
        return 0;
    }
    probe.SetFormat(videoFormat);
    const uint64_t blocks = probe.GetBlockCount();
    constexpr uint64_t kFirst = 16;
    constexpr uint64_t kSpread = 48;
    QzfBlockHeader h;
    for (uint64_t b = 0; b < std::min(blocks, kFirst); ++b) {
        if (probe.ReadBlockHeaderAt(b, &h) == 1) {
            return 1;
        }
    }
    for (uint64_t i = 0; blocks > kFirst && i < kSpread; ++i) {
        if (probe.ReadBlockHeaderAt(kFirst + (blocks - kFirst) * i / kSpread, &h) == 1) {
            return 1;
        }
    }
    return 0;
}

void CNavigator::SetSource(const std::string& path, int diskMode, int videoFormat) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_file.Close();
    m_path = path;
    m_diskMode = diskMode;
    m_format = videoFormat;
    m_decoder.SetMode(videoFormat);
    m_pictures.Reset();
}

bool CNavigator::OpenReader() {
    if (m_path.empty() || !m_file.Open(m_path, m_diskMode)) {
        return false;
    }
    m_file.SetFormat(m_format);
    return true;
}

uint32_t CNavigator::FirstChannelMask() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!OpenReader()) {
        return 0;
    }
    // A few bad blocks at the start are skipped; a long search is not worth
    // it for choosing a page.
    QzfBlockHeader header{};
    for (uint64_t block = 0; block < 64; ++block) {
        const int r = m_file.ReadBlockHeaderAt(block, &header);
        if (r < 0) {
            break;
        }
        if (r > 0 && (header.channelMask & 0xFFFF) != 0) {
            return header.channelMask & 0xFFFF;
        }
    }
    return 0;
}

int CNavigator::FindTime(uint32_t utc, TimePlace* out) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!BeginTimeSearch(out)) {
        return 0;
    }
    out->offset = m_file.FindTime(utc, &out->found);
    return 1;
}

int CNavigator::FindTime(const SYSTEMTIME& local, TimePlace* out) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!BeginTimeSearch(out)) {
        return 0;
    }
    out->offset = m_file.FindTime(local, &out->found);
    return 1;
}

bool CNavigator::BeginTimeSearch(TimePlace* out) {
    *out = TimePlace{};
    if (!OpenReader()) {
        return false;
    }
    out->timeBias = m_file.GetTimeZoneBias();
    uint32_t first = 0;
    if (m_file.FindTime(0u, &first) >= 0) {
        out->first = first;
    }
    return true;
}

int64_t CNavigator::FindChannelPicture(int channel, uint64_t from, uint32_t second) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!OpenReader()) {
        return -1;
    }
    m_file.SetPosition(from);
    uint8_t* packet = m_packet.get();
    while (m_file.GetPosition() < from + kSecondReach) {
        const uint64_t before = m_file.GetPosition();
        const int n = m_file.ReadForward(packet);
        if (n <= 0) {
            if (m_file.GetPosition() == before ||
                m_file.GetPosition() + kQzfBlockSize > m_file.GetSize()) {
                break;
            }
            continue;
        }
        if (m_file.GetPacketTimeUtc() > second) {
            break;
        }
        if (m_file.IsAudio() || m_file.GetPacketOffset() < from ||
            m_file.GetPacketTimeUtc() < second || !m_decoder.ParseHeader(packet, n)) {
            continue;
        }
        const bool ours = m_decoder.IsDualPicture() ? m_decoder.GetLeftChannel() == channel ||
                                                          m_decoder.GetRightChannel() == channel
                                                    : m_decoder.GetChannel() == channel;
        if (ours) {
            return static_cast<int64_t>(m_file.GetPacketOffset());
        }
    }
    return -1;
}

bool CNavigator::DecodeTrue(const uint8_t* packet, int length, const PictureInfo& info) {
    const int stream = CChannelPictures::StreamOf(m_decoder);
    if (!m_decoder.IsKeyPicture() && !m_pictures.IsTrue(stream)) {
        return false;
    }
    uint8_t* picture = m_pictures.For(m_decoder);
    if (picture == nullptr || m_decoder.Decode(packet, length, picture, kEnginePictureSize) == 0) {
        m_pictures.SetTrue(stream, false);
        return false;
    }
    m_pictures.SetTrue(stream, true);
    m_pictures.SetInfo(stream, info);
    return true;
}

// The key-picture search goes as the playback loop's after a jump, stream by
// stream over every stream it meets, so that it stops where the loop's does
// and both find the same key pictures; only the streams asked for are decoded.
bool CNavigator::PrimeBefore(uint64_t target, uint32_t mask, int64_t deadlineUs) {
    if (target == 0 || target >= m_file.GetSize()) {
        return true;
    }
    uint8_t* scan = m_scan.get();
    bool seen[CChannelPictures::kStreams] = {};
    bool found[CChannelPictures::kStreams] = {};
    bool wanted[CChannelPictures::kStreams] = {};
    uint64_t key[CChannelPictures::kStreams] = {};
    const uint32_t recorded = static_cast<uint32_t>(m_file.GetChannelMask()) & 0xFFFF;
    uint32_t channelsSeen = 0;
    int failures = 0;
    int open = 0;
    m_file.SetPositionBefore(target);
    while (true) {
        if (Late(deadlineUs)) {
            return false;
        }
        const int n = m_file.ReadBackward(scan);
        if (n <= 0) {
            if (m_file.GetPosition() == 0 || ++failures > kSearchFailures ||
                target - m_file.GetPosition() > kKeySearchHard) {
                break;
            }
            continue;
        }
        const uint64_t offset = m_file.GetPacketOffset();
        const uint64_t back = target - std::min(target, offset);
        if (back > kKeySearchHard) {
            break;
        }
        if (m_file.IsAudio() || m_decoder.ParseHeader(scan, n) == 0) {
            continue;
        }
        const int s = CChannelPictures::StreamOf(m_decoder);
        if (!seen[s]) {
            seen[s] = true;
            ++open;
            channelsSeen |= ChannelsOf(m_decoder);
            wanted[s] = (ChannelsOf(m_decoder) & mask) != 0;
        }
        if (!found[s] && m_decoder.IsKeyPicture()) {
            found[s] = true;
            key[s] = offset;
            --open;
        }
        if (open == 0 && ((channelsSeen & recorded) == recorded || back > kKeySearchSoft)) {
            break;
        }
    }
    uint64_t from = target;
    for (int s = 0; s < CChannelPictures::kStreams; ++s) {
        if (found[s] && wanted[s]) {
            from = std::min(from, key[s]);
        }
    }
    if (from == target) {
        return true;
    }
    m_file.SetPosition(from);
    failures = 0;
    while (true) {
        if (Late(deadlineUs)) {
            return false;
        }
        const int n = m_file.ReadForward(scan);
        if (n <= 0) {
            // The packets of a skipped block are gone: what follows would be
            // decoded over pictures that lack them.
            m_pictures.Invalidate();
            if (++failures > kSearchFailures || m_file.GetPosition() >= target) {
                break;
            }
            continue;
        }
        const uint64_t offset = m_file.GetPacketOffset();
        if (offset >= target) {
            break;
        }
        if (m_file.IsAudio() || m_decoder.ParseHeader(scan, n) == 0) {
            continue;
        }
        const int s = CChannelPictures::StreamOf(m_decoder);
        if (!found[s] || !wanted[s] || offset < key[s]) {
            continue;
        }
        DecodeTrue(
            scan, n,
            PictureInfoOf(m_decoder, offset, m_file.GetPacketTime(), m_file.GetPacketFrameGap()));
    }
    return true;
}

bool CNavigator::TakeFirstKeys(uint64_t from, uint32_t missing, int64_t deadlineUs) {
    uint8_t* scan = m_scan.get();
    m_file.SetPosition(from);
    int failures = 0;
    while (missing != 0 && m_file.GetPosition() < from + kSecondReach) {
        if (Late(deadlineUs)) {
            return false;
        }
        const int n = m_file.ReadForward(scan);
        if (n <= 0) {
            if (++failures > kSearchFailures ||
                m_file.GetPosition() + kQzfBlockSize > m_file.GetSize()) {
                break;
            }
            continue;
        }
        if (m_file.IsAudio() || m_decoder.ParseHeader(scan, n) == 0 || !m_decoder.IsKeyPicture() ||
            (ChannelsOf(m_decoder) & missing) == 0) {
            continue;
        }
        const uint32_t channels = ChannelsOf(m_decoder);
        if (DecodeTrue(scan, n,
                       PictureInfoOf(m_decoder, m_file.GetPacketOffset(), m_file.GetPacketTime(),
                                     m_file.GetPacketFrameGap()))) {
            missing &= ~channels;
        }
    }
    return true;
}

int CNavigator::PicturesAt(uint64_t offset, uint16_t mask, int budgetMs,
                           std::vector<NavPicture>* out) {
    std::lock_guard<std::mutex> lock(m_lock);
    out->clear();
    const int64_t deadline = budgetMs > 0 ? NowUs() + int64_t(budgetMs) * 1000 : 0;
    if (mask == 0 || !OpenReader() || !m_file.SetSeekTarget(offset)) {
        return 0;
    }
    uint8_t* packet = m_packet.get();
    const int length = m_file.ReadAtSeekTarget(packet);
    if (length <= 0) {
        return 0;
    }
    const uint64_t place = m_file.GetPacketOffset();
    const uint64_t after = m_file.GetPosition();
    const SYSTEMTIME time = m_file.GetPacketTime();
    const int gap = m_file.GetPacketFrameGap();
    m_pictures.Invalidate();
    if (!PrimeBefore(place, mask, deadline)) {
        return 0;
    }
    uint32_t present = 0;
    if (m_decoder.ParseHeader(packet, length) != 0 && (ChannelsOf(m_decoder) & mask) != 0) {
        DecodeTrue(packet, length, PictureInfoOf(m_decoder, place, time, gap));
    }
    for (int s = 0; s < CChannelPictures::kStreams; ++s) {
        if (m_pictures.IsTrue(s)) {
            present |= ChannelsOf(m_pictures.Info(s));
        }
    }
    if ((mask & ~present) != 0 && !TakeFirstKeys(after, mask & ~present, deadline)) {
        return 0;
    }
    for (int c = 0; c < 16; ++c) {
        if ((mask & (1u << c)) == 0) {
            continue;
        }
        // The newest true picture holding the channel at the place, alone or
        // in a pair (the packet at the place, when it holds it, is the newest
        // of all); else the first one after it.
        int best = -1;
        bool bestAhead = false;
        for (int s = 0; s < CChannelPictures::kStreams; ++s) {
            if (!m_pictures.IsTrue(s) || (ChannelsOf(m_pictures.Info(s)) & (1u << c)) == 0) {
                continue;
            }
            const uint64_t at = m_pictures.Info(s).offset;
            const bool ahead = at > place;
            if (best < 0 || (bestAhead && !ahead) ||
                (bestAhead == ahead &&
                 (ahead ? at < m_pictures.Info(best).offset : at > m_pictures.Info(best).offset))) {
                best = s;
                bestAhead = ahead;
            }
        }
        if (best < 0) {
            continue;
        }
        const PictureInfo& info = m_pictures.Info(best);
        NavPicture p;
        p.channel = c;
        p.ahead = bestAhead;
        p.offset = info.offset;
        p.time = info.time;
        p.height = info.height;
        const uint8_t* picture = m_pictures.Buffer(best);
        if (info.dual.dual) {
            p.width = info.width / 2;
            uint8_t* left = m_half.get();
            uint8_t* right = left + kEngineHalfPictureSize;
            SplitDualPicture(picture, info.width, info.height, left, right);
            picture = c == (info.dual.leftChannel & 15) && !info.dual.leftAbsent ? left : right;
        } else {
            p.width = info.width;
        }
        const size_t bytes = size_t(p.width) * size_t(p.height) * 3 / 2;
        p.yuv.assign(picture, picture + bytes);
        out->push_back(std::move(p));
    }
    return 1;
}

} // namespace tv
