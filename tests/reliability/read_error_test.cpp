// A disk that cannot be read: the recording is served through faultfs, a
// one-file FUSE file system whose reads fail with EIO on chosen bytes or,
// on a signal, everywhere. The reader must lose only the packets that touch
// the bad sectors, hand on nothing it did not read, and the engine and the
// tools must keep working and say what went wrong.
//
// Needs /dev/fuse and the right to mount; where either is missing the tests
// are skipped and say so.

#include "engine/engine_test_util.h"
#include "engine/playback_rules.h"
#include "media/stream_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tv;
using namespace tv::enginetest;

namespace {

std::string BinaryDir() {
    const char* bin = std::getenv("TV_BINARY_DIR");
    return bin != nullptr ? bin : ".";
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int RunQuiet(const std::string& command) {
    const int rc = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// The backing file mounted through faultfs; unmounted on destruction.
class FaultDisk {
public:
    FaultDisk(const std::string& backing, const std::string& mountDir,
              const std::vector<std::string>& badRanges)
        : m_mount(mountDir) {
        const std::string tool = BinaryDir() + "/tools/faultfs/faultfs";
        if (access(tool.c_str(), X_OK) != 0) {
            m_why = "faultfs was not built (libfuse3 missing)";
            return;
        }
        if (access("/dev/fuse", R_OK | W_OK) != 0) {
            m_why = "no /dev/fuse on this machine";
            return;
        }
        std::filesystem::create_directories(mountDir);
        m_name = std::filesystem::path(backing).filename().string();
        std::vector<std::string> args{tool};
        for (const auto& r : badRanges) {
            args.push_back("--bad");
            args.push_back(r);
        }
        args.push_back(backing);
        args.push_back(mountDir);
        m_pid = fork();
        if (m_pid == 0) {
            std::vector<char*> argv;
            for (auto& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        const auto want = std::filesystem::file_size(backing);
        const bool up = WaitFor(
            [&] {
                struct stat st;
                int status = 0;
                if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                    m_pid = -1; // it gave up: no right to mount here
                    return true;
                }
                return stat(Path().c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) == want;
            },
            5000);
        if (!up || m_pid < 0) {
            m_why = "cannot mount a FUSE file system here";
            Stop();
        }
    }
    ~FaultDisk() { Stop(); }

    bool Mounted() const { return m_why.empty(); }
    const std::string& WhyNot() const { return m_why; }
    std::string Path() const { return m_mount + "/" + m_name; }
    // Every read fails from now on, as when a disk goes away; Heal undoes it.
    void BreakAll() { kill(m_pid, SIGUSR1); }
    void Heal() { kill(m_pid, SIGUSR2); }

private:
    void Stop() {
        if (m_pid <= 0) {
            return;
        }
        if (RunQuiet("fusermount3 -u '" + m_mount + "'") != 0) {
            kill(m_pid, SIGTERM);
        }
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

    std::string m_mount;
    std::string m_name;
    std::string m_why;
    pid_t m_pid = -1;
};

struct Packet {
    uint64_t start; // where its start code is
    uint64_t end;   // where the next one is
    std::vector<uint8_t> bytes;
};

// Every packet front to back, keyed by its end, with the failed reads counted.
std::map<uint64_t, Packet> ReadAll(const std::string& path, int* failedReads, int diskMode = 0) {
    std::map<uint64_t, Packet> packets;
    CStreamFile file;
    if (!file.Open(path, diskMode)) {
        return packets;
    }
    std::vector<uint8_t> buf(kEnginePacketSize);
    *failedReads = 0;
    uint64_t start = 0;
    while (file.GetPosition() < file.GetSize() && *failedReads < 10000) {
        const uint64_t before = file.GetPosition();
        const int n = file.ReadForward(buf.data());
        if (n <= 0) {
            ++*failedReads;
            start = file.GetPosition();
            if (file.GetPosition() == before) {
                break; // the end: nothing more to read
            }
            continue;
        }
        const uint64_t end = file.GetPosition();
        packets[end] = Packet{start, end, {buf.begin(), buf.begin() + n}};
        start = end;
    }
    return packets;
}

class ReadErrors : public ::testing::Test {
protected:
    void SetUp() override {
        RecordingBuilder rec;
        for (int i = 0; i < 320; ++i) {
            rec.SetTime(static_cast<time_t>(1700000000 + i / 8));
            rec.Picture(i % 8);
            if (i % 4 == 0) {
                rec.Audio(320);
            }
        }
        pictures = rec.Pictures();
        path = rec.Save(dir.File("evidence.qzf"));
        size = std::filesystem::file_size(path);
        // Two blocks well inside the recording; bad sectors come in runs.
        badStart = (size / kQzfBlockSize / 3) * kQzfBlockSize;
        badLength = 2 * kQzfBlockSize;
    }

    std::string Range() const { return std::to_string(badStart) + ":" + std::to_string(badLength); }
    bool TouchesBad(const Packet& p) const {
        return p.start < badStart + badLength && badStart < p.end;
    }

    TempDir dir;
    std::string path;
    uint64_t size = 0;
    uint64_t badStart = 0;
    uint64_t badLength = 0;
    int pictures = 0;
};

TEST_F(ReadErrors, BadSectorsCostOnlyThePacketsOnThem) {
    FaultDisk disk(path, dir.File("mnt"), {Range()});
    if (!disk.Mounted()) {
        GTEST_SKIP() << disk.WhyNot();
    }
    int cleanFailures = 0;
    const auto clean = ReadAll(path, &cleanFailures);
    int failures = 0;
    const auto read = ReadAll(disk.Path(), &failures);
    ASSERT_GT(clean.size(), 300u);
    EXPECT_GT(failures, cleanFailures) << "the bad sectors were never met";

    // What was read is what is on the disk, byte for byte, at the same place.
    for (const auto& [end, p] : read) {
        const auto it = clean.find(end);
        ASSERT_NE(it, clean.end()) << "a packet ending at " << end << " that is not in the file";
        EXPECT_EQ(p.bytes, it->second.bytes) << "packet ending at " << end;
    }
    // What was lost lies on the bad sectors; the rest, before and after, is there.
    int lost = 0;
    for (const auto& [end, p] : clean) {
        if (read.count(end) == 0) {
            ++lost;
            EXPECT_TRUE(TouchesBad(p))
                << "lost a packet at " << p.start << ".." << p.end << " away from the bad sectors";
        }
    }
    EXPECT_GT(lost, 0);
    EXPECT_LT(lost, 12);
    EXPECT_EQ(read.rbegin()->first, clean.rbegin()->first) << "reading stopped at the bad sectors";

    // Backwards across the same sectors, and a time search over them.
    CStreamFile back;
    ASSERT_EQ(back.Open(disk.Path(), 0), 1);
    back.SetPosition(size - 1);
    std::vector<uint8_t> buf(kEnginePacketSize);
    int backPackets = 0;
    for (int tries = 0; tries < 20000 && back.GetPosition() > 0; ++tries) {
        if (back.ReadBackward(buf.data()) > 0) {
            ++backPackets;
        }
    }
    EXPECT_EQ(back.GetPosition(), 0u);
    EXPECT_GE(backPackets, static_cast<int>(clean.size()) - lost - 2);

    CStreamFile plain;
    ASSERT_EQ(plain.Open(path, 0), 1);
    const uint32_t late = 1700000000 + pictures / 8 - 3;
    EXPECT_EQ(back.FindTime(late), plain.FindTime(late));
}

TEST_F(ReadErrors, EnginePlaysPastBadSectorsAndLivesThroughALostDisk) {
    FaultDisk disk(path, dir.File("mnt"), {Range()});
    if (!disk.Mounted()) {
        GTEST_SKIP() << disk.WhyNot();
    }
    PictureLog log;
    auto engine = std::make_unique<CPlayerEngine>();
    engine->Init(nullptr, nullptr, 4, 5, 8, 8000, 8);
    engine->SetMode(1, -1);
    engine->SetPictureSink(log.Sink());
    ASSERT_EQ(engine->OpenStream(disk.Path(), 0), 1);

    // Through the bad sectors to the end: nearly every picture is shown.
    engine->Play(8);
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= 10; }));
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }, 60000));
    EXPECT_GE(static_cast<int>(log.Count()), pictures - 12);
    EXPECT_TRUE(engine->HasThread());

    // The same backwards from the end.
    const size_t forward = log.Count();
    engine->PlayBackward(8);
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= forward + 10; }));
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }, 60000));
    EXPECT_GE(static_cast<int>(log.Count() - forward), pictures - 12);

    // Now the whole disk fails while it plays: every command still answers,
    // and nothing more is shown until it comes back.
    engine->Seek(0);
    engine->Play(1);
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= forward * 2 + 5; }));
    disk.BreakAll();
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }, 60000));
    const size_t stalled = log.Count();
    const uint32_t t0 = GetTickCount();
    engine->Seek(size / 2);
    engine->Play(2);
    engine->StepBackward();
    engine->PlayBackward(1);
    EXPECT_EQ(engine->Pause(), 1);
    EXPECT_LT(GetTickCount() - t0, 5000u) << "commands waited on a dead disk";
    ASSERT_TRUE(WaitFor([&] { return engine->GetPlayState() == kStatePause; }, 60000));
    EXPECT_LE(log.Count(), stalled + 2) << "pictures shown from a disk that cannot be read";
    EXPECT_TRUE(engine->HasThread());

    disk.Heal();
    engine->Seek(0);
    engine->Play(8);
    EXPECT_TRUE(WaitFor([&] { return log.Count() >= stalled + 20; }));
    EXPECT_EQ(engine->StopPlayback(), 1);
    engine.reset();
}

