#include "media_test_util.h"

#include "media/disk_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

using namespace tv;
using namespace tv::test;

TEST(DiskList, LineFormat) {
    EXPECT_EQ(FormatDiskLine(0, "Fixed", 500107862016ull), "DISK0  Fixed          476940 MB");
    EXPECT_EQ(FormatDiskLine(3, "Removable", 1ull << 20), "DISK3  Removable           1 MB");
    // Sizes beyond 32 bits of MiB stay whole.
    EXPECT_EQ(FormatDiskLine(9, "Unknown", 0xFFFFFFFFFFFFFFFFull),
              "DISK9  Unknown    17592186044415 MB");
}

TEST(DiskList, WholeDisksInNameOrderAtMostTen) {
    TempDir dir;
    const std::string sys = dir.File("sys");
    const std::string dev = dir.File("dev");
    mkdir(sys.c_str(), 0755);
    mkdir(dev.c_str(), 0755);
    auto disk = [&](const std::string& name, const char* removable, size_t bytes, bool node) {
        mkdir((sys + "/" + name).c_str(), 0755);
        if (removable != nullptr) {
            WriteBytes(sys + "/" + name + "/removable",
                       std::vector<uint8_t>(removable, removable + std::strlen(removable)));
        }
        if (node) {
            WriteBytes(dev + "/" + name, std::vector<uint8_t>(bytes, 0));
        }
    };
    disk("sdb", "1\n", 3 << 20, true);
    disk("sda", "0\n", 5 << 20, true);
    disk("sdaa", "0\n", 1 << 20, true);
    disk("nvme0n1", nullptr, 2 << 20, true);
    disk("vdc", "0\n", 1 << 20, false);  // no device node: left out
    disk("loop0", "0\n", 1 << 20, true); // nothing attached
    disk("loop1", "0\n", 4 << 20, true);
    mkdir((sys + "/loop1/loop").c_str(), 0755);
    WriteBytes(sys + "/loop1/loop/backing_file", {'/', 'x'});
    disk("dm-0", "0\n", 1 << 20, true);
    disk("sr0", "1\n", 1 << 20, true);
    disk("ram0", "0\n", 1 << 20, true);
    std::vector<DiskEntry> e = EnumerateDisks(sys, dev);
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].name, "loop1");
    EXPECT_EQ(e[1].name, "nvme0n1");
    EXPECT_EQ(e[2].name, "sda");
    EXPECT_EQ(e[3].name, "sdb");
    EXPECT_EQ(e[4].name, "sdaa");
    EXPECT_EQ(e[1].line, "DISK1  Unknown             2 MB");
    EXPECT_EQ(e[3].line, "DISK3  Removable           3 MB");
    EXPECT_EQ(e[2].path, dev + "/sda");
    EXPECT_EQ(GetDrivePath(e, 3), dev + "/sdb");
    EXPECT_EQ(GetDrivePath(e, 5), "");
    EXPECT_EQ(GetDrivePath({}, 0), "");
    for (int i = 0; i < 12; ++i) {
        disk("xvd" + std::string(1, static_cast<char>('a' + i)), "0\n", 1 << 20, true);
    }
    EXPECT_EQ(EnumerateDisks(sys, dev).size(), 10u);
    EXPECT_TRUE(EnumerateDisks(dir.File("none"), dev).empty());
}
