#include "media/block_writer.h"

#include "platform/file_io.h"
#include "platform/system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tv {

CQzfBlockWriter::CQzfBlockWriter() : m_bias(GetTimeZoneBias()) {
    std::memset(m_block, 0, sizeof(m_block));
}

CQzfBlockWriter::~CQzfBlockWriter() {
    if (m_ownsFd && m_fd >= 0) {
        ::close(m_fd);
    }
}

void CQzfBlockWriter::SetFormat(int videoFormat) {
    m_format = videoFormat;
}

void CQzfBlockWriter::SetTime(time_t utcSeconds) {
    m_time = static_cast<uint32_t>(static_cast<uint64_t>(utcSeconds) & 0xFFFFFFFFu);
}

void CQzfBlockWriter::SetTime(const SYSTEMTIME& local) {
    m_time =
        static_cast<uint32_t>(static_cast<uint64_t>(LocalToBlockTime(local, m_bias)) & 0xFFFFFFFFu);
}

int CQzfBlockWriter::OpenFile(const std::string& path) {
    if (m_ownsFd && m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    m_ownsFd = m_fd >= 0;
    if (m_fd < 0) {
        m_failed = true;
        m_error = path + ": " + std::strerror(errno);
        return 0;
    }
    return 1;
}

int CQzfBlockWriter::Close() {
    int ok = Flush();
    if (m_ownsFd && m_fd >= 0) {
        if (::close(m_fd) != 0 && !m_failed) {
            m_failed = true;
            m_error = std::string("close: ") + std::strerror(errno);
            ok = 0;
        }
    }
    m_fd = -1;
    m_ownsFd = false;
    return ok;
}

void CQzfBlockWriter::StartBlock() {
    if (m_format == VF_QZF) {
        EncodeCalendarHeader(BlockTimeToLocal(m_time, m_bias), m_audioBlock, m_gap, m_block);
    } else {
        QzfBlockHeader h;
        h.time = m_time;
        h.channelMask = m_mask;
        h.frameGap = m_gap;
        EncodeBlockHeader(h, m_format == VF_QZA, m_block);
    }
    m_fill = kQzfHeaderSize;
    m_emitted = 0;
}

int CQzfBlockWriter::Write(const uint8_t* data, size_t n) {
    if (m_failed) {
        return 0;
    }
    while (n > 0) {
        if (m_fill == 0) {
            StartBlock();
        }
        const size_t k = std::min(n, static_cast<size_t>(kQzfBlockSize) - m_fill);
        std::memcpy(m_block + m_fill, data, k);
        m_fill += k;
        data += k;
        n -= k;
        if (m_fill == static_cast<size_t>(kQzfBlockSize)) {
            if (!Emit(kQzfBlockSize)) {
                return 0;
            }
            m_blockStart += kQzfBlockSize;
            m_fill = 0;
            m_emitted = 0;
        }
    }
    return 1;
}

int CQzfBlockWriter::WritePacket(uint8_t code, const uint8_t* payload, size_t n) {
    const uint8_t sc[4] = {0x00, 0x00, 0x01, code};
    if (!Write(sc, 4)) {
        return 0;
    }
    return n == 0 ? 1 : Write(payload, n);
}

int CQzfBlockWriter::WriteAudioPacket(int channel, const uint8_t* samples, size_t n) {
    // The two bytes readers skip are not zero: zeros there could join the
    // first samples into a false start code.
    const uint8_t head[6] = {0x00, 0x00, 0x01, static_cast<uint8_t>(kAudioCode + (channel & 3)),
                             0xFF, 0xFF};
    if (!Write(head, 6)) {
        return 0;
    }
    return n == 0 ? 1 : Write(samples, n);
}

int CQzfBlockWriter::Flush() {
    if (m_failed) {
        return 0;
    }
    // Swapped output goes out in whole words only.
    return Emit(m_swap ? (m_fill & ~static_cast<size_t>(1)) : m_fill);
}

int CQzfBlockWriter::Pad() {
    if (m_failed) {
        return 0;
    }
    if (m_fill == 0) {
        return 1;
    }
    std::memset(m_block + m_fill, 0, kQzfBlockSize - m_fill);
    m_fill = kQzfBlockSize;
    if (!Emit(kQzfBlockSize)) {
        return 0;
    }
    m_blockStart += kQzfBlockSize;
    m_fill = 0;
    m_emitted = 0;
    return 1;
}

int CQzfBlockWriter::Finish() {
    if (!WriteAudioPacket(0, nullptr, 0) || !Pad()) {
        return 0;
    }
    return Flush();
}

int CQzfBlockWriter::Emit(size_t end) {
    if (end <= m_emitted) {
        return 1;
    }
    const uint8_t* src = m_block + m_emitted;
    const size_t n = end - m_emitted;
    if (m_swap) {
        std::memcpy(m_swapped + m_emitted, src, n);
        SwapWords(m_swapped + m_emitted, n);
        src = m_swapped + m_emitted;
    }
    if (m_vec != nullptr) {
        m_vec->insert(m_vec->end(), src, src + n);
    }
    if (m_fd >= 0 && !WriteFd(src, n)) {
        return 0;
    }
    m_emitted = end;
    return 1;
}

int CQzfBlockWriter::WriteFd(const uint8_t* p, size_t n) {
    if (WriteFull(m_fd, p, n) < 0) {
        m_failed = true;
        m_error = std::strerror(errno);
        return 0;
    }
    return 1;
}

} // namespace tv
