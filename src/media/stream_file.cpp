#include "media/stream_file.h"

#include "platform/file_identity.h"
#include "platform/file_io.h"
#include "platform/notifier.h"
#include "platform/system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tv {

namespace {

constexpr uint64_t kBlock = kQzfBlockSize;
constexpr size_t kCacheBytes = 32 * kQzfBlockSize;
constexpr uint64_t kCopyLimit = 0x40000000; // 1 GiB

inline uint64_t BlockOf(uint64_t pos) {
    return pos & ~(kBlock - 1);
}

// Stream-byte steps: header bytes are not part of the stream.
uint64_t StreamBack(uint64_t pos, int n) {
    while (n-- > 0 && pos > 0) {
        --pos;
        if (pos % kBlock < kQzfHeaderSize) {
            if (BlockOf(pos) == 0) {
                return kQzfHeaderSize;
            }
            pos = BlockOf(pos) - 1;
        }
    }
    return pos;
}

uint64_t StreamForward(uint64_t pos, int n) {
    while (n-- > 0) {
        ++pos;
        if (pos % kBlock < kQzfHeaderSize) {
            pos = BlockOf(pos) + kQzfHeaderSize;
        }
    }
    return pos;
}

inline bool IsForwardStart(uint32_t r) {
    return (r & 0xFFFFFF00u) == 0x00000100u && IsPacketCode(static_cast<uint8_t>(r));
}
inline bool IsBackwardStart(uint32_t r) {
    return (r & 0x00FFFFFFu) == 0x00010000u && IsPacketCode(static_cast<uint8_t>(r >> 24));
}

} // namespace

CStreamFile::CStreamFile()
    : m_forward(kMaxPacketSize), m_backward(kMaxPacketSize), m_cache(kCacheBytes) {
    m_forward[0] = 0x00;
    m_forward[1] = 0x00;
    m_forward[2] = 0x01;
    m_forward[3] = kVideoCode;
}

CStreamFile::~CStreamFile() {
    Close();
}

int CStreamFile::Open(const std::string& path, int diskMode) {
    if (m_fd >= 0) {
        Close();
    }
    // Without O_NONBLOCK opening a named pipe waits for a writer forever, and
    // the caller is the user's thread; what has no size is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return 0;
    }
    m_channelMask = 0;
    m_audioChannelMask = 0;
    m_position = 0;
    struct stat st;
    bool sized = ::fstat(fd, &st) == 0;
    uint64_t size = 0;
    if (sized) {
        if (S_ISBLK(st.st_mode)) {
            uint64_t bytes = 0;
            sized = ::ioctl(fd, BLKGETSIZE64, &bytes) == 0;
            size = bytes;
        } else if (S_ISREG(st.st_mode)) {
            size = static_cast<uint64_t>(st.st_size);
        } else {
            sized = false; // pipes and the like have no size to play by
        }
    }
    if (!sized) {
        ShowMessageBox("Open Error");
        ::close(fd);
        return 0;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    m_fd = fd;
    m_size = size;
    m_regularFile = S_ISREG(st.st_mode);
    m_diskMode = diskMode ? 1 : 0;
    m_path = path;
    m_bias = tv::GetTimeZoneBias();
    m_cacheLen = 0;
    m_haveBlockTime = false;
    m_blockTime = 0;
    m_direction = 0;
    m_cutPacket = kNoCutPacket;
    ResetPacket();
    return 1;
}

void CStreamFile::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = -1;
    m_size = 0;
    m_position = 0;
    m_seekTarget = 0;
    m_path.clear();
    m_audioSeen = 0;
    m_channelMask = 0;
    m_cacheLen = 0;
    m_block = nullptr;
}

int CStreamFile::SetFormat(int videoFormat) {
    m_format = videoFormat;
    m_bigEndian = (videoFormat == VF_QZA) ? 1 : 0;
    return 1;
}

void CStreamFile::ResetPacket() {
    m_inPacket = 0;
    m_complete = 0;
    m_count = 0;
    m_total = 0;
    m_register = 0xFFFFFFFF;
    m_history = ~0ull;
}

