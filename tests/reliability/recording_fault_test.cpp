// `qzftool record` and its fellow commands when things go wrong: the disk
// fills, the recorder leaves the recording short, the tool is killed or sent
// a stop signal at its first moment. The tool must stop with the reason, never
// report success for what it did not do, and what reached the disk must read
// back.

#include "dvrsim/dvr_sim.h"
#include "engine/engine_test_util.h"
#include "media/stream_file.h"
#include "video/video_decoder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pthread.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tv;
using namespace tv::enginetest;

namespace {

std::string ToolPath() {
    const char* bin = std::getenv("TV_BINARY_DIR");
    return std::string(bin != nullptr ? bin : ".") + "/tools/qzftool/qzftool";
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Packets read front to back and how many of the video ones decode.
struct ReadBack {
    int packets = 0;
    int pictures = 0;
    int refused = 0;
};

ReadBack ReadRecording(const std::string& path, int format) {
    ReadBack r;
    CStreamFile file;
    file.SetFormat(format);
    if (!file.Open(path, 0)) {
        r.packets = -1;
        return r;
    }
    CVideoDecoder decoder;
    decoder.SetMode(format);
    std::vector<uint8_t> packet(kEnginePacketSize);
    std::vector<uint8_t> picture(kEnginePictureSize);
    int failures = 0;
    while (failures < 5) {
        const int n = file.ReadForward(packet.data());
        if (n <= 0) {
            ++failures;
            continue;
        }
        failures = 0;
        ++r.packets;
        if (file.IsAudio()) {
            continue;
        }
        if (decoder.ParseHeader(packet.data(), n) &&
            decoder.Decode(packet.data(), n, picture.data(), picture.size())) {
            ++r.pictures;
        } else {
            ++r.refused;
        }
    }
    return r;
}

TEST(RecordingFaults, FullDiskStopsQzfToolWithTheReasonAndKeepsWhatWasWritten) {
    TempDir dir;
    RecordingBuilder source;
    for (int i = 0; i < 10; ++i) {
        source.Picture(0);
        source.Audio(320);
    }
    DvrSimOptions opt;
    opt.password = "1234";
    opt.channels = 1;
    opt.fps = 25;
    opt.keyInterval = 5;
    opt.source = source.Save(dir.File("source.qzf"));
    CDvrSim sim(opt);
    ASSERT_EQ(sim.Start(), 1) << sim.GetError();

    const std::string out = dir.File("full.QZF");
    const std::string errPath = dir.File("stderr.txt");
    const std::string tool = ToolPath();
    const std::string port = std::to_string(sim.GetPort());
    // The disk fills inside the ninth block.
    const rlim_t limit = 8 * 4096 + 1500;
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(errFd, 2);
        std::signal(SIGXFSZ, SIG_IGN); // kept across exec: writes fail with EFBIG
        struct rlimit lim;
        getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lim);
        // Long enough that a tool carrying on after the failure is told apart.
        execl(tool.c_str(), "qzftool", "record", "--ip", "127.0.0.1", "--port", port.c_str(),
              "--password", "1234", "--seconds", "60", out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    sim.Stop();
    const std::string err = ReadText(errPath);
    ASSERT_TRUE(WIFEXITED(status)) << err;
    EXPECT_EQ(WEXITSTATUS(status), 1) << err;
    EXPECT_NE(err.find("Recording stopped: " + out), std::string::npos) << err;
    EXPECT_NE(err.find("too large"), std::string::npos) << err;

    // The file holds what fitted and reads back up to where the disk filled.
    const auto size = std::filesystem::file_size(out);
    EXPECT_LE(size, limit);
    EXPECT_GT(size, 4096u * 4);
    const ReadBack back = ReadRecording(out, 4);
    EXPECT_GE(back.pictures, 2);
    // Only the packet the disk cut may be refused.
    EXPECT_LE(back.refused, 1);
}

} // namespace

namespace {

// Exit status and everything the tool printed.
int RunTool(const std::vector<std::string>& args, std::string* out) {
    std::string cmd = ToolPath();
    for (const auto& a : args) {
        cmd += " '" + a + "'";
    }
    cmd += " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) {
        return -1;
    }
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
        out->append(buf, n);
    }
    const int status = pclose(p);
    // A signal (a crash, a sanitizer abort) is told apart from a refusal.
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

TEST(ToolInput, TenThousandCharacterValuesAreRefusedClearly) {
    const std::string longText(10000, 'a');
    const std::string longDigits(10000, '9');
    const std::string longPath = "/tmp/" + longText + ".qzf";
    const std::vector<std::vector<std::string>> cases = {
        {"info", longPath},
        {"verify", longPath},
        {"packets", longPath},
        {"record", "--ip", longText, "--port", "5000", "out.qzf"},
        {"record", "--ip", "127.0.0.1", "--port", longDigits, "out.qzf"},
        {"find-time", longPath, longDigits},
        {"export", longPath, "/tmp/" + longText + ".avi"},
        {longText},
    };
    for (const auto& args : cases) {
        std::string out;
        const int status = RunTool(args, &out);
        EXPECT_TRUE(status == 1 || status == 2) << args[0] << ": " << status << "\n"
                                                << out.substr(0, 300);
        EXPECT_NE(out.find("qzftool"), std::string::npos) << args[0];
    }
    // Something that has no size is refused for that reason, not a stale one.
    std::string out;
    EXPECT_EQ(RunTool({"info", "/dev/null"}, &out), 2);
    EXPECT_NE(out.find("cannot open /dev/null: no size"), std::string::npos) << out;
}

} // namespace

