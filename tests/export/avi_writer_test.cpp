#include "export/avi_writer.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "export/probe.h"
#include "platform/notifier.h"
#include "video/color_convert.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tv_export_XXXXXX";
        m_path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Records message boxes instead of printing them.
class MessageCapture {
public:
    MessageCapture() {
        SetMessageBoxHandler(
            [this](const std::string& text, const std::string&) { texts.push_back(text); });
    }
    ~MessageCapture() { SetMessageBoxHandler(nullptr); }
    std::vector<std::string> texts;
};

class CancelChooser : public ICompressorChooser {
public:
    int Choose(const CompressorRequest& request, CompressorOptions&) override {
        seen = request;
        return 0;
    }
    CompressorRequest seen;
};

BITMAPINFOHEADER FrameHeader(int w, int h) {
    BITMAPINFOHEADER bih;
    bih.biWidth = w;
    bih.biHeight = h;
    bih.biBitCount = 24;
    bih.biSizeImage = static_cast<uint32_t>(w * h * 3);
    return bih;
}

// A bottom-up B, G, R frame with smooth gradients and a moving block, which
// lossy codecs keep well and which tells rows and frames apart.
std::vector<uint8_t> TestFrame(int w, int h, int index) {
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const int row = h - 1 - y; // picture row y lives at memory row h-1-y
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &f[(static_cast<size_t>(row) * w + x) * 3];
            const bool block = x >= 16 + index * 8 && x < 80 + index * 8 && y >= 16 && y < 80;
            p[0] = static_cast<uint8_t>(block ? 230 : (x * 255) / w);
            p[1] = static_cast<uint8_t>(block ? 30 : (y * 255) / h);
            p[2] = static_cast<uint8_t>(block ? 40 : 128);
        }
    }
    return f;
}

// Decoded frames are top-down; flip ours to compare.
std::vector<uint8_t> TopDown(const std::vector<uint8_t>& dib, int w, int h) {
    std::vector<uint8_t> out(dib.size());
    const size_t pitch = static_cast<size_t>(w) * 3;
    for (int r = 0; r < h; ++r) {
        std::copy_n(&dib[r * pitch], pitch, &out[(h - 1 - r) * pitch]);
    }
    return out;
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double se = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        se += d * d;
    }
    if (se == 0) {
        return 99.0;
    }
    return 10.0 * std::log10(255.0 * 255.0 / (se / static_cast<double>(n)));
}

int OpenWith(CAviWriter& w, const std::string& path, int width, int height, int rate,
             CompressorOptions options = {}) {
    CNamedCompressorChooser chooser(std::move(options));
    w.SetCompressorChooser(&chooser);
    const BITMAPINFOHEADER bih = FrameHeader(width, height);
    const int result = w.Open(path, 24, 6750, width, height, 300, &bih, rate);
    w.SetCompressorChooser(nullptr);
    return result;
}

