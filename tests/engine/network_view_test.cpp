#include "dvrsim/dvr_sim.h"
#include "engine/player_engine.h"
#include "engine_test_util.h"
#include "export/probe.h"
#include "media/stream_file.h"
#include "video/video_decoder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

using namespace tv;
using namespace tv::enginetest;

namespace {

// Video packets in a QZF file that the decoder takes, read front to back.
int CountDecodablePictures(const std::string& path, int format) {
    CStreamFile file;
    file.SetFormat(format);
    if (!file.Open(path, 0)) {
        return -1;
    }
    CVideoDecoder decoder;
    decoder.SetMode(format);
    std::vector<uint8_t> packet(kEnginePacketSize);
    std::vector<uint8_t> picture(kEnginePictureSize);
    int pictures = 0;
    int failures = 0;
    while (failures < 5) {
        const int n = file.ReadForward(packet.data());
        if (n <= 0) {
            ++failures;
            continue;
        }
        failures = 0;
        if (!file.IsAudio() && decoder.ParseHeader(packet.data(), n) &&
            decoder.Decode(packet.data(), n, picture.data(), picture.size())) {
            ++pictures;
        }
    }
    return pictures;
}

class LiveViewTest : public ::testing::Test {
protected:
    void StartSim(bool realPictures, int fps = 25) {
        DvrSimOptions opt;
        opt.plain = !realPictures;
        opt.password = "1234";
        opt.channels = 1;
        opt.fps = fps;
        opt.keyInterval = 5;
        if (realPictures) {
            RecordingBuilder rec;
            for (int i = 0; i < 10; ++i) {
                rec.Picture(0);
                rec.Audio(320);
            }
            opt.source = rec.Save(dir.File("source.qzf"));
        }
        sim = std::make_unique<CDvrSim>(opt);
        ASSERT_EQ(sim->Start(), 1) << sim->GetError();
    }
    void StartEngine() {
        engine = std::make_unique<CPlayerEngine>();
        engine->Init(nullptr, nullptr, 4, 5, 8, 8000, 8);
        engine->SetMode(2, -1);
        engine->SetPictureSink(log.Sink());
    }
    void TearDown() override {
        engine.reset();
        if (sim) {
            sim->Stop();
        }
    }

    TempDir dir;
    PictureLog log;
    std::unique_ptr<CDvrSim> sim;
    std::unique_ptr<CPlayerEngine> engine;
};

TEST_F(LiveViewTest, PicturesAreShownAndRecordingsStartRestartAndStop) {
    StartSim(true);
    StartEngine();
    ASSERT_EQ(engine->Connect("127.0.0.1", sim->GetPort(), "", "1234"), 1);
    EXPECT_TRUE(engine->HasThread());
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= 3; }));
    EXPECT_EQ(engine->IsConnected(), 1);
    EXPECT_EQ(engine->GetNetworkState(), 3);
    EXPECT_EQ(log.Last().width, 640);
    // Live view leaves the play state alone.
    EXPECT_EQ(engine->GetPlayState(), kStateReady);

    EXPECT_EQ(engine->StopRecording(), 0);
    const std::string first = dir.File("first.QZF");
    const std::string second = dir.File("second.QZF");
    ASSERT_EQ(engine->StartRecording(first), 1);
    EXPECT_EQ(engine->IsRecording(), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetBytesRecorded() > 8192; }));
    // A new start closes the running file first.
    ASSERT_EQ(engine->StartRecording(second), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetBytesRecorded() > 8192; }));
    EXPECT_EQ(engine->StopRecording(), 1);
    EXPECT_EQ(engine->IsRecording(), 0);
    EXPECT_EQ(engine->StopRecording(), 0);
    for (const auto& path : {first, second}) {
        const auto size = std::filesystem::file_size(path);
        EXPECT_GT(size, 0u) << path;
        EXPECT_EQ(size % 4096, 0u) << path;
        EXPECT_GE(CountDecodablePictures(path, 4), 1) << path;
    }

    EXPECT_EQ(engine->SendRemoteKey(7), 1);
    ASSERT_TRUE(WaitFor([&] { return sim->GetStats().keys >= 1; }));

    EXPECT_EQ(engine->Disconnect(), 1);
    EXPECT_FALSE(engine->HasThread());
    EXPECT_EQ(engine->IsConnected(), 0);
}