const uint8_t* CStreamFile::LoadBlock(uint64_t blockStart, bool forward, BlockStatus* st) {
    if (blockStart + kBlock > m_size && m_regularFile) {
        // A recording still being written (a local recording, a copy under
        // way) plays on into what has been added since it was opened.
        struct stat now;
        if (::fstat(m_fd, &now) == 0 && static_cast<uint64_t>(now.st_size) > m_size) {
            m_size = static_cast<uint64_t>(now.st_size);
        }
    }
    if (blockStart + kBlock > m_size) {
        *st = kBlockEnd;
        return nullptr;
    }
    if (m_cacheLen > 0 && blockStart >= m_cacheStart &&
        blockStart + kBlock <= m_cacheStart + m_cacheLen) {
        m_readError = 0;
        *st = kBlockOk;
        return m_cache.data() + (blockStart - m_cacheStart);
    }
    // A window of blocks in the direction of reading; the last whole block of
    // the source bounds it.
    const uint64_t lastEnd = BlockOf(m_size);
    uint64_t start = blockStart;
    if (!forward) {
        start = blockStart + kBlock >= kCacheBytes ? blockStart + kBlock - kCacheBytes : 0;
    }
    const uint64_t len = std::min<uint64_t>(kCacheBytes, lastEnd - start);
    size_t got = 0;
    m_cacheLen = 0;
    if (PreadFull(m_fd, m_cache.data(), len, start, &got) < 0 ||
        got < blockStart + kBlock - start) {
        // A bad sector spoils a whole window read: fall back to the one block,
        // and count it as a bad block when even that fails.
        if (PreadFull(m_fd, m_cache.data(), kBlock, blockStart, &got) < 0) {
            m_readError = errno != 0 ? errno : EIO;
            *st = kBlockBad;
            return nullptr;
        }
        if (got < kBlock) {
            *st = kBlockEnd; // the source shrank since it was opened
            return nullptr;
        }
        start = blockStart;
    }
    m_readError = 0;
    got = static_cast<size_t>(BlockOf(got));
    if (m_diskMode) {
        SwapWords(m_cache.data(), got);
    }
    m_cacheStart = start;
    m_cacheLen = got;
    *st = kBlockOk;
    return m_cache.data() + (blockStart - start);
}

CStreamFile::BlockStatus CStreamFile::EnterBlock(uint64_t blockStart, bool forward) {
    BlockStatus st;
    const uint8_t* b = LoadBlock(blockStart, forward, &st);
    if (b == nullptr) {
        return st;
    }
    QzfBlockHeader h;
    if (!DecodeRecordingHeader(b, m_format, m_bias, &h)) {
        return kBlockBad; // the reader's block fields stay as they were
    }
    m_prevBlockTime = m_blockTime;
    m_prevFrameGap = m_frameGap;
    m_frameGap = h.frameGap;
    m_channelMask = h.channelMask;
    m_blockTime = h.time;
    m_haveBlockTime = true;
    m_block = b;
    return kBlockOk;
}

bool CStreamFile::OpenPacketIsEndMark() const {
    // 00 00 01, an audio code, FF FF, no samples: the rest up to the block's
    // end is padding.
    if (m_count < 6 || !IsAudioCode(m_forward[3]) || m_forward[4] != 0xFF || m_forward[5] != 0xFF) {
        return false;
    }
    for (int i = 6; i < m_count; ++i) {
        if (m_forward[size_t(i)] != 0) {
            return false;
        }
    }
    return true;
}

int CStreamFile::FailRead(BlockStatus st, uint64_t blockStart, bool forward) {
    if (forward) {
        m_cutPacket =
            st == kBlockEnd && m_inPacket && !OpenPacketIsEndMark() ? m_openOffset : kNoCutPacket;
    }
    ResetPacket();
    if (st == kBlockBad) {
        m_position = forward ? blockStart + kBlock : blockStart;
    } else if (forward) {
        m_position = std::min(std::max(m_position, blockStart), m_size);
    }
    return 0;
}

void CStreamFile::AppendForward(const uint8_t* p, size_t n) {
    const size_t room = static_cast<size_t>(kMaxPacketSize - m_count);
    const size_t k = std::min(room, n);
    if (k > 0) {
        std::memcpy(m_forward.data() + m_count, p, k);
        m_count += static_cast<int>(k);
    }
    m_total += n;
}

// p[0..n) in stream order, scanned from its end; the buffer fills from its end.
void CStreamFile::AppendBackward(const uint8_t* p, size_t n) {
    const size_t room = static_cast<size_t>(kMaxPacketSize - m_count);
    const size_t k = std::min(room, n);
    if (k > 0) {
        std::memcpy(m_backward.data() + (kMaxPacketSize - m_count - k), p + (n - k), k);
        m_count += static_cast<int>(k);
    }
    m_total += n;
}