TEST(AviWriter, DefaultCodecFileMatchesWhatWasWritten) {
    TempDir dir;
    const std::string path = dir.File("out.avi");
    const int W = 320, H = 224;
    CAviWriter w;
    w.SetRecorderFormats(0, 6, 8, 8000);
    ASSERT_EQ(OpenWith(w, path, W, H, 7), AVI_OK);
    EXPECT_EQ(w.GetState(), AVI_STATE_IDLE);
    ASSERT_NE(w.GetExportFrameHeader(), nullptr);
    EXPECT_EQ(w.GetExportFrameHeader()->biWidth, W);
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 5; ++i) {
        frames.push_back(TestFrame(W, H, i));
        EXPECT_EQ(w.WriteVideoFrame(frames.back().data(), 1), AVI_WRITTEN);
    }
    std::vector<uint8_t> mulaw(1600);
    for (size_t i = 0; i < mulaw.size(); ++i) {
        mulaw[i] = static_cast<uint8_t>(i * 7);
    }
    EXPECT_EQ(w.WriteAudio(mulaw.data(), 800), AVI_WRITTEN);
    EXPECT_EQ(w.WriteAudio(mulaw.data() + 800, 800), AVI_WRITTEN);
    EXPECT_EQ(w.GetVideoFramesWritten(), 5);
    EXPECT_EQ(w.GetAudioSamplesWritten(), 1600);
    EXPECT_EQ(w.Close(), AVI_OK);
    EXPECT_EQ(w.GetState(), AVI_STATE_CLOSED);
    EXPECT_EQ(w.GetPath(), "");

    const auto streams = test::ProbeStreams(path);
    ASSERT_EQ(streams.size(), 2u);
    const auto& v = streams[0];
    EXPECT_EQ(v.at("codec_type"), "video");
    EXPECT_EQ(v.at("codec_name"), "mjpeg");
    EXPECT_EQ(v.at("width"), std::to_string(W));
    EXPECT_EQ(v.at("height"), std::to_string(H));
    EXPECT_EQ(v.at("r_frame_rate"), "7/1");
    EXPECT_EQ(v.at("nb_read_frames"), "5");
    const auto& a = streams[1];
    EXPECT_EQ(a.at("codec_type"), "audio");
    EXPECT_EQ(a.at("codec_name"), "pcm_mulaw");
    EXPECT_EQ(a.at("channels"), "1");
    EXPECT_EQ(a.at("sample_rate"), "8000");
    EXPECT_EQ(test::DecodeAudio(path, "mulaw"), mulaw);

    const auto decoded = test::DecodeVideo(path);
    const size_t frameBytes = static_cast<size_t>(W) * H * 3;
    ASSERT_EQ(decoded.size(), frameBytes * 5);
    for (int i = 0; i < 5; ++i) {
        const auto expect = TopDown(frames[i], W, H);
        EXPECT_GT(Psnr(expect.data(), decoded.data() + i * frameBytes, frameBytes), 35.0)
            << "frame " << i;
    }
}

TEST(AviWriter, LosslessCodecsRoundTripExactlyAndRightSideUp) {
    for (const char* codec : {"rawvideo", "ffvhuff", "ffv1"}) {
        TempDir dir;
        const std::string path = dir.File("lossless.avi");
        const int W = 64, H = 48;
        CAviWriter w;
        w.SetRecorderFormats(0, 1, 8, 8000);
        ASSERT_EQ(OpenWith(w, path, W, H, 25, {codec, 0, 0}), AVI_OK) << codec;
        const auto f0 = TestFrame(W, H, 0);
        const auto f1 = TestFrame(W, H, 3);
        EXPECT_EQ(w.WriteVideoFrame(f0.data(), 1), AVI_WRITTEN);
        EXPECT_EQ(w.WriteVideoFrame(f1.data(), 1), AVI_WRITTEN);
        w.Close();
        const auto decoded = test::DecodeVideo(path);
        const size_t n = static_cast<size_t>(W) * H * 3;
        ASSERT_EQ(decoded.size(), 2 * n) << codec;
        EXPECT_TRUE(std::equal(decoded.begin(), decoded.begin() + n, TopDown(f0, W, H).begin()))
            << codec;
        EXPECT_TRUE(std::equal(decoded.begin() + n, decoded.end(), TopDown(f1, W, H).begin()))
            << codec;
    }
}

TEST(AviWriter, TopDownHeaderIsHonoured) {
    TempDir dir;
    const std::string path = dir.File("topdown.avi");
    const int W = 32, H = 16;
    CAviWriter w;
    CNamedCompressorChooser chooser({"rawvideo", 0, 0});
    w.SetCompressorChooser(&chooser);
    BITMAPINFOHEADER bih = FrameHeader(W, H);
    bih.biHeight = -H;
    ASSERT_EQ(w.Open(path, 24, 6750, W, H, 300, &bih, 25), AVI_OK);
    const auto dib = TestFrame(W, H, 1);
    const auto topDown = TopDown(dib, W, H);
    EXPECT_EQ(w.WriteVideoFrame(topDown.data(), 1), AVI_WRITTEN);
    w.Close();
    EXPECT_EQ(test::DecodeVideo(path), topDown);
}

