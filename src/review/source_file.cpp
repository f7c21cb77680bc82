#include "review/source_file.h"

#include "platform/file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tv {

CSourceFile::~CSourceFile() {
    Close();
}

int CSourceFile::Open(const std::string& path) {
    Close();
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        m_error = "cannot open " + path + ": " + std::strerror(errno);
        return 0;
    }
    struct stat st;
    if (::fstat(m_fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        m_error = path + " is not a recording";
        Close();
        return 0;
    }
    m_mtime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (S_ISBLK(st.st_mode)) {
        uint64_t bytes = 0;
        if (::ioctl(m_fd, BLKGETSIZE64, &bytes) != 0) {
            m_error = "cannot size " + path + ": " + std::strerror(errno);
            Close();
            return 0;
        }
        m_size = bytes;
    } else {
        m_size = uint64_t(st.st_size);
    }
    return 1;
}

void CSourceFile::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_size = 0;
    m_mtime = 0;
}

bool CSourceFile::ReadAt(uint64_t off, uint8_t* p, size_t n, size_t* got) {
    return PreadFull(m_fd, p, n, off, got) >= 0;
}

uint64_t HashBytes(const uint8_t* p, size_t n, uint64_t h) {
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

} // namespace tv
