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

namespace {

// A fake /sys/block and /dev: a disk with a removable flag (or none) and,
// when node is set, a device file standing in for it.
class FakeMachine {
public:
    FakeMachine() {
        mkdir(Sys().c_str(), 0755);
        mkdir(Dev().c_str(), 0755);
    }
    void Disk(const std::string& name, const char* removable, size_t bytes, bool node) {
        mkdir((Sys() + "/" + name).c_str(), 0755);
        if (removable != nullptr) {
            WriteBytes(Sys() + "/" + name + "/removable",
                       std::vector<uint8_t>(removable, removable + std::strlen(removable)));
        }
        if (node) {
            WriteBytes(Dev() + "/" + name, std::vector<uint8_t>(bytes, 0));
        }
    }
    void Loop(const std::string& name, size_t bytes) {
        Disk(name, "0\n", bytes, true);
        mkdir((Sys() + "/" + name + "/loop").c_str(), 0755);
        WriteBytes(Sys() + "/" + name + "/loop/backing_file", {'/', 'x'});
    }
    std::string Sys() const { return m_dir.File("sys"); }
    std::string Dev() const { return m_dir.File("dev"); }

private:
    TempDir m_dir;
};

} // namespace

TEST(DiskList, RealDisksFirstInNameOrderWithStableNumbers) {
    FakeMachine m;
    m.Disk("sdb", "1\n", 3 << 20, true);
    m.Disk("sda", "0\n", 5 << 20, true);
    m.Disk("sdaa", "0\n", 1 << 20, true);
    m.Disk("nvme0n1", nullptr, 2 << 20, true);
    m.Disk("vdc", "0\n", 1 << 20, false);  // cannot be opened: its number stays taken
    m.Disk("loop0", "0\n", 1 << 20, true); // nothing attached
    m.Loop("loop1", 4 << 20);
    m.Disk("dm-0", "0\n", 1 << 20, true);
    m.Disk("sr0", "1\n", 1 << 20, true);
    m.Disk("ram0", "0\n", 1 << 20, true);
    m.Disk("vdd", "0\n", 1 << 20, true);
    std::vector<DiskEntry> e = EnumerateDisks(m.Sys(), m.Dev());
    ASSERT_EQ(e.size(), 6u);
    const char* const names[] = {"nvme0n1", "sda", "sdb", "sdaa", "vdd", "loop1"};
    const int numbers[] = {0, 1, 2, 3, 5, 6};
    for (size_t i = 0; i < e.size(); ++i) {
        EXPECT_EQ(e[i].name, names[i]);
        EXPECT_EQ(e[i].number, numbers[i]);
    }
    EXPECT_EQ(e[0].line, "DISK0  Unknown             2 MB");
    EXPECT_EQ(e[2].line, "DISK2  Removable           3 MB");
    EXPECT_EQ(e[4].line, "DISK5  Fixed               1 MB");
    EXPECT_EQ(e[1].path, m.Dev() + "/sda");
    EXPECT_EQ(GetDrivePath(e, 2), m.Dev() + "/sdb");
    EXPECT_EQ(GetDrivePath(e, 6), "");
    EXPECT_EQ(GetDrivePath({}, 0), "");
}

TEST(DiskList, ManyLoopDevicesDoNotHideTheDisks) {
    FakeMachine m;
    for (int i = 0; i < 14; ++i) {
        m.Loop("loop" + std::to_string(i), 1 << 20);
    }
    m.Disk("sdc", "0\n", 1 << 20, true);
    m.Disk("sda", "0\n", 1 << 20, true);
    std::vector<DiskEntry> e = EnumerateDisks(m.Sys(), m.Dev());
    ASSERT_EQ(e.size(), 10u);
    EXPECT_EQ(e[0].name, "sda");
    EXPECT_EQ(e[1].name, "sdc");
    EXPECT_EQ(e[2].name, "loop0");
    EXPECT_EQ(e[9].line.rfind("DISK9  ", 0), 0u);
    for (int i = 0; i < 12; ++i) {
        m.Disk("xvd" + std::string(1, static_cast<char>('a' + i)), "0\n", 1 << 20, true);
    }
    e = EnumerateDisks(m.Sys(), m.Dev());
    ASSERT_EQ(e.size(), 10u);
    EXPECT_EQ(e[9].name, "xvdh");
}

TEST(DiskList, AnEmptyListSaysWhy) {
    FakeMachine m;
    std::string why;
    EXPECT_TRUE(EnumerateDisks(m.Sys(), m.Dev(), &why).empty());
    EXPECT_EQ(why, "No disk found.");
    m.Disk("sda", "0\n", 0, false);
    EXPECT_TRUE(EnumerateDisks(m.Sys(), m.Dev(), &why).empty());
    EXPECT_NE(why.find("No disk can be read (" + m.Dev() + "/sda: No such file or directory)"),
              std::string::npos)
        << why;
    EXPECT_TRUE(EnumerateDisks(m.Sys() + "/none", m.Dev(), &why).empty());
    EXPECT_EQ(why.rfind("No disk found: cannot read", 0), 0u) << why;
    m.Disk("sdb", "0\n", 1 << 20, true);
    EXPECT_EQ(EnumerateDisks(m.Sys(), m.Dev(), &why).size(), 1u);
    EXPECT_EQ(why, "");
}