struct AudioCase {
    int code;
    const char* codecName;
    const char* raw;
    int blockAlign;
};

TEST(AviWriter, AudioStreamDescribesTheBytesWritten) {
    const AudioCase cases[] = {{1, "pcm_u8", "u8", 1},       {2, "pcm_u8", "u8", 1},
                               {3, "pcm_s16le", "s16le", 2}, {4, "pcm_s16le", "s16le", 2},
                               {5, "pcm_alaw", "alaw", 1},   {6, "pcm_mulaw", "mulaw", 1},
                               {9, "pcm_u8", "u8", 1}};
    std::vector<uint8_t> samples(4001);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<uint8_t>(i * 13 + 5);
    }
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = dir.File("audio.avi");
        CAviWriter w;
        w.SetRecorderFormats(0, c.code, 8, 11025);
        ASSERT_EQ(OpenWith(w, path, 32, 32, 25, {"rawvideo", 0, 0}), AVI_OK);
        EXPECT_EQ(w.GetAudioBlockSize(), c.blockAlign);
        const auto frame = TestFrame(32, 32, 0);
        EXPECT_EQ(w.WriteVideoFrame(frame.data(), 1), AVI_WRITTEN);
        EXPECT_EQ(w.WriteAudio(samples.data(), 4001), AVI_WRITTEN) << c.code;
        EXPECT_EQ(w.GetAudioSamplesWritten(), 4001 / c.blockAlign) << c.code;
        w.Close();

        const auto streams = test::ProbeStreams(path);
        ASSERT_EQ(streams.size(), 2u) << c.code;
        const auto& a = streams[1];
        EXPECT_EQ(a.at("codec_name"), c.codecName) << c.code;
        EXPECT_EQ(a.at("channels"), "1") << c.code;
        EXPECT_EQ(a.at("sample_rate"), "11025") << c.code;
        const WAVEFORMATEX wf = CAviWriter::AudioStreamFormat(c.code, 11025);
        EXPECT_EQ(std::stoi(a.at("codec_tag"), nullptr, 16), wf.wFormatTag) << c.code;
        EXPECT_EQ(a.at("bits_per_sample"), std::to_string(wf.wBitsPerSample)) << c.code;
        // The sample count at the declared rate is what a player times the sound by.
        EXPECT_EQ(a.at("nb_frames"), std::to_string(4001 / c.blockAlign)) << c.code;

        std::vector<uint8_t> expect(samples.begin(),
                                    samples.begin() + 4001 / c.blockAlign * c.blockAlign);
        if (c.code == 2) {
            for (auto& b : expect) {
                b ^= 0x80;
            }
        }
        EXPECT_EQ(test::DecodeAudio(path, c.raw), expect) << c.code;

        EXPECT_EQ(wf.nChannels, 1);
        EXPECT_EQ(wf.nBlockAlign, c.blockAlign);
        EXPECT_EQ(wf.nAvgBytesPerSec, 11025u * c.blockAlign);
    }
}

