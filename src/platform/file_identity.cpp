#include "platform/file_identity.h"

#include <sys/stat.h>

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

} // namespace tv
