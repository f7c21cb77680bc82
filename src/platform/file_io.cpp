#include "platform/file_io.h"

#include <cerrno>
#include <unistd.h>

namespace tv {

namespace {

template <typename Step> ssize_t Transfer(size_t n, size_t* done, Step step) {
    size_t got = 0;
    ssize_t result = 0;
    while (got < n) {
        const ssize_t r = step(got);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            result = -1;
            break;
        }
        if (r == 0) {
            break;
        }
        got += static_cast<size_t>(r);
    }
    if (done != nullptr) {
        *done = got;
    }
    return result < 0 ? -1 : static_cast<ssize_t>(got);
}

} // namespace

ssize_t ReadFull(int fd, void* buf, size_t n, size_t* done) {
    auto* p = static_cast<char*>(buf);
    return Transfer(n, done, [&](size_t got) { return ::read(fd, p + got, n - got); });
}

ssize_t PreadFull(int fd, void* buf, size_t n, uint64_t off, size_t* done) {
    auto* p = static_cast<char*>(buf);
    return Transfer(n, done, [&](size_t got) {
        return ::pread(fd, p + got, n - got, static_cast<off_t>(off + got));
    });
}

ssize_t WriteFull(int fd, const void* buf, size_t n, size_t* done) {
    const auto* p = static_cast<const char*>(buf);
    const ssize_t r = Transfer(n, done, [&](size_t got) { return ::write(fd, p + got, n - got); });
    if (r >= 0 && static_cast<size_t>(r) < n) {
        errno = ENOSPC;
        return -1;
    }
    return r;
}

} // namespace tv
