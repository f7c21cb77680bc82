#pragma once

// Recorder disks attached to this machine: the entries the "Disk Select"
// dialog lists. A disk is opened whole, read-only, in disk mode.

#include <cstdint>
#include <string>
#include <vector>

namespace tv {

constexpr int kMaxDiskEntries = 10;

struct DiskEntry {
    int number = 0;    // drive number, 0 to 9, kept when a disk before it is missing
    std::string name;  // kernel name ("sdb", "nvme0n1")
    std::string path;  // device path to open ("/dev/sdb")
    std::string media; // "Removable", "Fixed" or "Unknown"
    uint64_t size = 0; // bytes
    std::string line;  // the list line
};

// "DISK%d  %-10s %10I64d MB": size in MiB, right-aligned in ten places.
std::string FormatDiskLine(int number, const std::string& media, uint64_t sizeBytes);

// Whole disks (sd, hd, vd, xvd, nvme, mmcblk) from sysBlock in name order,
// then loop devices with a backing file; the first ten of those are numbered
// 0 to 9 in that order, and the ones that can be opened for reading and sized
// are listed: a disk that cannot be read leaves its number unused rather than
// moving the others. When the list comes out empty, emptyReason says why in
// words for the user. The roots can be pointed elsewhere for tests; a regular
// file standing in for a device is sized by its length.
std::vector<DiskEntry> EnumerateDisks(const std::string& sysBlock = "/sys/block",
                                      const std::string& devDir = "/dev",
                                      std::string* emptyReason = nullptr);

// The device path of an entry, empty when the list has no such entry.
std::string GetDrivePath(const std::vector<DiskEntry>& entries, int index);

} // namespace tv
