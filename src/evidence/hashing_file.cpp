#include "evidence/hashing_file.h"

#include "platform/file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace tv::evidence {

CHashingFile::CHashingFile() = default;

CHashingFile::~CHashingFile() {
    Discard();
}

int CHashingFile::Create(const std::string& tempPath, std::string* error) {
    Discard();
    m_fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        *error = "cannot create " + tempPath + ": " + std::strerror(errno);
        return 0;
    }
    m_path = tempPath;
    m_sha.Reset();
    m_size = 0;
    m_hex.clear();
    return 1;
}

void CHashingFile::HashLoop() {
    std::unique_lock lk(m_lock);
    for (;;) {
        m_wake.wait(lk, [this] { return m_jobPending || m_stop; });
        if (m_stop) {
            return;
        }
        lk.unlock();
        m_sha.Update(m_job, m_jobLength);
        lk.lock();
        m_jobPending = false;
        m_wake.notify_all();
    }
}

void CHashingFile::StopHasher() {
    if (m_hasher.joinable()) {
        WaitHash();
        {
            std::lock_guard lk(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        m_hasher.join();
        m_stop = false;
    }
}

void CHashingFile::WaitHash() {
    std::unique_lock lk(m_lock);
    m_wake.wait(lk, [this] { return !m_jobPending; });
}

int CHashingFile::Write(const void* data, size_t n, std::string* error) {
    const auto* p = static_cast<const unsigned char*>(data);
    // The digest takes the pieces in order: the previous one first.
    WaitHash();
    if (n >= (256u << 10)) {
        if (!m_hasher.joinable()) {
            m_hasher = std::thread([this] { HashLoop(); });
        }
        std::lock_guard lk(m_lock);
        m_job = p;
        m_jobLength = n;
        m_jobPending = true;
        m_wake.notify_all();
    } else {
        m_sha.Update(p, n);
    }
    if (WriteFull(m_fd, p, n) < 0) {
        *error = "cannot write " + m_path + ": " + std::strerror(errno);
        return 0;
    }
    if (n >= (256u << 10)) {
        // Start putting the piece on the disk now, so that the flush at the
        // end waits for little and the disk works while the hash is computed.
        ::sync_file_range(m_fd, static_cast<off_t>(m_size), static_cast<off_t>(n),
                          SYNC_FILE_RANGE_WRITE);
    }
    m_size += n;
    return 1;
}

int CHashingFile::Finish(std::string* error) {
    if (m_fd < 0) {
        *error = "no file open";
        return 0;
    }
    const bool synced = ::fsync(m_fd) == 0;
    const int syncErrno = errno;
    const bool closed = ::close(m_fd) == 0;
    const int closeErrno = errno;
    m_fd = -1;
    if (!synced || !closed) {
        *error = "cannot write " + m_path + ": " + std::strerror(synced ? closeErrno : syncErrno);
        return 0;
    }
    StopHasher();
    m_hex = m_sha.FinishHex();
    m_path.clear();
    return 1;
}

void CHashingFile::Discard() {
    StopHasher();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
        m_path.clear();
    }
}

} // namespace tv::evidence