bool CStreamFile::StartForward(uint64_t codePos, uint8_t code, uint8_t* dst, int* result) {
    if (m_inPacket) {
        const uint8_t own = m_forward[3];
        const uint64_t length = m_total - 4; // the next start code is not part of it
        const int kept = static_cast<int>(std::min<uint64_t>(length, kMaxPacketSize));
        const bool audio = IsAudioCode(own);
        if (!(audio && kept <= 6)) {
            int n;
            if (audio) {
                m_isAudio = 1;
                m_channel = own - kAudioCode;
                m_audioChannelMask |= 1 << m_channel;
                n = kept - 6;
                std::memcpy(dst, m_forward.data() + 6, static_cast<size_t>(n));
            } else {
                m_isAudio = 0;
                m_channel = kept >= 5 ? (m_forward[4] & 0x0F) : 0;
                n = kept;
                std::memcpy(dst, m_forward.data(), static_cast<size_t>(n));
            }
            m_forward[3] = code;
            m_packetOffset = m_openOffset;
            m_packetTime = m_openTime;
            m_packetGap = m_openGap;
            NoteOpenForward(codePos);
            m_inPacket = 0;
            m_complete = 1;
            m_count = 0;
            m_total = 0;
            m_length = n;
            // Back onto the new start code, so the next read finds it first.
            m_position = StreamBack(codePos + 1, 4);
            *result = n;
            return true;
        }
        // An audio packet with no samples delivers nothing; the start code
        // just found opens the next packet.
    }
    m_inPacket = 1;
    m_complete = 0;
    m_count = 4;
    m_total = 4;
    m_forward[3] = code;
    NoteOpenForward(codePos);
    return false;
}

void CStreamFile::NoteOpenForward(uint64_t codeEnd) {
    m_openOffset = StreamBack(codeEnd, 3);
    // A start code cut by a block boundary begins in the block before.
    const bool sameBlock = BlockOf(m_openOffset) == BlockOf(codeEnd);
    m_openTime = sameBlock ? m_blockTime : m_prevBlockTime;
    m_openGap = sameBlock ? m_frameGap : m_prevFrameGap;
}

int CStreamFile::ReadForward(uint8_t* dst) {
    if (m_fd < 0) {
        return 0;
    }
    m_direction = 0;
    ResetPacket();
    uint64_t blockStart = BlockOf(m_position);
    BlockStatus st = EnterBlock(blockStart, true);
    if (st != kBlockOk) {
        return FailRead(st, blockStart, true);
    }
    size_t off = std::max<size_t>(m_position - blockStart, kQzfHeaderSize);
    int result = 0;
    for (;;) {
        const uint8_t* b = m_block;
        // The first stream bytes of a block may complete a start code begun in
        // the block before; the register carries it across.
        while (off < kQzfHeaderSize + 3) {
            const uint8_t x = b[off];
            m_register = (m_register << 8) | x;
            if (m_inPacket) {
                AppendForward(&x, 1);
            }
            if (IsForwardStart(m_register) && StartForward(blockStart + off, x, dst, &result)) {
                return result;
            }
            ++off;
        }
        while (off < kBlock) {
            // A start code 00 00 01 xx ends at j: look for its 01 at j - 1.
            size_t end = kBlock;
            bool found = false;
            const uint8_t* hit =
                static_cast<const uint8_t*>(std::memchr(b + off - 1, 0x01, kBlock - off));
            while (hit != nullptr) {
                const size_t k = static_cast<size_t>(hit - b);
                if (b[k - 1] == 0 && b[k - 2] == 0 && IsPacketCode(b[k + 1])) {
                    end = k + 2;
                    found = true;
                    break;
                }
                hit = static_cast<const uint8_t*>(std::memchr(hit + 1, 0x01, kBlock - 2 - k));
            }
            if (m_inPacket) {
                AppendForward(b + off, end - off);
            }
            for (size_t i = std::max(off, end - 4); i < end; ++i) {
                m_register = (m_register << 8) | b[i];
            }
            off = end;
            if (found && StartForward(blockStart + end - 1, b[end - 1], dst, &result)) {
                return result;
            }
        }
        blockStart += kBlock;
        m_position = blockStart;
        st = EnterBlock(blockStart, true);
        if (st != kBlockOk) {
            return FailRead(st, blockStart, true);
        }
        off = kQzfHeaderSize;
    }
}