namespace {

// qzftool started in the background, its stderr kept in a file. With
// `blocked` the stop signals are blocked across the exec (from before the
// fork), so one sent at once is pending from the tool's first instruction.
struct ToolProcess {
    pid_t pid = -1;
    std::string errPath;

    ToolProcess(const TempDir& dir, const std::vector<std::string>& args, bool blocked = false)
        : errPath(dir.File("tool-stderr.txt")) {
        sigset_t set;
        sigset_t old;
        sigemptyset(&set);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&set, sig);
        }
        pthread_sigmask(SIG_BLOCK, blocked ? &set : nullptr, &old);
        const std::string tool = ToolPath();
        pid = fork();
        if (pid == 0) {
            const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(errFd, 2);
            std::vector<char*> argv = {const_cast<char*>("qzftool")};
            for (const std::string& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(tool.c_str(), argv.data());
            _exit(127);
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
    // Exit status, or 1000 + signal.
    int Wait() {
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid) {
            return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }
    std::string Err() const { return ReadText(errPath); }
};

std::vector<std::string> RecordArgs(uint16_t port, const std::string& out,
                                    const std::string& seconds) {
    return {"record",     "--ip", "127.0.0.1", "--port", std::to_string(port),
            "--password", "1234", "--timeout", "1000",   "--seconds",
            seconds,      out};
}

bool WaitForRecording(const std::string& out) {
    for (int i = 0; i < 500; ++i) {
        std::error_code ec;
        if (std::filesystem::file_size(out, ec) > 0 && !ec) {
            return true;
        }
        usleep(20000);
    }
    return false;
}

DvrSimOptions LiveOptions() {
    DvrSimOptions opt;
    opt.password = "1234";
    opt.channels = 1;
    opt.fps = 25;
    opt.keyInterval = 5;
    return opt;
}

} // namespace

// Each way the recorder can leave a recording short ends the tool with a
// failure that says why and how much was recorded, never with success.
TEST(RecordingFaults, QzfToolFailsWhenTheRecorderLeavesTheRecordingShort) {
    TempDir dir;
    {
        SCOPED_TRACE("the login after a dropped connection is refused");
        auto sim = std::make_unique<CDvrSim>(LiveOptions());
        ASSERT_EQ(sim->Start(), 1) << sim->GetError();
        const uint16_t port = sim->GetPort();
        const std::string out = dir.File("refused.QZF");
        ToolProcess run(dir, RecordArgs(port, out, "20"));
        ASSERT_TRUE(WaitForRecording(out));
        sim->Stop();
        DvrSimOptions refuse = LiveOptions();
        refuse.port = port;
        refuse.loginReply = SimLoginReply::Refuse;
        sim = std::make_unique<CDvrSim>(refuse);
        ASSERT_EQ(sim->Start(), 1) << sim->GetError();
        EXPECT_EQ(run.Wait(), 1) << run.Err();
        EXPECT_NE(run.Err().find("refused to log in again"), std::string::npos) << run.Err();
        EXPECT_NE(run.Err().find("recorded "), std::string::npos) << run.Err();
        EXPECT_GT(std::filesystem::file_size(out), 0u);
    }
    {
        SCOPED_TRACE("the recorder never sends a picture");
        DvrSimOptions opt = LiveOptions();
        opt.stream = false;
        CDvrSim sim(opt);
        ASSERT_EQ(sim.Start(), 1) << sim.GetError();
        const std::string out = dir.File("silent.QZF");
        ToolProcess run(dir, RecordArgs(sim.GetPort(), out, "2"));
        EXPECT_EQ(run.Wait(), 1) << run.Err();
        EXPECT_NE(run.Err().find("sent no picture to record; recorded 0.0 s of the 2.0 s asked"),
                  std::string::npos)
            << run.Err();
        EXPECT_FALSE(std::filesystem::exists(out)); // no empty file posing as a recording
    }
    {
        SCOPED_TRACE("the recorder goes away for good");
        CDvrSim sim(LiveOptions());
        ASSERT_EQ(sim.Start(), 1) << sim.GetError();
        const std::string out = dir.File("gone.QZF");
        ToolProcess run(dir, RecordArgs(sim.GetPort(), out, "4"));
        ASSERT_TRUE(WaitForRecording(out));
        usleep(500000);
        sim.Stop();
        EXPECT_EQ(run.Wait(), 1) << run.Err();
        EXPECT_NE(run.Err().find("went away and did not come back"), std::string::npos)
            << run.Err();
        EXPECT_NE(run.Err().find(" s of the 4.0 s asked"), std::string::npos) << run.Err();
        EXPECT_EQ(std::filesystem::file_size(out) % 4096, 0u);
    }
}

// A recording killed outright: no padding, no end mark. What the kill leaves
// must read back to its last whole block, check clean apart from its cut
// tail, and repair into a file that reads back the same.
TEST(RecordingFaults, ARecordingKilledOutrightChecksCleanAndRepairs) {
    TempDir dir;
    CDvrSim sim(LiveOptions());
    ASSERT_EQ(sim.Start(), 1) << sim.GetError();
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        std::string name = "killed"; // appended: GCC 12 -O3 warns falsely on "literal" + string
        name += std::to_string(i);
        const std::string out = dir.File(name + ".QZF");
        ToolProcess run(dir, RecordArgs(sim.GetPort(), out, "30"));
        ASSERT_TRUE(WaitForRecording(out));
        usleep(static_cast<useconds_t>(300000 + 250000 * i));
        kill(run.pid, SIGKILL);
        ASSERT_EQ(run.Wait(), 1000 + SIGKILL);
        std::string text;
        EXPECT_EQ(RunTool({"verify", out}, &text), 0) << text;
        EXPECT_EQ(text.find("bad block"), std::string::npos) << text;
        const ReadBack killed = ReadRecording(out, 4);
        EXPECT_GE(killed.pictures, 1);
        EXPECT_EQ(killed.refused, 0); // no packet is handed on cut short
        const std::string fixed = out + ".fixed";
        ASSERT_EQ(RunTool({"repair", out, fixed}, &text), 0) << text;
        text.clear();
        EXPECT_EQ(RunTool({"verify", fixed}, &text), 0) << text;
        EXPECT_EQ(text.find("cut tail"), std::string::npos) << text;
        const ReadBack repaired = ReadRecording(fixed, 4);
        EXPECT_EQ(repaired.packets, killed.packets);
        EXPECT_EQ(repaired.pictures, killed.pictures);
    }
    sim.Stop();
}

