#include "media/disk_list.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <regex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tv {

namespace {

bool IsWholeDiskName(const std::string& name, const std::string& sysDir) {
    static const std::regex kDisk(
        R"((sd|hd|vd|xvd)[a-z]+|nvme[0-9]+n[0-9]+|mmcblk[0-9]+|loop[0-9]+)");
    if (!std::regex_match(name, kDisk)) {
        return false;
    }
    if (name.rfind("loop", 0) == 0) {
        // Only loop devices a user attached to an image.
        struct stat st;
        return ::stat((sysDir + "/loop/backing_file").c_str(), &st) == 0;
    }
    return true;
}

std::string MediaWord(const std::string& sysDir) {
    std::ifstream in(sysDir + "/removable");
    int v = -1;
    if (!(in >> v)) {
        return "Unknown";
    }
    return v == 1 ? "Removable" : (v == 0 ? "Fixed" : "Unknown");
}

bool SizeOf(const std::string& path, uint64_t* size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && S_ISBLK(st.st_mode)) {
        ok = ::ioctl(fd, BLKGETSIZE64, size) == 0;
    } else if (ok && S_ISREG(st.st_mode)) {
        *size = static_cast<uint64_t>(st.st_size);
    } else {
        ok = false;
    }
    ::close(fd);
    return ok;
}

std::string KindOf(const std::string& name) {
    for (const char* k : {"xvd", "sd", "hd", "vd", "nvme", "mmcblk", "loop"}) {
        if (name.rfind(k, 0) == 0) {
            return k;
        }
    }
    return name;
}

// Kernel order within a kind: sda < sdb < sdz < sdaa, nvme0n2 < nvme0n10.
bool NaturalLess(const std::string& a, const std::string& b) {
    const std::string ka = KindOf(a);
    const std::string kb = KindOf(b);
    if (ka != kb) {
        return ka < kb;
    }
    if (a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;
}

} // namespace

std::string FormatDiskLine(int number, const std::string& media, uint64_t sizeBytes) {
    char buf[96];
    std::snprintf(buf, sizeof(buf), "DISK%d  %-10s %10" PRId64 " MB", number, media.c_str(),
                  static_cast<int64_t>(sizeBytes >> 20));
    return buf;
}

std::vector<DiskEntry> EnumerateDisks(const std::string& sysBlock, const std::string& devDir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(sysBlock.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != ".." && IsWholeDiskName(name, sysBlock + "/" + name)) {
                names.push_back(name);
            }
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    std::vector<DiskEntry> out;
    for (const std::string& name : names) {
        if (static_cast<int>(out.size()) >= kMaxDiskEntries) {
            break;
        }
        DiskEntry e;
        e.name = name;
        e.path = devDir + "/" + name;
        if (!SizeOf(e.path, &e.size)) {
            continue;
        }
        e.number = static_cast<int>(out.size());
        e.media = MediaWord(sysBlock + "/" + name);
        e.line = FormatDiskLine(e.number, e.media, e.size);
        out.push_back(e);
    }
    return out;
}

std::string GetDrivePath(const std::vector<DiskEntry>& entries, int index) {
    if (index < 0 || index >= static_cast<int>(entries.size())) {
        return "";
    }
    return entries[static_cast<size_t>(index)].path;
}

} // namespace tv