bool CStreamFile::StartBackward(uint64_t codePos, uint8_t code, uint8_t* dst, int* result) {
    if (m_inPacket) {
        const uint64_t length = m_total; // its own start code included
        const bool audio = IsAudioCode(code);
        if (!(audio && length <= 6)) {
            int n;
            if (audio) {
                m_isAudio = 1;
                m_channel = code - kAudioCode;
                n = static_cast<int>(std::min<uint64_t>(length - 6, kMaxPacketSize));
            } else {
                m_isAudio = 0;
                m_channel = length >= 5 ? static_cast<int>((m_history >> 32) & 0x0F) : 0;
                n = static_cast<int>(std::min<uint64_t>(length, kMaxPacketSize));
            }
            std::memcpy(dst, m_backward.data() + (kMaxPacketSize - n), static_cast<size_t>(n));
            m_packetOffset = codePos;
            m_packetTime = m_blockTime;
            m_packetGap = m_frameGap;
            m_inPacket = 0;
            m_complete = 1;
            m_count = 0;
            m_total = 0;
            m_length = n;
            // Onto byte 4 of the packet just delivered: its start code then
            // opens the next backward read and ends the packet before it.
            m_position = StreamForward(codePos, 4);
            *result = n;
            return true;
        }
    }
    // This start code belongs to the packet after the one to deliver.
    m_inPacket = 1;
    m_complete = 0;
    m_count = 0;
    m_total = 0;
    return false;
}

int CStreamFile::ReadBackward(uint8_t* dst) {
    if (m_fd < 0) {
        return 0;
    }
    m_direction = 1;
    ResetPacket();
    const uint64_t lastEnd = BlockOf(m_size);
    uint64_t pos = std::min(m_position, lastEnd);
    if (pos == 0) {
        return 0;
    }
    --pos;
    uint64_t blockStart = BlockOf(pos);
    BlockStatus st = EnterBlock(blockStart, false);
    if (st != kBlockOk) {
        return FailRead(st, blockStart, false);
    }
    int64_t off = static_cast<int64_t>(pos - blockStart);
    int result = 0;
    for (;;) {
        const uint8_t* b = m_block;
        const int64_t top = off;
        // The top three bytes may finish (backward) a start code that runs on
        // into the block after; the register carries it.
        while (off >= kQzfHeaderSize && off > top - 3) {
            const uint8_t x = b[off];
            m_register = (m_register << 8) | x;
            m_history = (m_history << 8) | x;
            if (m_inPacket) {
                AppendBackward(&x, 1);
            }
            if (IsBackwardStart(m_register) &&
                StartBackward(blockStart + static_cast<uint64_t>(off),
                              static_cast<uint8_t>(m_register >> 24), dst, &result)) {
                return result;
            }
            --off;
        }
        while (off >= kQzfHeaderSize) {
            // Start codes wholly at or below off: j, j+1 = 00, j+2 = 01, j+3 = code.
            int64_t low = kQzfHeaderSize;
            bool found = false;
            if (off + 2 >= kQzfHeaderSize + 2) {
                const uint8_t* base = b + kQzfHeaderSize + 2;
                size_t len = static_cast<size_t>(off + 2 - (kQzfHeaderSize + 2) + 1);
                while (len > 0) {
                    const uint8_t* hit = static_cast<const uint8_t*>(memrchr(base, 0x01, len));
                    if (hit == nullptr) {
                        break;
                    }
                    const int64_t k = hit - b;
                    if (b[k - 1] == 0 && b[k - 2] == 0 && IsPacketCode(b[k + 1])) {
                        low = k - 2;
                        found = true;
                        break;
                    }
                    len = static_cast<size_t>(hit - base);
                }
            }
            const size_t n = static_cast<size_t>(off - low + 1);
            if (m_inPacket) {
                AppendBackward(b + low, n);
            }
            for (int64_t i = std::min<int64_t>(off, low + 7); i >= low; --i) {
                m_history = (m_history << 8) | b[i];
            }
            m_register = static_cast<uint32_t>(m_history);
            off = low - 1;
            if (found &&
                StartBackward(blockStart + static_cast<uint64_t>(low), b[low + 3], dst, &result)) {
                return result;
            }
        }
        if (blockStart == 0) {
            m_position = 0;
            ResetPacket();
            return 0;
        }
        blockStart -= kBlock;
        m_position = blockStart + kBlock;
        st = EnterBlock(blockStart, false);
        if (st != kBlockOk) {
            return FailRead(st, blockStart, false);
        }
        off = kBlock - 1;
    }
}

