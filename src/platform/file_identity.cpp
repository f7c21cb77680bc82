#include "platform/file_identity.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tv {

namespace {

bool Identify(const std::string& path, struct stat* st) {
    return !path.empty() && ::stat(path.c_str(), st) == 0;
}

} // namespace

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat sa;
    struct stat sb;
    return Identify(a, &sa) && Identify(b, &sb) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool IsSameFileAsFd(const std::string& path, int fd) {
    struct stat sp;
    struct stat sf;
    return fd >= 0 && Identify(path, &sp) && ::fstat(fd, &sf) == 0 && sp.st_dev == sf.st_dev &&
           sp.st_ino == sf.st_ino;
}

std::string InputOverwrittenBy(const std::string& output, const std::vector<std::string>& inputs) {
    for (const std::string& in : inputs) {
        if (IsSameFile(output, in)) {
            return in;
        }
    }
    return {};
}

int OpenOutputFile(const std::string& output, const std::vector<std::string>& inputs,
                   std::string* error) {
    const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        *error = "cannot create " + output + ": " + std::strerror(errno);
        return -1;
    }
    for (const std::string& in : inputs) {
        if (IsSameFileAsFd(in, fd)) {
            ::close(fd);
            *error = output + " is " + in + " itself; it is read here, so it cannot be written";
            return -1;
        }
    }
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
        *error = "cannot write " + output + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace tv