TEST_F(LiveViewTest, PlayerCallsWhileLiveLeaveTheLiveLoopRunning) {
    StartSim(true);
    StartEngine();
    RecordingBuilder rec;
    rec.Picture(0);
    const std::string path = rec.Save(dir.File("local.qzf"));
    engine->SetMode(1, -1);
    ASSERT_EQ(engine->OpenStream(path, 0), 1);
    engine->SetMode(2, -1);
    ASSERT_EQ(engine->Connect("127.0.0.1", sim->GetPort(), "", "1234"), 1);
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= 3; }));
    ASSERT_EQ(engine->StartRecording(dir.File("live.QZF")), 1);
    // With a recording still open in the reader, none of these may end the
    // loop of a session that stays logged in.
    EXPECT_EQ(engine->SetMode(2, -1), 1);
    EXPECT_EQ(engine->StopPlayback(), 1);
    EXPECT_EQ(engine->OpenStream(path, 0), 1);
    EXPECT_TRUE(engine->HasThread());
    EXPECT_EQ(engine->IsRecording(), 1);
    const size_t shown = log.Count();
    EXPECT_TRUE(WaitFor([&] { return log.Count() >= shown + 5; }, 10000));
    EXPECT_EQ(engine->GetNetworkState(), 3);
}

TEST_F(LiveViewTest, ASoundDeviceThatNeverDrainsDoesNotStallLivePictures) {
    StartSim(true);
    StartEngine();
    ASSERT_EQ(engine->Connect("127.0.0.1", sim->GetPort(), "", "1234"), 1);
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= 3; }));
    // Opened again and never started: the ring fills and stays full.
    WAVEFORMATEX wf;
    CAudioConverter().Configure(5, 8000, &wf);
    engine->GetWaveOut()->Open(wf);
    const size_t shown = log.Count();
    EXPECT_TRUE(WaitFor([&] { return log.Count() >= shown + 40; }, 10000));
}

TEST_F(LiveViewTest, SoundArrivingFasterThanItPlaysNeverHoldsUpThePictures) {
    // A recorder whose sound runs ahead of the sound card (here twice as
    // fast): the surplus is what gives way, not the live pictures.
    DvrSimOptions opt;
    opt.plain = true;
    opt.password = "1234";
    opt.fps = 25;
    opt.audioBytes = 640;
    sim = std::make_unique<CDvrSim>(opt);
    ASSERT_EQ(sim->Start(), 1) << sim->GetError();
    StartEngine();
    ASSERT_EQ(engine->Connect("127.0.0.1", sim->GetPort(), "", "1234"), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetRefusedPictures() >= 1; }));
    Sleep(4000);
    const NetStats stats = engine->GetNetClient()->GetStats();
    EXPECT_GE(stats.videoPackets + stats.videoDropped, 80u);
    EXPECT_EQ(stats.videoDropped, 0u);
    engine->Disconnect();
}

TEST_F(LiveViewTest, NetworkLoopClosesARunningRecordingWhenItEnds) {
    StartSim(true);
    StartEngine();
    ASSERT_EQ(engine->Connect("127.0.0.1", sim->GetPort(), "", "1234"), 1);
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= 1; }));
    const std::string path = dir.File("open.QZF");
    ASSERT_EQ(engine->StartRecording(path), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetBytesRecorded() > 0; }));
    // Switching to player mode disconnects; the loop's end closes the file, padded.
    EXPECT_EQ(engine->SetMode(1, -1), 1);
    EXPECT_FALSE(engine->HasThread());
    EXPECT_EQ(engine->IsConnected(), 0);
    EXPECT_EQ(engine->IsRecording(), 0);
    EXPECT_EQ(std::filesystem::file_size(path) % 4096, 0u);
}