int CStreamFile::SetSeekTarget(uint64_t offset) {
    if (m_size == 0 || offset >= m_size) {
        return 0;
    }
    m_seekTarget = offset;
    return 1;
}

int CStreamFile::ReadAtSeekTarget(uint8_t* dst) {
    m_direction = 0;
    ResetPacket();
    if (m_fd < 0 || m_size == 0 || m_seekTarget >= m_size - 1) {
        return 0;
    }
    m_position = BlockOf(m_seekTarget);
    for (;;) {
        const int n = ReadForward(dst);
        if (n == 0) {
            return 0;
        }
        if (m_isAudio) {
            m_audioSeen = 1;
        } else if (m_packetOffset >= m_seekTarget || m_position > m_seekTarget + kQzfBlockSize) {
            // A target inside a block names the packet that starts there;
            // one on a block's start takes the block's first video packet.
            return n;
        }
    }
}

int CStreamFile::SetPosition(uint64_t offset) {
    if (offset < m_size) {
        m_position = offset;
    }
    return 1;
}

SYSTEMTIME CStreamFile::GetPacketTime() const {
    return BlockTimeToLocal(m_packetTime, m_bias);
}

int CStreamFile::SetPositionBefore(uint64_t packetOffset) {
    if (packetOffset >= m_size) {
        return 0;
    }
    m_position = StreamForward(packetOffset, 4);
    return 1;
}

int CStreamFile::GetBlockTime(SYSTEMTIME* out) const {
    SYSTEMTIME st;
    if (m_haveBlockTime) {
        st = BlockTimeToLocal(m_blockTime, m_bias);
    } else {
        st.wYear = 2000; // before the first block: fails the check below
        st.wMonth = 1;
        st.wDay = 0;
        st.wHour = 1;
    }
    if (m_fd < 0 || !IsValidBlockTime(st)) {
        return 0;
    }
    *out = st;
    return 1;
}

int CStreamFile::CopyRange(uint64_t start, uint64_t end, const std::string& path) {
    m_copyError.clear();
    if (m_fd < 0 || start >= end || start >= m_size || end >= m_size) {
        m_copyError = "the range is not inside the recording";
        return 0;
    }
    const uint64_t from = BlockOf(start);
    const uint64_t to = BlockOf(end + kBlock - 1);
    if (to - from > kCopyLimit) {
        m_copyError = "the range is over 1 GiB";
        return 0;
    }
    // Truncating the recording itself (by whatever name) would destroy it.
    if (IsSameFileAsFd(path, m_fd)) {
        m_copyError = "the destination is the recording itself";
        return 0;
    }
    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        m_copyError = std::string("cannot create it: ") + std::strerror(errno);
        return 0;
    }
    struct stat outStat;
    const bool regular = ::fstat(out, &outStat) == 0 && S_ISREG(outStat.st_mode);
    std::vector<uint8_t> buf(64 * kBlock);
    bool ok = true;
    for (uint64_t off = from; off < to && ok;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), to - off));
        size_t got = 0;
        if (PreadFull(m_fd, buf.data(), want, off, &got) < 0) {
            m_copyError = "cannot read the recording near byte " + std::to_string(off) + ": " +
                          std::strerror(errno);
            ok = false;
            break;
        }
        if (m_diskMode) {
            SwapWords(buf.data(), got & ~static_cast<size_t>(1));
        }
        if (got > 0 && WriteFull(out, buf.data(), got) < 0) {
            m_copyError = std::string("cannot write it: ") + std::strerror(errno);
            ok = false;
            break;
        }
        if (got < want) {
            break; // the source ends inside the range: what it holds is copied
        }
        off += got;
    }
    if (::close(out) != 0 && ok) {
        m_copyError = std::string("cannot write it: ") + std::strerror(errno);
        ok = false;
    }
    if (!ok && regular) {
        ::unlink(path.c_str());
    }
    return ok ? 1 : 0;
}

int CStreamFile::ReadBlockHeaderAt(uint64_t block, QzfBlockHeader* h) {
    if (m_fd < 0) {
        return -1;
    }
    BlockStatus st;
    const uint8_t* b = LoadBlock(block * kBlock, true, &st);
    if (b == nullptr) {
        return st == kBlockEnd ? -1 : 0;
    }
    return DecodeRecordingHeader(b, m_format, m_bias, h);
}

} // namespace tv
