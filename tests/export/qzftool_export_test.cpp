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
#include "media/block_writer.h"
#include "synth/test_pattern.h"
#include "synth/video_encoder.h"

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

// fileBlocks > 0 caps the size of every file the tool writes (in the shell's
// ulimit blocks): a write beyond fails with EFBIG, as on a full disk.
int RunTool(const std::string& args, std::string* err = nullptr, int fileBlocks = 0) {
    const std::string errFile =
        fs::temp_directory_path() / ("tv_export_err_" + std::to_string(getpid()));
    const std::string limit =
        fileBlocks > 0 ? "trap '' XFSZ; ulimit -f " + std::to_string(fileBlocks) + "; " : "";
    const int status =
        std::system((limit + Tool() + " " + args + " 2>" + test::Quote(errFile)).c_str());
    if (err) {
        std::ifstream in(errFile);
        err->assign(std::istreambuf_iterator<char>(in), {});
    }
    fs::remove(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The tool's exit status; -1 when it had not ended after a minute (it is
// killed then) or ended by a signal.
int WaitTool(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 1200 && waitpid(pid, &status, WNOHANG) != pid; ++i, status = -1) {
        usleep(50 * 1000);
    }
    if (status == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    long Files() const { return std::distance(fs::directory_iterator(m_dir), {}); }
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

// One channel at pps pictures in each of the seconds given (frame gap 0,
// whatever the real pace), with sound in real time on each audio channel:
// 0x40 bytes on channel 0, 0xC0 on channel 1.
void WriteSeconds(const std::string& path, int format, const std::vector<time_t>& seconds, int pps,
                  int audioChannels) {
    CQzfBlockWriter w;
    ASSERT_TRUE(w.OpenFile(path));
    w.SetFormat(format);
    w.SetChannelMask(1);
    w.SetFrameGap(0);
    synth::CChannelEncoder encoder(224);
    std::vector<uint8_t> yuv(synth::CVideoEncoder::PictureBytes(224)), packet;
    const std::vector<uint8_t> sound[2] = {std::vector<uint8_t>(1000, 0x40),
                                           std::vector<uint8_t>(1000, 0xC0)};
    for (size_t i = 0; i < seconds.size() * pps; ++i) {
        w.SetTime(seconds[i / pps]);
        synth::DrawTestPattern(yuv.data(), 640, 224, 0, i, "12:00:00");
        synth::PictureHeader h;
        h.format = format;
        ASSERT_GT(encoder.Encode(yuv.data(), h, packet), 0u);
        ASSERT_TRUE(w.Write(packet.data(), packet.size()));
        for (int k = 0; k < 8 / pps; ++k) {
            for (int a = 0; a < audioChannels; ++a) {
                ASSERT_TRUE(w.WriteAudioPacket(a, sound[a].data(), sound[a].size()));
            }
        }
    }
    ASSERT_TRUE(w.Finish());
    ASSERT_TRUE(w.Close());
}

void WriteOneChannel(const std::string& path, int format, int seconds, int pps, int audioChannels) {
    std::vector<time_t> times;
    for (int i = 0; i < seconds; ++i) {
        times.push_back(time_t(1717243200 + i));
    }
    WriteSeconds(path, format, times, pps, audioChannels);
}

TEST_F(QzftoolExport, ExportKeepsTheRecordingsTime) {
    // Eight channels at the recorder's pace: 3.75 cycles a second.
    ASSERT_EQ(RunTool("make-sample " + File("s.qzf") + " --channels 8 --seconds 20 > /dev/null"),
              0);
    ASSERT_EQ(RunTool("export " + File("s.qzf") + " " + File("o.avi")), 0);
    auto s = test::ProbeStreams(File("o.avi"));
    ASSERT_EQ(s.size(), 2u);
    EXPECT_NEAR(std::stod(s[0].at("duration")), 20.0, 0.5);
    EXPECT_NEAR(std::stoi(s[1].at("nb_frames")) / 8000.0, 20.0, 0.5);

    // One picture a second although the gap says 30 a second, sound in real time.
    WriteOneChannel(File("one.qzf"), 4, 12, 1, 1);
    ASSERT_EQ(RunTool("export " + File("one.qzf") + " " + File("one.avi") +
                      " --split 1 --audio QZ_UPCM8"),
              0);
    s = test::ProbeStreams(File("one.avi"));
    ASSERT_EQ(s.size(), 2u);
    EXPECT_NEAR(std::stod(s[0].at("duration")), 12.0, 0.5);
    EXPECT_NEAR(std::stoi(s[1].at("nb_frames")) / 8000.0, 12.0, 0.5);
    // Each picture at its own second, beside its sound.
    const std::vector<double> times = test::PictureTimes(File("one.avi"));
    ASSERT_EQ(times.size(), 12u);
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_NEAR(times[i], double(i), 0.1) << i;
    }
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

TEST_F(QzftoolExport, StopSignalEndsTheExportAndLeavesNoFile) {
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
    // Stop it once the export has made some progress.
    for (int i = 0; i < 600; ++i) {
        std::ifstream in(errFile);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        if (text.find(" 5%") != std::string::npos) {
            break;
        }
        usleep(50 * 1000);
    }
    kill(pid, SIGTERM);
    const int status = WaitTool(pid);
    // A slow machine may not get there before the export ends on its own.
    ASSERT_TRUE(status == 130 || status == 0) << status;
    EXPECT_EQ(fs::exists(File("o.avi")), status == 0);
    EXPECT_EQ(Files(), status == 0 ? 3 : 2); // no temporary file left either
}

// Two blocks of an unset recorder clock (1000 s after 1970) inside five
// seconds of today: the export holds what the recording holds, not the
// decades between (the file size limit stops a runaway export).
TEST_F(QzftoolExport, ClockJumpsInTheRecordingExportWhatItHolds) {
    const time_t today = 1717243200;
    WriteSeconds(File("jump.qzf"), 4,
                 {today, today + 1, 1000, 1001, today + 2, today + 3, today + 4}, 2, 1);
    std::string err;
    ASSERT_EQ(
        RunTool("export " + File("jump.qzf") + " " + File("o.avi") + " --split 1 --audio QZ_UPCM8",
                &err, 131072),
        0)
        << err;
    EXPECT_LT(fs::file_size(File("o.avi")), 4u << 20);
    const auto s = test::ProbeStreams(File("o.avi"));
    ASSERT_EQ(s.size(), 2u);
    EXPECT_NEAR(std::stod(s[0].at("duration")), 7.0, 1.0);
    EXPECT_NEAR(std::stoi(s[1].at("nb_frames")) / 8000.0, 7.0, 1.0);
}

// A full disk (here the file size limit) is told in one line naming the
// file; nothing is left, and an earlier file of that name is kept.
TEST_F(QzftoolExport, FullDiskGivesOneLineAndLeavesNoFile) {
    ASSERT_EQ(RunTool("make-sample " + File("s.qzf") + " --channels 8 --seconds 10"), 0);
    std::ofstream(File("o.avi")) << "an earlier export";
    std::string err;
    EXPECT_EQ(RunTool("export " + File("s.qzf") + " " + File("o.avi"), &err, 600), 1);
    EXPECT_NE(err.find("\nqzftool export: Disk full: could not write " + File("o.avi") + "\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err; // the progress line, the error
    std::ifstream in(File("o.avi"));
    EXPECT_TRUE(std::string((std::istreambuf_iterator<char>(in)), {}) == "an earlier export");
    EXPECT_EQ(Files(), 2);
}

TEST_F(QzftoolExport, QzaExportCarriesAudioChannelZeroOnly) {
    WriteOneChannel(File("a.qzf"), 6, 4, 8, 2);
    std::string err;
    ASSERT_EQ(RunTool("export " + File("a.qzf") + " " + File("o.avi") +
                          " --format QZ_QZA --audio QZ_UPCM8 --split 1",
                      &err),
              0)
        << err;
    const auto audio = test::DecodeAudio(File("o.avi"), "u8");
    EXPECT_EQ(audio.size(), 32u * 1000u);
    EXPECT_EQ(std::count(audio.begin(), audio.end(), 0xC0), 0);
}

TEST_F(QzftoolExport, OutputThatIsTheInputIsRefused) {
    ASSERT_EQ(RunTool("make-sample " + File("s.qzf") + " --channels 1 --seconds 1"), 0);
    const auto before = fs::file_size(File("s.qzf"));
    fs::create_hard_link(File("s.qzf"), File("hard.qzf"));
    fs::create_symlink(File("s.qzf"), File("soft.avi"));
    std::string err;
    for (const std::string& out :
         {File("s.qzf"), m_dir + "/./s.qzf", File("hard.qzf"), File("soft.avi")}) {
        EXPECT_EQ(RunTool("export " + File("s.qzf") + " " + test::Quote(out), &err), 2) << out;
        EXPECT_NE(err.find("recording itself"), std::string::npos) << err;
        EXPECT_EQ(fs::file_size(File("s.qzf")), before);
    }
    // decode writes index.jsonl and chN.EXT into --out: none of them may be the input.
    fs::create_directory(File("dec"));
    fs::create_hard_link(File("s.qzf"), File("dec/index.jsonl"));
    fs::create_symlink(File("s.qzf"), File("dec/ch0.yuv"));
    EXPECT_EQ(RunTool("decode " + File("s.qzf") + " --out " + File("dec"), &err), 2);
    EXPECT_NE(err.find("recording itself"), std::string::npos) << err;
    fs::remove(File("dec/index.jsonl"));
    EXPECT_EQ(RunTool("decode " + File("s.qzf") + " --out " + File("dec"), &err), 2);
    EXPECT_EQ(fs::file_size(File("s.qzf")), before);
    EXPECT_TRUE(fs::is_symlink(File("dec/ch0.yuv")));
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