TEST_F(LiveViewTest, PacketsThatDoNotDecodeAreNeitherShownNorRecorded) {
    StartSim(false);
    ASSERT_STREQ(sim->GetPictureKind(), "plain");
    StartEngine();
    ASSERT_EQ(engine->Connect("127.0.0.1", sim->GetPort(), "", "1234"), 1);
    const std::string path = dir.File("plain.QZF");
    ASSERT_EQ(engine->StartRecording(path), 1);
    ASSERT_TRUE(WaitFor([&] { return engine->GetRefusedPictures() >= 10; }));
    EXPECT_EQ(log.Count(), 0u);
    EXPECT_EQ(engine->GetBytesRecorded(), 0u);
    engine->Disconnect();
}

TEST_F(LiveViewTest, LiveExportPerPictureAndPerTick) {
    StartSim(true);
    StartEngine();
    ASSERT_EQ(engine->Connect("127.0.0.1", sim->GetPort(), "", "1234"), 1);
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= 1; }));
    CAviWriter* writer = engine->GetAviWriter();
    BITMAPINFOHEADER h;
    h.biWidth = 640;
    h.biHeight = 448;
    h.biBitCount = 24;
    h.biSizeImage = 640 * 448 * 3;
    const std::string path = dir.File("live.avi");
    ASSERT_EQ(writer->Open(path, 24, 6750, 640, 448, 300, &h, 25), 0);

    // A tick while no per-tick export runs writes nothing.
    engine->SignalExportTick();
    Sleep(100);
    EXPECT_EQ(writer->GetVideoFramesWritten(), 0);

    engine->SetExport(1, kExportPerPicture);
    EXPECT_EQ(engine->IsExporting(), 1);
    ASSERT_TRUE(WaitFor([&] { return writer->GetVideoFramesWritten() >= 3; }));
    engine->SetExport(0, 0);
    Sleep(100); // a frame being written when the export stopped
    const int perPicture = writer->GetVideoFramesWritten();

    engine->SetExport(1, kExportPerTick);
    for (int i = 1; i <= 3; ++i) {
        engine->SignalExportTick();
        ASSERT_TRUE(WaitFor([&] { return writer->GetVideoFramesWritten() >= perPicture + i; }));
    }
    engine->SetExport(0, 0);
    engine->Disconnect();
    EXPECT_EQ(writer->Close(), 0);
    EXPECT_GT(std::filesystem::file_size(path), 4096u);
    // Sound reached the export while it ran.
    EXPECT_GT(writer->GetAudioSamplesWritten(), 0);
}

TEST_F(LiveViewTest, LiveExportLastsAsLongAsItRan) {
    // Five pictures a second into a 30 frames-a-second stream.
    StartSim(true, 5);
    StartEngine();
    ASSERT_EQ(engine->Connect("127.0.0.1", sim->GetPort(), "", "1234"), 1);
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= 1; }));
    CAviWriter* writer = engine->GetAviWriter();
    BITMAPINFOHEADER h;
    h.biWidth = 640;
    h.biHeight = 448;
    h.biBitCount = 24;
    h.biSizeImage = 640 * 448 * 3;
    const std::string path = dir.File("live.avi");
    ASSERT_EQ(writer->Open(path, 24, 6750, 640, 448, 300, &h, 30), 0);
    engine->SetExport(1, kExportPerPicture);
    ASSERT_TRUE(WaitFor([&] { return writer->GetVideoFramesWritten() >= 1; }));
    const uint32_t first = MediaClockNow();
    Sleep(2000);
    const uint32_t last = MediaClockNow();
    engine->SetExport(0, 0);
    EXPECT_EQ(writer->Close(), 0);
    const auto s = test::ProbeStreams(path);
    ASSERT_FALSE(s.empty());
    EXPECT_NEAR(std::stod(s[0].at("duration")), (last - first) / 1000.0, 0.5);
}

TEST_F(LiveViewTest, ARefusedConnectStartsNoThread) {
    StartEngine();
    EXPECT_EQ(engine->Connect("not an address", 9000, "", "pw"), 0);
    EXPECT_FALSE(engine->HasThread());
    EXPECT_FALSE(engine->GetLastErrorText().empty());
    EXPECT_EQ(engine->GetLastErrorText(), "Invalid IP address");
    EXPECT_EQ(engine->IsConnected(), 0);
}