TEST_F(ReadErrors, ToolsNameTheUnreadableBlocksAndLeaveNoBrokenCopy) {
    FaultDisk disk(path, dir.File("mnt"), {Range()});
    if (!disk.Mounted()) {
        GTEST_SKIP() << disk.WhyNot();
    }
    const std::string tool = BinaryDir() + "/tools/qzftool/qzftool";
    if (access(tool.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "qzftool was not built";
    }
    const std::string report = dir.File("verify.txt");
    EXPECT_EQ(std::system(
                  ("'" + tool + "' verify '" + disk.Path() + "' >'" + report + "' 2>&1").c_str()) >>
                  8,
              1)
        << "verify passed a disk with bad sectors";
    const std::string text = ReadText(report);
    EXPECT_NE(text.find("bad block at offset " + std::to_string(badStart) + " (unreadable: "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("2 bad (2 unreadable)"), std::string::npos) << text;
    EXPECT_EQ(RunQuiet("'" + tool + "' verify '" + path + "'"), 0);

    // A copy over the bad sectors fails and leaves nothing; one beside them works.
    const std::string broken = dir.File("broken.qzf");
    const std::string why = dir.File("copy.txt");
    EXPECT_EQ(std::system(("'" + tool + "' copy '" + disk.Path() + "' 0 " +
                           std::to_string(size - 1) + " '" + broken + "' 2>'" + why + "'")
                              .c_str()) >>
                  8,
              1);
    EXPECT_NE(ReadText(why).find("Input/output error"), std::string::npos) << ReadText(why);
    EXPECT_FALSE(std::filesystem::exists(broken)) << "a copy missing the bad blocks was kept";
    const std::string part = dir.File("part.qzf");
    EXPECT_EQ(RunQuiet("'" + tool + "' copy '" + disk.Path() + "' " +
                       std::to_string(badStart + badLength) + " " + std::to_string(size - 1) +
                       " '" + part + "'"),
              0);
    EXPECT_EQ(RunQuiet("'" + tool + "' verify '" + part + "'"), 0);
}

TEST_F(ReadErrors, ARawDiskWithBadSectorsReadsTheSameWay) {
    // A recorder's disk holds the same bytes with every 16-bit word swapped.
    std::vector<char> bytes(size);
    {
        std::ifstream in(path, std::ios::binary);
        in.read(bytes.data(), static_cast<std::streamsize>(size));
    }
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::swap(bytes[i], bytes[i + 1]);
    }
    const std::string image = dir.File("disk.img");
    {
        std::ofstream out(image, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    FaultDisk disk(image, dir.File("mnt"), {Range()});
    if (!disk.Mounted()) {
        GTEST_SKIP() << disk.WhyNot();
    }
    int cleanFailures = 0;
    const auto clean = ReadAll(path, &cleanFailures);
    int failures = 0;
    const auto read = ReadAll(disk.Path(), &failures, 1);
    ASSERT_GT(read.size(), clean.size() - 12);
    for (const auto& [end, p] : read) {
        const auto it = clean.find(end);
        ASSERT_NE(it, clean.end());
        EXPECT_EQ(p.bytes, it->second.bytes) << "packet ending at " << end;
    }
    for (const auto& [end, p] : clean) {
        if (read.count(end) == 0) {
            EXPECT_TRUE(TouchesBad(p)) << "lost a packet away from the bad sectors";
        }
    }
}

} // namespace
