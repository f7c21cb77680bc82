#include "media/stream_file.h"
#include "synth/sample_recording.h"
#include "video/video_decoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <unistd.h>

namespace tv {
namespace {

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/tv_video_" + std::to_string(::getpid()) + "_" + name;
}

struct Scan {
    std::map<int, int> pictures, keys; // by channel
    std::map<int, std::set<uint32_t>> keySeconds;
    int audio = 0;
    int refused = 0;
    int failed = 0;
    int dual = 0;
    std::set<int> gaps;
    uint32_t firstTime = 0, lastTime = 0;
    int mask = 0;
};

// Reads the recording back the way the player does and decodes every picture.
Scan ReadBack(const std::string& path, int format, bool disk) {
    Scan s;
    CStreamFile f;
    EXPECT_EQ(f.Open(path, disk ? 1 : 0), 1);
    f.SetFormat(format);
    CVideoDecoder d;
    d.SetMode(format);
    std::vector<uint8_t> buf(kMaxPacketSize), pic(CVideoDecoder::kMaxPictureBytes);
    for (;;) {
        const int n = f.ReadForward(buf.data());
        if (n <= 0)
            break;
        if (s.firstTime == 0)
            s.firstTime = f.GetBlockTimeUtc();
        s.lastTime = f.GetBlockTimeUtc();
        s.gaps.insert(f.GetFrameGap());
        s.mask = f.GetChannelMask();
        if (f.IsAudio()) {
            ++s.audio;
            continue;
        }
        if (!d.ParseHeader(buf.data(), n)) {
            ++s.refused;
            continue;
        }
        if (!d.Decode(buf.data(), n, pic.data()))
            ++s.failed;
        s.dual += d.IsDualPicture();
        ++s.pictures[d.GetChannel()];
        if (d.IsKeyPicture()) {
            ++s.keys[d.GetChannel()];
            s.keySeconds[d.GetChannel()].insert(f.GetBlockTimeUtc());
        }
    }
    return s;
}

TEST(VideoSample, RecordingReadsBackAsTheRecorderWroteIt) {
    synth::SampleOptions o;
    o.channels = 3;
    o.seconds = 4;
    o.audioFormat = 5;
    const std::string path = TempPath("plain.qzf");
    CQzfBlockWriter w;
    ASSERT_EQ(w.OpenFile(path), 1);
    synth::SampleSummary sum;
    std::string error;
    ASSERT_EQ(synth::WriteSampleRecording(o, w, &sum, &error), 1) << error;
    ASSERT_EQ(w.Close(), 1);
    // 224 lines in format 4: 16.666 ms frame period, gap 1, so 30 pictures a
    // second shared by the channels.
    EXPECT_EQ(sum.frameGap, 1);
    EXPECT_EQ(sum.frameIntervalUs, 33332);
    EXPECT_NEAR(sum.fps, 10.0, 0.01);

    const Scan s = ReadBack(path, 4, false);
    EXPECT_EQ(s.refused, 0);
    EXPECT_EQ(s.failed, 0);
    EXPECT_EQ(s.mask, 0x7);
    EXPECT_EQ(s.gaps, std::set<int>{1});
    EXPECT_EQ(s.lastTime - s.firstTime, 3u);
    EXPECT_EQ(long(s.audio), sum.audioPackets);
    EXPECT_NEAR(s.audio, 4 * 8000 / 1024, 1);
    long pictures = 0;
    for (int ch = 0; ch < 3; ++ch) {
        EXPECT_NEAR(s.pictures.at(ch), 40, 1) << ch;
        // One key picture in every second of the recording.
        EXPECT_EQ(s.keys.at(ch), 4) << ch;
        EXPECT_EQ(s.keySeconds.at(ch).size(), 4u) << ch;
        pictures += s.pictures.at(ch);
    }
    EXPECT_EQ(pictures, sum.pictures);
    std::remove(path.c_str());
}

TEST(VideoSample, DiskImageDualPicturesAndBigEndianHeaders) {
    struct Case {
        int format;
        bool disk;
        int lines;
    };
    for (const Case c : {Case{5, true, 272}, Case{6, false, 224}, Case{1, true, 224}}) {
        synth::SampleOptions o;
        o.channels = 3;
        o.seconds = 2;
        o.videoFormat = c.format;
        o.diskImage = c.disk;
        o.lines = c.lines;
        o.audioFormat = 6;
        const std::string path = TempPath("fmt" + std::to_string(c.format) + ".qzf");
        CQzfBlockWriter w;
        ASSERT_EQ(w.OpenFile(path), 1);
        synth::SampleSummary sum;
        ASSERT_EQ(synth::WriteSampleRecording(o, w, &sum, nullptr), 1);
        ASSERT_EQ(w.Close(), 1);
        const Scan s = ReadBack(path, c.format, c.disk);
        EXPECT_EQ(s.refused, 0) << c.format;
        EXPECT_EQ(s.failed, 0) << c.format;
        EXPECT_GT(s.audio, 0);
        if (c.format == 5) {
            // Channels 0 and 1 share a picture; channel 2 has an absent right half.
            EXPECT_EQ(s.pictures.size(), 2u);
            EXPECT_EQ(s.dual, s.pictures.at(0) + s.pictures.at(2));
        } else {
            EXPECT_EQ(s.pictures.size(), 3u);
        }
        std::remove(path.c_str());
    }
}

TEST(VideoSample, RefusesWhatAFormatCannotCarry) {
    CQzfBlockWriter w;
    std::vector<uint8_t> sink;
    w.AttachVector(&sink);
    std::string error;
    synth::SampleOptions o;
    o.videoFormat = 0;
    o.channels = 5;
    EXPECT_EQ(synth::WriteSampleRecording(o, w, nullptr, &error), 0);
    EXPECT_FALSE(error.empty());
    o.videoFormat = 4;
    o.lines = 240;
    EXPECT_EQ(synth::WriteSampleRecording(o, w, nullptr, &error), 0);
    o.lines = 224;
    o.audioFormat = 9;
    EXPECT_EQ(synth::WriteSampleRecording(o, w, nullptr, &error), 0);
    EXPECT_TRUE(sink.empty());
}

TEST(VideoSample, AudioNeverCarriesAPacketStartCode) {
    std::vector<uint8_t> data = {0, 0, 1, 0xF8, 0, 0, 1, 0x20, 0, 0, 1, 0xFD, 7};
    EXPECT_EQ(synth::BreakPacketStartCodes(data.data(), data.size()), 2);
    EXPECT_EQ(data[2], 3);
    EXPECT_EQ(data[6], 1); // 00 00 01 20 is ordinary data
    EXPECT_EQ(data[10], 3);
}

// The command-line tool end to end: make a sample, decode it, check the index.
TEST(VideoSample, QzftoolMakeSampleAndDecode) {
#ifdef TV_VIDEO_QZFTOOL
    const std::string tool = TV_VIDEO_QZFTOOL;
#else
    const std::string tool;
#endif
    if (tool.empty() || ::access(tool.c_str(), X_OK) != 0)
        GTEST_SKIP() << "qzftool not built";
    const std::string file = TempPath("cli.qzf");
    const std::string dir = TempPath("cli_out");
    const std::string make = tool + " make-sample " + file +
                             " --channels 2 --seconds 2 --lines 272 --audio QZ_SPCM16 > /dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string decode = tool + " decode " + file +
                               " --pixel-format rgb565 --idct generic --out " + dir +
                               " > /dev/null";
    ASSERT_EQ(std::system(decode.c_str()), 0);
    std::ifstream index(dir + "/index.jsonl");
    std::string line;
    int lines = 0, decoded = 0, withSha = 0;
    while (std::getline(index, line)) {
        ++lines;
        decoded += line.find("\"decoded\":true") != std::string::npos;
        withSha += line.find("\"sha256\":\"") != std::string::npos;
        EXPECT_NE(line.find("\"width\":640,\"height\":272"), std::string::npos) << line;
    }
    EXPECT_GT(lines, 0);
    EXPECT_EQ(decoded, lines);
    EXPECT_EQ(withSha, lines);
    std::ifstream ch0(dir + "/ch0.rgb565", std::ios::binary | std::ios::ate);
    std::ifstream ch1(dir + "/ch1.rgb565", std::ios::binary | std::ios::ate);
    const long picture = 640L * 272 * 2;
    EXPECT_EQ(long(ch0.tellg()) + long(ch1.tellg()), picture * lines);
    // Channels decoded on several threads give the same files.
    for (const char* threads : {"1", "3"}) {
        const std::string dirN = dir + threads;
        ASSERT_EQ(std::system((tool + " decode " + file +
                               " --pixel-format rgb565 --idct generic --threads " + threads +
                               " --out " + dirN + " > /dev/null")
                                  .c_str()),
                  0);
        EXPECT_EQ(
            std::system(("cmp -s " + dir + "/index.jsonl " + dirN + "/index.jsonl && cmp -s " +
                         dir + "/ch0.rgb565 " + dirN + "/ch0.rgb565 && cmp -s " + dir +
                         "/ch1.rgb565 " + dirN + "/ch1.rgb565")
                            .c_str()),
            0)
            << threads;
        std::system(("rm -rf " + dirN).c_str());
    }
    EXPECT_NE(
        std::system(
            (tool + " decode " + file + " --threads 0 --out " + dir + " 2> /dev/null").c_str()),
        0);
    // Bad arguments are refused with status 2.
    EXPECT_NE(std::system((tool + " decode " + file + " 2> /dev/null").c_str()), 0);
    EXPECT_NE(std::system((tool + " make-sample " + file + " --lines 100 2> /dev/null").c_str()),
              0);
    std::system(("rm -rf " + dir + " " + file).c_str());
}

} // namespace
} // namespace tv