// A stop signal at any moment, the earliest included, ends a command that
// writes with its output whole; SIGHUP is no exception.
TEST(ToolSignals, StopSignalsAreTakenFromTheFirstMomentAndAlike) {
    TempDir dir;
    CDvrSim sim(LiveOptions());
    ASSERT_EQ(sim.Start(), 1) << sim.GetError();
    for (const int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        const std::string out = dir.File("early.QZF");
        ToolProcess run(dir, RecordArgs(sim.GetPort(), out, "5"), true);
        kill(run.pid, sig);
        EXPECT_EQ(run.Wait(), 1) << run.Err();
        EXPECT_NE(run.Err().find("stopped before the login"), std::string::npos) << run.Err();
        EXPECT_FALSE(std::filesystem::exists(out)); // nothing recorded, nothing left
    }
    sim.Stop();

    const std::string qzf = dir.File("s.qzf");
    const std::string avi = dir.File("o.avi");
    ASSERT_EQ(ToolProcess(dir, {"make-sample", qzf, "--channels", "8", "--seconds", "60"}).Wait(),
              0);
    ToolProcess run(dir, {"export", qzf, avi, "--codec", "ffvhuff"});
    for (int i = 0; i < 600 && run.Err().find(" 5%") == std::string::npos; ++i) {
        usleep(50 * 1000);
    }
    kill(run.pid, SIGHUP);
    const int status = run.Wait();
    // A slow machine may not get there before the export ends on its own.
    EXPECT_TRUE(status == 130 || status == 0) << status << " " << run.Err();
    // A stopped export leaves nothing; one that ended is whole (the index
    // goes at the end of the file).
    if (status == 130) {
        EXPECT_FALSE(std::filesystem::exists(avi));
    } else {
        EXPECT_NE(ReadText(avi).find("idx1"), std::string::npos);
    }
}

TEST(ToolSignals, RecordLeavesAnExistingFileAloneUnlessForced) {
    TempDir dir;
    CDvrSim sim(LiveOptions());
    ASSERT_EQ(sim.Start(), 1) << sim.GetError();
    const std::string out = dir.File("earlier.QZF");
    {
        std::ofstream f(out);
        f << "an earlier recording";
    }
    std::vector<std::string> args = RecordArgs(sim.GetPort(), out, "1");
    ToolProcess refused(dir, args);
    EXPECT_EQ(refused.Wait(), 2);
    EXPECT_NE(refused.Err().find("exists; --force replaces it"), std::string::npos)
        << refused.Err();
    EXPECT_TRUE(ReadText(out) == "an earlier recording"); // (not printed: may be a recording)
    EXPECT_EQ(sim.GetStats().connections, 0u);            // refused before asking the recorder
    args.insert(args.end() - 1, "--force");
    ToolProcess forced(dir, args);
    EXPECT_EQ(forced.Wait(), 0) << forced.Err();
    const auto size = std::filesystem::file_size(out);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(size % 4096, 0u);
    sim.Stop();
}