TEST(AviWriter, ClockedExportHoldsGapsButGoesOnAfterAJump) {
    TempDir dir;
    const std::string path = dir.File("gap.avi");
    CAviWriter w;
    w.SetRecorderFormats(0, 1, 8, 1000);
    int64_t now = 0;
    w.SetClock(ExportClock{[&] { return now; }, 1, 0});
    ASSERT_EQ(OpenWith(w, path, 32, 32, 25, {"rawvideo", 0, 0}), AVI_OK);
    const std::vector<uint8_t> sound(100, 0x20);
    const auto frame = TestFrame(32, 32, 0);
    // Pictures 400 ms and 3 s apart are held; an hour later is a jump, which
    // goes on at the next slot.
    for (int64_t t : {0, 400, 3400, 3400000}) {
        now = t;
        EXPECT_EQ(w.WriteVideoFrame(frame.data(), 1), AVI_WRITTEN);
        EXPECT_EQ(w.WriteAudio(sound.data(), 100), AVI_WRITTEN);
    }
    w.Close();
    const auto times = test::PictureTimes(path);
    ASSERT_EQ(times.size(), 4u);
    EXPECT_NEAR(times[1], 0.4, 0.01);
    EXPECT_NEAR(times[2], 3.4, 0.01);
    EXPECT_NEAR(times[3], 3.44, 0.01);
    const auto s = test::ProbeStreams(path);
    ASSERT_EQ(s.size(), 2u);
    // The last picture lasts its interval; the sound had no gap to fill
    // after the jump.
    EXPECT_NEAR(std::stod(s[0].at("duration")), 3.48, 0.01);
    EXPECT_EQ(std::stoi(s[1].at("nb_frames")), 3100);
    // The sound's gap is silence (0x80), so its last packet plays beside the last picture.
    const auto audio = test::DecodeAudio(path, "u8");
    ASSERT_EQ(audio.size(), 3100u);
    EXPECT_EQ(audio[500], 0x80);
    EXPECT_EQ(audio.back(), 0x20);
}

TEST(AviWriter, KeyFramesFollowTheFlagAndTheFirstIsAlwaysKey) {
    TempDir dir;
    const int W = 64, H = 64;
    for (int flag : {0, 1, 0x101}) {
        const std::string path = dir.File("key" + std::to_string(flag) + ".avi");
        CAviWriter w;
        ASSERT_EQ(OpenWith(w, path, W, H, 25, {"mpeg4", 100, 0}), AVI_OK);
        for (int i = 0; i < 6; ++i) {
            const auto f = TestFrame(W, H, i);
            EXPECT_EQ(w.WriteVideoFrame(f.data(), flag), AVI_WRITTEN);
        }
        w.Close();
        const auto keys = test::VideoKeyFlags(path);
        ASSERT_EQ(keys.size(), 6u) << flag;
        EXPECT_TRUE(keys[0]) << flag;
        for (int i = 1; i < 6; ++i) {
            // Flag 0 leaves an inter codec with a long interval to predict.
            EXPECT_EQ(keys[i], (flag & 0xFF) != 0) << "flag " << flag << " frame " << i;
        }
    }
}

