#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "export/frame_rate.h"
#include "export/probe.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

std::string Tool() {
    if (const char* bin = std::getenv("TV_BINARY_DIR")) {
        return std::string(bin) + "/tools/qzftool/qzftool";
    }
    // This binary lives in <build>/tests/export.
    const fs::path self = fs::read_symlink("/proc/self/exe");
    return (self.parent_path().parent_path().parent_path() / "tools/qzftool/qzftool").string();
}

int RunTool(const std::string& args, std::string* err = nullptr) {
    const std::string errFile =
        fs::temp_directory_path() / ("tv_export_err_" + std::to_string(getpid()));
    const int status = std::system((Tool() + " " + args + " 2>" + test::Quote(errFile)).c_str());
    if (err) {
        std::ifstream in(errFile);
        err->assign(std::istreambuf_iterator<char>(in), {});
    }
    fs::remove(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class QzftoolExport : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(Tool())) {
            GTEST_SKIP() << "qzftool not built";
        }
        char tmpl[] = "/tmp/tv_qzfexport_XXXXXX";
        m_dir = mkdtemp(tmpl);
    }
    void TearDown() override {
        if (!m_dir.empty()) {
            fs::remove_all(m_dir);
        }
    }
    std::string File(const std::string& n) const { return m_dir + "/" + n; }
    std::string m_dir;
};

TEST_F(QzftoolExport, SplitExportMatchesTheRecording) {
    ASSERT_EQ(RunTool("make-sample " + File("s.qzf") + " --channels 4 --seconds 4 --audio QZ_MLAW"),
              0);
    std::string err;
    ASSERT_EQ(RunTool("export " + File("s.qzf") + " " + File("o.avi") +
                          " --split 4 --audio QZ_MLAW --codec ffvhuff",
                      &err),
              0)
        << err;
    EXPECT_NE(err.find("100%"), std::string::npos);
    const auto s = test::ProbeStreams(File("o.avi"));
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].at("codec_name"), "ffvhuff");
    EXPECT_EQ(s[0].at("width"), "640");
    EXPECT_EQ(s[0].at("height"), "448");
    EXPECT_GT(std::stoi(s[0].at("nb_read_frames")), 4);
    EXPECT_EQ(s[1].at("codec_name"), "pcm_mulaw");
    // The sample tone runs the whole recording at 8000 Hz.
    EXPECT_NEAR(std::stoi(s[1].at("nb_frames")) / 8000.0, 4.0, 0.6);
}

TEST_F(QzftoolExport, OneChannelFramesAreItsPicturesStretched) {
    ASSERT_EQ(RunTool("make-sample " + File("s.qzf") + " --channels 2 --seconds 2"), 0);
    ASSERT_EQ(
        RunTool("export " + File("s.qzf") + " " + File("o.avi") + " --channel 2 --codec ffv1"), 0);
    ASSERT_EQ(RunTool("decode " + File("s.qzf") + " --pixel-format rgb24 --out " + File("dec")), 0);
    std::ifstream in(File("dec") + "/ch1.rgb24", std::ios::binary);
    const std::vector<uint8_t> pictures((std::istreambuf_iterator<char>(in)), {});
    const auto frames = test::DecodeVideo(File("o.avi"));
    const size_t picBytes = 640 * 224 * 3, frameBytes = 640 * 448 * 3;
    ASSERT_GT(pictures.size(), 0u);
    ASSERT_EQ(frames.size() / frameBytes, pictures.size() / picBytes);
    for (size_t i = 0; i < frames.size() / frameBytes; ++i) {
        const uint8_t* f = frames.data() + i * frameBytes;
        const uint8_t* p = pictures.data() + i * picBytes;
        // Below the label every frame row is a picture row, doubled.
        for (int y = 24; y < 448; ++y) {
            ASSERT_EQ(0, std::memcmp(f + size_t(y) * 640 * 3, p + size_t(y / 2) * 640 * 3, 640 * 3))
                << "frame " << i << " row " << y;
        }
    }
}

