#include "media/disk_list.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
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

enum class DiskKind { kNone, kPhysical, kLoop };

DiskKind KindOfDevice(const std::string& name, const std::string& sysDir) {
    static const std::regex kDisk(R"((sd|hd|vd|xvd)[a-z]+|nvme[0-9]+n[0-9]+|mmcblk[0-9]+)");
    static const std::regex kLoop(R"(loop[0-9]+)");
    if (std::regex_match(name, kDisk)) {
        return DiskKind::kPhysical;
    }
    // Only loop devices a user attached to an image.
    struct stat st;
    if (std::regex_match(name, kLoop) &&
        ::stat((sysDir + "/loop/backing_file").c_str(), &st) == 0) {
        return DiskKind::kLoop;
    }
    return DiskKind::kNone;
}

std::string MediaWord(const std::string& sysDir) {
    std::ifstream in(sysDir + "/removable");
    int v = -1;
    if (!(in >> v)) {
        return "Unknown";
    }
    return v == 1 ? "Removable" : (v == 0 ? "Fixed" : "Unknown");
}

// errno when the device cannot be opened or sized, 0 when it can.
int SizeOf(const std::string& path, uint64_t* size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno != 0 ? errno : EIO;
    }
    struct stat st;
    int err = ::fstat(fd, &st) == 0 ? 0 : errno;
    if (err == 0 && S_ISBLK(st.st_mode)) {
        err = ::ioctl(fd, BLKGETSIZE64, size) == 0 ? 0 : errno;
    } else if (err == 0 && S_ISREG(st.st_mode)) {
        *size = static_cast<uint64_t>(st.st_size);
    } else if (err == 0) {
        err = ENOTBLK;
    }
    ::close(fd);
    return err;
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

std::vector<DiskEntry> EnumerateDisks(const std::string& sysBlock, const std::string& devDir,
                                      std::string* emptyReason) {
    std::vector<std::string> disks;
    std::vector<std::string> loops;
    DIR* d = ::opendir(sysBlock.c_str());
    const int dirError = d == nullptr ? errno : 0;
    if (d != nullptr) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            const DiskKind kind = KindOfDevice(name, sysBlock + "/" + name);
            if (kind == DiskKind::kPhysical) {
                disks.push_back(name);
            } else if (kind == DiskKind::kLoop) {
                loops.push_back(name);
            }
        }
        ::closedir(d);
    }
    // Loop devices come after the real disks: a machine may have one for
    // every installed package image, and they must not crowd a recorder's
    // disk out of the ten places.
    std::sort(disks.begin(), disks.end(), NaturalLess);
    std::sort(loops.begin(), loops.end(), NaturalLess);
    disks.insert(disks.end(), loops.begin(), loops.end());
    // A disk keeps its number when one before it cannot be opened, as a
    // drive number does: the number the user saw last time still names it.
    std::vector<DiskEntry> out;
    std::string refused;
    bool denied = false;
    for (size_t i = 0; i < disks.size() && i < static_cast<size_t>(kMaxDiskEntries); ++i) {
        DiskEntry e;
        e.number = static_cast<int>(i);
        e.name = disks[i];
        e.path = devDir + "/" + e.name;
        const int err = SizeOf(e.path, &e.size);
        if (err != 0) {
            refused += (refused.empty() ? "" : "; ") + e.path + ": " + std::strerror(err);
            denied = denied || err == EACCES;
            continue;
        }
        e.media = MediaWord(sysBlock + "/" + e.name);
        e.line = FormatDiskLine(e.number, e.media, e.size);
        out.push_back(e);
    }
    if (emptyReason != nullptr) {
        emptyReason->clear();
        if (out.empty() && dirError != 0) {
            *emptyReason =
                "No disk found: cannot read " + sysBlock + ": " + std::strerror(dirError);
        } else if (out.empty() && disks.empty()) {
            *emptyReason = "No disk found.";
        } else if (out.empty()) {
            *emptyReason = "No disk can be read (" + refused + ").";
            if (denied) {
                *emptyReason += " Reading a whole disk needs read access to its device, "
                                "usually membership of the \"disk\" group.";
            }
        }
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