TEST(AviWriter, RefusedOpensLeaveNoFileAndKeepAnEarlierOne) {
    TempDir dir;
    MessageCapture messages;
    CAviWriter w;
    const BITMAPINFOHEADER bih = FrameHeader(640, 448);

    EXPECT_EQ(w.Open("", 24, 6750, 640, 448, 300, &bih, 25), AVI_ERR_EMPTY_PATH);
    EXPECT_EQ(w.Open(dir.File("a.avi"), 24, 6750, 0, 448, 300, nullptr, 25), AVI_ERR_BAD_PARAMS);
    EXPECT_EQ(w.Open(dir.File("a.avi"), 24, 6750, 640, 448, 300, nullptr, 0), AVI_ERR_BAD_PARAMS);
    EXPECT_EQ(w.Open(dir.File("a.avi"), 0, 6750, 640, 448, 300, nullptr, 25), AVI_ERR_BAD_PARAMS);
    // A description that contradicts the size would make every frame misread.
    EXPECT_EQ(w.Open(dir.File("a.avi"), 24, 6750, 320, 448, 300, &bih, 25), AVI_ERR_BAD_PARAMS);
    EXPECT_FALSE(fs::exists(dir.File("a.avi")));
    EXPECT_EQ(w.Open(dir.File("no/such/dir.avi"), 24, 6750, 640, 448, 300, &bih, 25),
              AVI_ERR_CREATE_FILE);

    CancelChooser cancel;
    w.SetCompressorChooser(&cancel);
    EXPECT_EQ(w.Open(dir.File("c.avi"), 24, 6750, 640, 448, 300, &bih, 12), AVI_ERR_CANCELLED);
    EXPECT_FALSE(fs::exists(dir.File("c.avi")));
    EXPECT_EQ(cancel.seen.width, 640);
    EXPECT_EQ(cancel.seen.height, 448);
    EXPECT_EQ(cancel.seen.frameRate, 12);
    EXPECT_EQ(w.GetState(), AVI_STATE_CLOSED);

    // Cancelling over an existing file keeps it as it was.
    const std::string keep = dir.File("keep.avi");
    std::ofstream(keep) << "earlier export";
    EXPECT_EQ(w.Open(keep, 24, 6750, 640, 448, 300, &bih, 12), AVI_ERR_CANCELLED);
    EXPECT_EQ(fs::file_size(keep), 14u);

    CNamedCompressorChooser unknown({"no-such-encoder", 0, 0});
    w.SetCompressorChooser(&unknown);
    EXPECT_EQ(w.Open(dir.File("u.avi"), 24, 6750, 640, 448, 300, &bih, 25),
              AVI_ERR_COMPRESSED_STREAM);
    EXPECT_FALSE(fs::exists(dir.File("u.avi")));
    EXPECT_TRUE(messages.texts.empty());

    // This encoder only takes the two small picture sizes of its standard.
    CNamedCompressorChooser h261({"h261", 0, 0});
    w.SetCompressorChooser(&h261);
    EXPECT_EQ(w.Open(dir.File("h.avi"), 24, 6750, 640, 448, 300, &bih, 25), AVI_ERR_FORMAT);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts[0], "Invalid codec!");
    EXPECT_FALSE(fs::exists(dir.File("h.avi")));
    EXPECT_EQ(w.GetState(), AVI_STATE_CLOSED);
    EXPECT_EQ(w.Open(keep, 24, 6750, 640, 448, 300, &bih, 25), AVI_ERR_FORMAT);
    EXPECT_EQ(fs::file_size(keep), 14u);

    // Frames of a depth no DIB path takes are refused as a format.
    CNamedCompressorChooser raw({"rawvideo", 0, 0});
    w.SetCompressorChooser(&raw);
    EXPECT_EQ(w.Open(dir.File("d.avi"), 12, 6750, 64, 64, 300, nullptr, 25), AVI_ERR_FORMAT);
    EXPECT_FALSE(fs::exists(dir.File("d.avi")));
    EXPECT_EQ(w.WriteVideoFrame(nullptr, 1), AVI_ERR_NOT_OPEN);
}

TEST(AviWriter, OpenThenCloseWithoutFramesLeavesNoFile) {
    TempDir dir;
    const std::string path = dir.File("empty.avi");
    CAviWriter w;
    ASSERT_EQ(OpenWith(w, path, 64, 64, 25), AVI_OK);
    EXPECT_TRUE(fs::exists(path));
    std::vector<uint8_t> audio(100, 0x80);
    EXPECT_EQ(w.WriteAudio(audio.data(), 100), AVI_WRITTEN);
    EXPECT_EQ(w.Close(), AVI_OK);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(w.Close(), AVI_OK); // closing a closed writer does nothing
}

