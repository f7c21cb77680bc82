// faultfs: serves one file through FUSE whose reads fail with EIO where the
// caller says, so that the viewer and the tools can be tried against a disk
// with bad sectors, or one that goes away while it is read.
//
//   faultfs [--bad START:LENGTH]... [--name NAME] BACKING MOUNTPOINT
//
// The file MOUNTPOINT/NAME (the backing file's name by default) has the
// backing file's size and bytes. A read that touches a bad range fails.
// SIGUSR1 makes every read fail from then on; SIGUSR2 heals the file again.
// Runs in the foreground until unmounted (fusermount3 -u MOUNTPOINT) or
// sent SIGTERM.

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Range {
    uint64_t start;
    uint64_t length;
};

int g_backing = -1;
std::string g_name;
std::vector<Range> g_bad;
std::atomic<bool> g_allBad{false};
std::atomic<uint64_t> g_failed{0};

bool Touches(uint64_t off, uint64_t n) {
    if (g_allBad.load()) {
        return true;
    }
    for (const Range& r : g_bad) {
        if (off < r.start + r.length && r.start < off + n) {
            return true;
        }
    }
    return false;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
    std::memset(st, 0, sizeof *st);
    if (std::strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return 0;
    }
    if (path[0] == '/' && g_name == path + 1) {
        struct stat b;
        if (fstat(g_backing, &b) != 0) {
            return -errno;
        }
        st->st_mode = S_IFREG | 0444;
        st->st_nlink = 1;
        st->st_size = b.st_size;
        st->st_mtime = b.st_mtime;
        return 0;
    }
    return -ENOENT;
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
    if (std::strcmp(path, "/") != 0) {
        return -ENOENT;
    }
    fill(buf, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buf, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buf, g_name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    return 0;
}

int Open(const char* path, fuse_file_info* fi) {
    if (path[0] != '/' || g_name != path + 1) {
        return -ENOENT;
    }
    if ((fi->flags & O_ACCMODE) != O_RDONLY) {
        return -EROFS;
    }
    // Every read reaches this process: the page cache would otherwise
    // answer from what an earlier, larger read brought in.
    fi->direct_io = 1;
    fi->keep_cache = 0;
    return 0;
}

int Read(const char*, char* buf, size_t n, off_t off, fuse_file_info*) {
    if (Touches(static_cast<uint64_t>(off), n)) {
        g_failed.fetch_add(1);
        return -EIO;
    }
    const ssize_t got = tv::PreadFull(g_backing, buf, n, static_cast<uint64_t>(off));
    return got < 0 ? -errno : static_cast<int>(got);
}

void OnSignal(int sig) {
    g_allBad.store(sig == SIGUSR1);
}

bool ParseRange(const char* text, Range* out) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long start = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != ':') {
        return false;
    }
    const char* lengthText = end + 1;
    const unsigned long long length = std::strtoull(lengthText, &end, 0);
    if (errno != 0 || end == lengthText || *end != '\0' || length == 0) {
        return false;
    }
    out->start = start;
    out->length = length;
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: faultfs [--bad START:LENGTH]... [--name NAME] BACKING MOUNTPOINT\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--bad" && i + 1 < argc) {
            Range r;
            if (!ParseRange(argv[++i], &r)) {
                std::fprintf(stderr, "faultfs: bad range '%s' (START:LENGTH)\n", argv[i]);
                return 2;
            }
            g_bad.push_back(r);
        } else if (arg == "--name" && i + 1 < argc) {
            g_name = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage();
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        return Usage();
    }
    g_backing = open(positional[0].c_str(), O_RDONLY | O_CLOEXEC);
    if (g_backing < 0) {
        std::fprintf(stderr, "faultfs: cannot open %s: %s\n", positional[0].c_str(),
                     std::strerror(errno));
        return 1;
    }
    if (g_name.empty()) {
        const size_t slash = positional[0].rfind('/');
        g_name = slash == std::string::npos ? positional[0] : positional[0].substr(slash + 1);
    }
    if (g_name.empty() || g_name.find('/') != std::string::npos) {
        std::fprintf(stderr, "faultfs: bad file name '%s'\n", g_name.c_str());
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGUSR1, &sa, nullptr);
    sigaction(SIGUSR2, &sa, nullptr);

    fuse_operations ops{};
    ops.getattr = GetAttr;
    ops.readdir = ReadDir;
    ops.open = Open;
    ops.read = Read;
    // Foreground, one thread: the reads arrive in order and the log is simple.
    std::string mount = positional[1];
    char* fuseArgv[] = {argv[0], const_cast<char*>("-f"), const_cast<char*>("-s"), mount.data(),
                        nullptr};
    const int rc = fuse_main(4, fuseArgv, &ops, nullptr);
    std::fprintf(stderr, "faultfs: %llu reads failed\n",
                 static_cast<unsigned long long>(g_failed.load()));
    close(g_backing);
    return rc;
}
