// qzftool under stop signals and over existing files: a signal at any moment
// ends a command that writes with its output whole, and a recording never
// replaces a file unasked.

#include "dvrsim/dvr_sim.h"
#include "engine/engine_test_util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pthread.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tv;
using namespace tv::enginetest;

namespace {

std::string Tool() {
    const char* bin = std::getenv("TV_BINARY_DIR");
    return std::string(bin != nullptr ? bin : ".") + "/tools/qzftool/qzftool";
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts the tool with stderr in errPath; with `blocked` the stop signals are
// blocked across the exec, so a signal sent at once is pending from the
// tool's first instruction on: the earliest moment one can arrive.
pid_t Spawn(const std::vector<std::string>& args, const std::string& errPath, bool blocked) {
    // Blocked before the fork, so that no signal can reach the child before.
    sigset_t set;
    sigset_t old;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, blocked ? &set : nullptr, &old);
    const pid_t pid = fork();
    if (pid != 0) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    } else {
        const int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        std::vector<char*> argv;
        const std::string tool = Tool();
        argv.push_back(const_cast<char*>("qzftool"));
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

// Exit status, or 1000 + the signal that killed it.
int Reap(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

DvrSimOptions Live() {
    DvrSimOptions opt;
    opt.password = "1234";
    opt.channels = 1;
    opt.keyInterval = 5;
    return opt;
}

} // namespace

TEST(ToolSignals, RecordTakesAStopSignalFromItsFirstMoment) {
    TempDir dir;
    CDvrSim sim(Live());
    ASSERT_EQ(sim.Start(), 1) << sim.GetError();
    const std::string port = std::to_string(sim.GetPort());
    for (const int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        const std::string out = dir.File("early.QZF");
        const std::string err = dir.File("err.txt");
        const pid_t pid = Spawn({"record", "--ip", "127.0.0.1", "--port", port, "--password",
                                 "1234", "--seconds", "5", out},
                                err, true);
        ASSERT_GT(pid, 0);
        kill(pid, sig);
        EXPECT_EQ(Reap(pid), 1) << Slurp(err);
        EXPECT_NE(Slurp(err).find("stopped before the login"), std::string::npos) << Slurp(err);
        EXPECT_FALSE(std::filesystem::exists(out)); // nothing was recorded, nothing is left
    }
    sim.Stop();
}

TEST(ToolSignals, SighupEndsAnExportWithAWholeFile) {
    TempDir dir;
    const std::string qzf = dir.File("s.qzf");
    const std::string avi = dir.File("o.avi");
    const std::string err = dir.File("err.txt");
    ASSERT_EQ(Reap(Spawn({"make-sample", qzf, "--channels", "8", "--seconds", "60"}, err, false)),
              0);
    const pid_t pid = Spawn({"export", qzf, avi, "--codec", "ffvhuff"}, err, false);
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 600 && Slurp(err).find(" 5%") == std::string::npos; ++i) {
        usleep(50 * 1000);
    }
    kill(pid, SIGHUP);
    const int status = Reap(pid);
    // A slow machine may not get there before the export ends on its own.
    EXPECT_TRUE(status == 130 || status == 0) << status << " " << Slurp(err);
    // The index goes at the end of the file: only a closed export has it.
    EXPECT_NE(Slurp(avi).find("idx1"), std::string::npos);
}

TEST(ToolSignals, RecordLeavesAnExistingFileAloneUnlessForced) {
    TempDir dir;
    CDvrSim sim(Live());
    ASSERT_EQ(sim.Start(), 1) << sim.GetError();
    const std::string port = std::to_string(sim.GetPort());
    const std::string out = dir.File("earlier.QZF");
    const std::string err = dir.File("err.txt");
    {
        std::ofstream f(out);
        f << "an earlier recording";
    }
    const std::vector<std::string> args = {"record",     "--ip", "127.0.0.1", "--port", port,
                                           "--password", "1234", "--seconds", "1",      out};
    EXPECT_EQ(Reap(Spawn(args, err, false)), 2);
    EXPECT_NE(Slurp(err).find("exists; --force replaces it"), std::string::npos) << Slurp(err);
    EXPECT_TRUE(Slurp(out) == "an earlier recording"); // (not printed: may be a recording)
    EXPECT_EQ(sim.GetStats().connections, 0u);         // refused before the recorder was asked

    std::vector<std::string> forced = args;
    forced.insert(forced.end() - 1, "--force");
    EXPECT_EQ(Reap(Spawn(forced, err, false)), 0) << Slurp(err);
    const std::string recorded = Slurp(out);
    EXPECT_GT(recorded.size(), 0u);
    EXPECT_EQ(recorded.size() % 4096, 0u);
    sim.Stop();
}
