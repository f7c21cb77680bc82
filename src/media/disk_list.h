#pragma once

// Recorder disks attached to this machine: the entries the "Disk Select"
// dialog lists. A disk is opened whole, read-only, in disk mode.

#include <cstdint>
#include <string>
#include <vector>

namespace tv {

constexpr int kMaxDiskEntries = 10;

struct DiskEntry {
    int number = 0;    // drive number n: the n-th entry
    std::string name;  // kernel name ("sdb", "nvme0n1")
    std::string path;  // device path to open ("/dev/sdb")
    std::string media; // "Removable", "Fixed" or "Unknown"
    uint64_t size = 0; // bytes
    std::string line;  // the list line
};

// "DISK%d  %-10s %10I64d MB": size in MiB, right-aligned in ten places.
std::string FormatDiskLine(int number, const std::string& media, uint64_t sizeBytes);

// Whole disks (sd, hd, vd, xvd, nvme, mmcblk, and loop devices with a backing
// file) from sysBlock, in name order, at most ten; those that cannot be opened
// for reading or sized are left out. The roots can be pointed elsewhere for
// tests; a regular file standing in for a device is sized by its length.
std::vector<DiskEntry> EnumerateDisks(const std::string& sysBlock = "/sys/block",
                                      const std::string& devDir = "/dev");

// The device path of an entry, empty when the list has no such entry.
std::string GetDrivePath(const std::vector<DiskEntry>& entries, int index);

} // namespace tv