TEST_F(QzftoolExport, FrameRateFollowsTheRule) {
    const std::string made =
        test::RunCapture(Tool() + " make-sample " + test::Quote(File("s.qzf")) +
                         " --channels 4 --seconds 1 --lines 272");
    const size_t at = made.find("frame gap ");
    ASSERT_NE(at, std::string::npos) << made;
    const int gap = std::stoi(made.substr(at + 10));
    ASSERT_EQ(RunTool("export " + File("s.qzf") + " " + File("o.avi")), 0);
    const auto s = test::ProbeStreams(File("o.avi"));
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s[0].at("height"), "544");
    EXPECT_EQ(s[0].at("codec_name"), "mjpeg");
    // Four channels of QZ_QZB2 at 272 lines.
    EXPECT_EQ(s[0].at("r_frame_rate"),
              std::to_string(PlayerExportFrameRate(0x000F, gap, 4, true)) + "/1");
}

TEST_F(QzftoolExport, ErrorsGiveOneLineAndNoFile) {
    std::string err;
    EXPECT_EQ(RunTool("export " + File("missing.qzf") + " " + File("o.avi"), &err), 2);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_FALSE(fs::exists(File("o.avi")));

    ASSERT_EQ(RunTool("make-sample " + File("s.qzf") + " --channels 1 --seconds 1"), 0);
    EXPECT_EQ(RunTool("export " + File("s.qzf") + " " + File("o.avi") + " --codec nonesuch", &err),
              2);
    EXPECT_NE(err.find("nonesuch"), std::string::npos);
    EXPECT_EQ(RunTool("export " + File("s.qzf") + " " + File("o.avi") + " --codec h261", &err), 2);
    EXPECT_NE(err.find("Invalid codec!"), std::string::npos);
    EXPECT_EQ(RunTool("export " + File("s.qzf") + " " + File("o.avi") + " --split 5", &err), 2);
    EXPECT_EQ(
        RunTool("export " + File("s.qzf") + " " + File("o.avi") + " --split 9 --page 1", &err), 2);
    EXPECT_EQ(RunTool("export " + File("s.qzf") + " " + File("no/dir/o.avi"), &err), 2);
    EXPECT_FALSE(fs::exists(File("o.avi")));
}

TEST_F(QzftoolExport, InterruptLeavesAPlayableFile) {
    ASSERT_EQ(RunTool("make-sample " + File("s.qzf") + " --channels 8 --seconds 60"), 0);
    const std::string errFile = File("err.txt");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        execl(Tool().c_str(), "qzftool", "export", File("s.qzf").c_str(), File("o.avi").c_str(),
              "--codec", "ffvhuff", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Interrupt once the export has made some progress.
    for (int i = 0; i < 600; ++i) {
        std::ifstream in(errFile);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        if (text.find(" 5%") != std::string::npos) {
            break;
        }
        usleep(50 * 1000);
    }
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    // A slow machine may not get there before the export ends on its own.
    EXPECT_TRUE(WEXITSTATUS(status) == 130 || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
    const auto s = test::ProbeStreams(File("o.avi"));
    ASSERT_EQ(s.size(), 2u);
    EXPECT_GT(std::stoi(s[0].at("nb_read_frames")), 0);
    EXPECT_EQ(s[0].at("nb_read_frames"), s[0].at("nb_frames")); // the index was written
}

} // namespace
// Channels decoded side by side make the very file of one thread, audio
// interleaved as before.
TEST_F(QzftoolExport, SameFileForAnyNumberOfThreads) {
    ASSERT_EQ(RunTool("make-sample " + File("s.qzf") + " --channels 8 --seconds 3"), 0);
    for (const char* threads : {"1", "3"}) {
        ASSERT_EQ(RunTool("export " + File("s.qzf") + " " + File(std::string("t") + threads) +
                          ".avi --codec ffv1 --threads " + threads),
                  0);
    }
    std::ifstream a(File("t1.avi"), std::ios::binary), b(File("t3.avi"), std::ios::binary);
    const std::vector<char> one((std::istreambuf_iterator<char>(a)), {});
    const std::vector<char> three((std::istreambuf_iterator<char>(b)), {});
    EXPECT_GT(one.size(), 0u);
    EXPECT_TRUE(one == three);
    EXPECT_EQ(RunTool("export " + File("s.qzf") + " " + File("x.avi") + " --threads 0"), 2);
}

} // namespace tv