TEST(AviWriter, WritesAreRefusedByState) {
    EXPECT_EQ(CAviWriter::StateRefusal(AVI_STATE_CLOSED, true), 100);
    EXPECT_EQ(CAviWriter::StateRefusal(AVI_STATE_OPENING, true), 101);
    EXPECT_EQ(CAviWriter::StateRefusal(AVI_STATE_CLOSING, true), 102);
    EXPECT_EQ(CAviWriter::StateRefusal(AVI_STATE_REFUSING, true), 103);
    EXPECT_EQ(CAviWriter::StateRefusal(AVI_STATE_WRITING, true), 105);
    EXPECT_EQ(CAviWriter::StateRefusal(AVI_STATE_IDLE, true), 0);
    EXPECT_EQ(CAviWriter::StateRefusal(AVI_STATE_WRITING, false), 0);

    CAviWriter w;
    std::vector<uint8_t> frame(64 * 64 * 3, 50);
    EXPECT_EQ(w.WriteVideoFrame(frame.data(), 1), AVI_ERR_NOT_OPEN);
    EXPECT_EQ(w.WriteAudio(frame.data(), 10), 0); // no file to write it to

    // While the compressor is being chosen the writer is opening.
    class WritingChooser : public ICompressorChooser {
    public:
        CAviWriter* writer = nullptr;
        const uint8_t* frame = nullptr;
        int videoResult = -1, closeResult = -1, openResult = -1;
        int Choose(const CompressorRequest&, CompressorOptions& o) override {
            videoResult = writer->WriteVideoFrame(frame, 1);
            closeResult = writer->Close();
            openResult = writer->Open("/tmp/x.avi", 24, 0, 64, 64, 0, nullptr, 25);
            o.codec = "rawvideo";
            return 1;
        }
    } chooser;
    chooser.writer = &w;
    chooser.frame = frame.data();
    w.SetCompressorChooser(&chooser);
    TempDir dir;
    const std::string path = dir.File("s.avi");
    ASSERT_EQ(w.Open(path, 24, 6750, 64, 64, 300, nullptr, 25), AVI_OK);
    EXPECT_EQ(chooser.videoResult, AVI_ERR_OPENING);
    EXPECT_EQ(chooser.closeResult, AVI_ERR_OPENING);
    EXPECT_EQ(chooser.openResult, AVI_ERR_OPENING);
    EXPECT_EQ(w.WriteVideoFrame(nullptr, 1), AVI_ERR_NO_DATA);
    EXPECT_EQ(w.GetVideoFramesWritten(), 0);

    EXPECT_EQ(w.WriteVideoFrame(frame.data(), 1), AVI_WRITTEN);
    w.Close();
    EXPECT_TRUE(fs::exists(path));
}

TEST(AviWriter, FullDiskIsToldInWordsAndWritesAreRefusedWhileClosing) {
    // /dev/full takes the header into the buffer and fails at the first flush.
    MessageCapture messages;
    CAviWriter w;
    std::vector<uint8_t> frame(64 * 64 * 3, 77);
    int duringClose = -1;
    SetMessageBoxHandler([&](const std::string& text, const std::string&) {
        messages.texts.push_back(text);
        duringClose = w.WriteVideoFrame(frame.data(), 1);
    });
    ASSERT_EQ(OpenWith(w, "/dev/full", 64, 64, 25, {"rawvideo", 0, 0}), AVI_OK);
    w.WriteVideoFrame(frame.data(), 1);
    EXPECT_EQ(w.Close(), AVI_OK);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts.back(), "Disk full: could not write /dev/full");
    EXPECT_EQ(w.GetWriteError(), ENOSPC);
    EXPECT_EQ(duringClose, AVI_ERR_CLOSING);
    EXPECT_TRUE(fs::exists("/dev/full")); // never unlinks what is not a regular file
}

