#include "evidence/hashing_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace tv::evidence {

std::string HexDigest(const unsigned char* md, unsigned int len) {
    static const char kHex[] = "0123456789abcdef";
    std::string s;
    s.reserve(len * 2);
    for (unsigned int i = 0; i < len; ++i) {
        s += kHex[md[i] >> 4];
        s += kHex[md[i] & 15];
    }
    return s;
}

std::string Sha256Hex(const void* data, size_t n) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(data, n, md, &len, EVP_sha256(), nullptr);
    return HexDigest(md, len);
}

int Sha256OfFile(const std::string& path, std::string* hex, std::string* error,
                 const std::function<void(uint64_t, uint64_t)>& progress,
                 const std::atomic<bool>* cancel, uint64_t* size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return 0;
    }
    uint64_t total = 0;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end > 0) {
        total = static_cast<uint64_t>(end);
    }
    ::lseek(fd, 0, SEEK_SET);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    std::vector<unsigned char> buf(1 << 20);
    uint64_t done = 0;
    int ok = 1;
    for (;;) {
        if (cancel && cancel->load()) {
            *error = "cancelled";
            ok = 0;
            break;
        }
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *error = "cannot read " + path + " near byte " + std::to_string(done) + ": " +
                     std::strerror(errno);
            ok = 0;
            break;
        }
        if (n == 0) {
            break;
        }
        EVP_DigestUpdate(ctx, buf.data(), static_cast<size_t>(n));
        done += static_cast<uint64_t>(n);
        if (progress) {
            progress(done, total);
        }
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, md, &len);
    EVP_MD_CTX_free(ctx);
    ::close(fd);
    if (ok) {
        *hex = HexDigest(md, len);
        if (size) {
            *size = done;
        }
    }
    return ok;
}

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
    m_ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(m_ctx, EVP_sha256(), nullptr);
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
        EVP_DigestUpdate(m_ctx, m_job, m_jobLength);
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
        EVP_DigestUpdate(m_ctx, p, n);
    }
    size_t left = n;
    while (left > 0) {
        const ssize_t w = ::write(m_fd, p, left);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            *error = "cannot write " + m_path + ": " + std::strerror(w < 0 ? errno : ENOSPC);
            return 0;
        }
        p += w;
        left -= static_cast<size_t>(w);
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
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(m_ctx, md, &len);
    EVP_MD_CTX_free(m_ctx);
    m_ctx = nullptr;
    m_hex = HexDigest(md, len);
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
    if (m_ctx) {
        EVP_MD_CTX_free(m_ctx);
        m_ctx = nullptr;
    }
}

} // namespace tv::evidence