// Runs a shell command; its exit status, its output in *err.
int RunCommand(const std::string& command, std::string* err) {
    const std::string cmd = command + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) {
        return -1;
    }
    char buf[512];
    while (fgets(buf, sizeof buf, p) != nullptr) {
        *err += buf;
    }
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs qzftool with the arguments; its exit status, stderr in *err.
int RunQzfTool(const std::string& args, std::string* err) {
    const char* bin = std::getenv("TV_BINARY_DIR");
    return RunCommand(std::string(bin != nullptr ? bin : ".") + "/tools/qzftool/qzftool " + args,
                      err);
}

TEST_F(LiveViewTest, QzfToolRecordsTheLiveStreamHeadless) {
    StartSim(true);
    const std::string out = dir.File("tool.QZF");
    std::string err;
    const std::string common = "record --ip 127.0.0.1 --port " + std::to_string(sim->GetPort());
    ASSERT_EQ(RunQzfTool(common + " --password 1234 --seconds 2 " + out, &err), 0) << err;
    EXPECT_NE(err.find("pictures"), std::string::npos) << err;
    const auto size = std::filesystem::file_size(out);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(size % 4096, 0u);
    // Everything recorded decodes; the recording starts at a key picture, so
    // most of what dvrsim sent is there.
    const int pictures = CountDecodablePictures(out, 4);
    const auto sent = sim->GetStats().videoPackets;
    EXPECT_GE(pictures, 10) << err;
    EXPECT_LE(static_cast<uint64_t>(pictures), sent);

    // A refused login ends the tool with the session's own words.
    err.clear();
    EXPECT_NE(RunQzfTool(common + " --password wrong --seconds 2 " + dir.File("no.QZF"), &err), 0);
    EXPECT_NE(err.find("Incorrect password."), std::string::npos) << err;
    err.clear();
    EXPECT_EQ(RunQzfTool("record --port 5 " + out, &err), 2);
}

// A scheduled recording and a headless play run where no display can be
// reached, even when the session names a desktop platform: the tool carries no
// GUI library at all.
TEST_F(LiveViewTest, QzfToolRecordsAndPlaysWithNoDisplay) {
    std::string needed;
    const char* bin = std::getenv("TV_BINARY_DIR");
    const std::string tool = std::string(bin != nullptr ? bin : ".") + "/tools/qzftool/qzftool";
    ASSERT_EQ(RunCommand("readelf -d " + tool, &needed), 0) << needed;
    EXPECT_NE(needed.find("NEEDED"), std::string::npos) << needed;
    EXPECT_EQ(needed.find("libQt"), std::string::npos) << needed;

    StartSim(true);
    const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb ";
    const std::string out = dir.File("nodisplay.QZF");
    std::string err;
    ASSERT_EQ(RunCommand(noDisplay + tool + " record --ip 127.0.0.1 --port " +
                             std::to_string(sim->GetPort()) + " --password 1234 --seconds 1 " + out,
                         &err),
              0)
        << err;
    const std::string log = dir.File("nodisplay.jsonl");
    ASSERT_EQ(RunCommand(noDisplay + tool + " play " + out + " --unpaced --log " + log, &err), 0)
        << err;
    std::ifstream lines(log);
    int shown = 0;
    for (std::string line; std::getline(lines, line);) {
        ++shown;
    }
    EXPECT_GT(shown, 0);
}

TEST_F(LiveViewTest, QzfToolStopsOnSigtermWithTheFileClosed) {
    StartSim(true);
    const std::string out = dir.File("term.QZF");
    const char* bin = std::getenv("TV_BINARY_DIR");
    const std::string tool = std::string(bin != nullptr ? bin : ".") + "/tools/qzftool/qzftool";
    const std::string port = std::to_string(sim->GetPort());
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        execl(tool.c_str(), "qzftool", "record", "--ip", "127.0.0.1", "--port", port.c_str(),
              "--password", "1234", out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Until the first key picture has been written.
    const bool recording = WaitFor([&] {
        std::error_code ec;
        return std::filesystem::file_size(out, ec) > 0 && !ec;
    });
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(recording);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto size = std::filesystem::file_size(out);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(size % 4096, 0u);
    EXPECT_GE(CountDecodablePictures(out, 4), 1);
}

} // namespace