TEST(AviWriter, ReopeningClosesTheRunningExport) {
    TempDir dir;
    CAviWriter w;
    const auto f = TestFrame(32, 32, 0);
    ASSERT_EQ(OpenWith(w, dir.File("first.avi"), 32, 32, 25, {"rawvideo", 0, 0}), AVI_OK);
    EXPECT_EQ(w.WriteVideoFrame(f.data(), 1), AVI_WRITTEN);
    ASSERT_EQ(OpenWith(w, dir.File("second.avi"), 32, 32, 30, {"rawvideo", 0, 0}), AVI_OK);
    EXPECT_EQ(w.GetVideoFramesWritten(), 0);
    EXPECT_EQ(w.WriteVideoFrame(f.data(), 1), AVI_WRITTEN);
    EXPECT_EQ(w.WriteVideoFrame(f.data(), 1), AVI_WRITTEN);
    w.Close();
    EXPECT_EQ(test::ProbeStreams(dir.File("first.avi")).at(0).at("nb_read_frames"), "1");
    EXPECT_EQ(test::ProbeStreams(dir.File("second.avi")).at(0).at("nb_read_frames"), "2");
}

TEST(AviWriter, ConcurrentWritersAndCloseKeepTheFileConsistent) {
    TempDir dir;
    const std::string path = dir.File("race.avi");
    const int W = 64, H = 64;
    CAviWriter w;
    w.SetRecorderFormats(0, 4, 8, 8000);
    ASSERT_EQ(OpenWith(w, path, W, H, 25, {"rawvideo", 0, 0}), AVI_OK);
    const auto f = TestFrame(W, H, 0);
    std::atomic<int> written{0}, busy{0}, other{0};
    std::atomic<bool> stop{false};
    auto video = [&] {
        while (!stop) {
            const int r = w.WriteVideoFrame(f.data(), 1);
            if (r == AVI_WRITTEN) {
                ++written;
            } else if (r == AVI_ERR_BUSY) {
                ++busy;
            } else if (r == AVI_ERR_CLOSING || r == AVI_ERR_NOT_OPEN) {
                break;
            } else {
                ++other;
            }
        }
    };
    std::vector<uint8_t> pcm(320, 1);
    auto audio = [&] {
        while (!stop && w.WriteAudio(pcm.data(), 320) == AVI_WRITTEN) {
        }
    };
    std::thread t1(video), t2(video), t3(audio);
    while (written < 50) {
        std::this_thread::yield();
    }
    EXPECT_EQ(w.Close(), AVI_OK);
    stop = true;
    t1.join();
    t2.join();
    t3.join();
    EXPECT_EQ(other, 0);
    const auto streams = test::ProbeStreams(path);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("nb_read_frames"), std::to_string(written.load()));
}

TEST(AviWriter, ConvertLiveFrameDoublesRowsByAveraging) {
    const int W = 8, H = 4;
    std::vector<uint8_t> yuv(W * H * 3 / 2);
    for (int i = 0; i < W * H; ++i) {
        yuv[i] = static_cast<uint8_t>(20 + i * 7);
    }
    for (size_t i = W * H; i < yuv.size(); ++i) {
        yuv[i] = static_cast<uint8_t>(100 + i);
    }
    const size_t pitch = W * 3;
    std::vector<uint8_t> expect(pitch * 2 * H, 0xEE);
    YuvToDib24Doubled(expect.data(), static_cast<int>(pitch), yuv.data(), W, H);
    std::vector<uint8_t> out(pitch * 2 * H, 0xEE);
    CAviWriter::ConvertLiveFrame(out.data(), yuv.data(), W, H);
    for (int r = 0; r < 2 * H; r += 2) {
        EXPECT_TRUE(std::equal(&out[r * pitch], &out[(r + 1) * pitch], &expect[r * pitch]))
            << "row " << r;
    }
    for (int r = 1; r <= 2 * H - 3; r += 2) {
        for (size_t i = 0; i < pitch; ++i) {
            ASSERT_EQ(out[r * pitch + i],
                      (out[(r - 1) * pitch + i] + out[(r + 1) * pitch + i]) >> 1)
                << "row " << r << " byte " << i;
        }
    }
    for (size_t i = 0; i < pitch; ++i) {
        EXPECT_EQ(out[(2 * H - 1) * pitch + i], 0xEE); // last row untouched
    }
}

} // namespace
} // namespace tv
