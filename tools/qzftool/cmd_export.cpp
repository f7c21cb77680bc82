// export: a whole recording to an AVI file, composed as the player's split view.

#include "audio/audio_converter.h"
#include "compose/split_frame.h"
#include "export/avi_writer.h"
#include "export/compressor_chooser.h"
#include "export/frame_rate.h"
#include "media/qzf_block.h"
#include "media/stream_file.h"
#include "platform/file_identity.h"
#include "platform/notifier.h"
#include "qzftool/command.h"
#include "qzftool/options.h"
#include "qzftool/stop_signal.h"
#include "video/parallel_decoder.h"
#include "video/video_decoder.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* kHelp =
    "Decodes every channel of a recording and writes what the player shows in that split\n"
    "to an AVI file: the visible channels composed into a 640 x 448 (544 for 272-line\n"
    "pictures) frame with their labels, one frame per cycle of the playing channels, each\n"
    "at its moment in the recording, with the recording's audio. --channel N (1-based)\n"
    "exports one channel alone. Defaults: QZ_QZB2, QZ_ALAW, split 9 page 0, codec mjpeg\n"
    "(--list-codecs lists the encoders that open here). Progress goes to stderr. The file\n"
    "is written under a temporary name beside OUT.avi and renamed when whole: Ctrl+C,\n"
    "SIGTERM or a failure (a full disk) leave no file behind. Channels decode in\n"
    "parallel on --threads N threads (default: one per processor); the file is the same\n"
    "for every N.\n";

// Ctrl+C, SIGTERM and SIGHUP, from the start of main.
volatile std::sig_atomic_t& g_interrupted = tv::qzf::g_stopSignal;

// The progress line is on stderr without its line end.
bool g_progressShown = false;

constexpr int kMaxChannels = 16;

// The engine's channel count for a recorder of n channels.
int ChannelCountFor(int n) {
    return n < 2 ? 1 : n <= 4 ? 4 : n <= 9 ? 9 : 16;
}

// The export's file while it is written: created exclusively beside the
// output, so that nothing of an earlier file of that name is lost and no
// half-written export is ever left under the name asked for; removed unless
// it was renamed into place.
class CTempOutput {
public:
    ~CTempOutput() {
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    // The name the output will have: through a symbolic link, the file it
    // points to, as a write through the link would have reached.
    static std::string FinalName(const std::string& out) {
        struct stat st;
        if (::lstat(out.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            char real[PATH_MAX];
            if (::realpath(out.c_str(), real))
                return real;
        }
        return out;
    }
    bool Create(const std::string& final) {
        const size_t slash = final.rfind('/');
        const std::string dir = slash == std::string::npos ? "" : final.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? final : final.substr(slash + 1);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = dir + "." + base + "." + std::to_string(::getpid()) + "-" +
                                     std::to_string(attempt) + ".part";
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                m_path = name;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }
    const std::string& Path() const { return m_path; }
    // Flushed to the disk, then given the final name.
    bool Commit(const std::string& final) {
        const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        const bool synced = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0)
            ::close(fd);
        if (!synced || ::rename(m_path.c_str(), final.c_str()) != 0)
            return false;
        m_path.clear();
        return true;
    }

private:
    std::string m_path;
};

int ListCodecs() {
    for (const tv::EncoderInfo& e : tv::ListAviVideoEncoders(640, 448)) {
        std::printf("%-16s %s%s\n", e.name.c_str(), e.longName.c_str(),
                    e.lossless ? " (lossless)" : "");
    }
    return 0;
}

int RunExport(int argc, char** argv) {
    std::string file, out, codec;
    bool disk = false;
    int format = tv::VF_QZB2, audioFormat = tv::kAudioAlaw;
    int split = 9, page = 0, channel = 0, threads = 0;
    auto bad = [](const std::string& why) {
        std::fprintf(stderr, "qzftool export: %s\n", why.c_str());
        return 2;
    };
    CLI::App cli;
    tv::cli::Prepare(cli, "qzftool export", kHelp);
    cli.add_option("FILE", file, "the recording")->required();
    cli.add_option("OUT.avi", out, "the AVI file to write")->required();
    tv::qzf::AddDisk(cli, &disk);
    tv::qzf::AddFormat(cli, &format);
    tv::qzf::AddAudio(cli, &audioFormat);
    tv::cli::AddText(cli, "--codec", "NAME", &codec, "the video encoder (default mjpeg)");
    tv::cli::AddIntOf(cli, "--split", &split, {1, 4, 9, 16}, "--split must be 1, 4, 9 or 16",
                      "channels in view (default 9)");
    tv::cli::AddInt(cli, "--page", "P", &page, 0, 15, "--page must be 0 to 15",
                    "the page of the split (default 0)");
    tv::cli::AddInt(cli, "--channel", "N", &channel, 1, kMaxChannels, "--channel must be 1 to 16",
                    "channel N alone, full size");
    tv::cli::AddInt(cli, "--threads", "N", &threads, 1, 256, "--threads must be 1 to 256",
                    "decoding threads (default: one per processor)");
    cli.add_flag_callback(
           "--list-codecs",
           [] {
               ListCodecs();
               throw CLI::Success();
           },
           "list the encoders that open here, and do nothing else")
        ->trigger_on_parse();
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0)
        return status;
    if (channel > 0) {
        split = 1;
        page = channel - 1;
    }
    struct stat st;
    if (::stat(file.c_str(), &st) != 0)
        return bad("cannot open " + file + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return bad(file + " is a folder");
    if (!tv::InputOverwrittenBy(out, {file}).empty())
        return bad(out + " is the recording itself; choose another output");
    const std::string final = CTempOutput::FinalName(out);
    struct stat ost;
    if (::stat(final.c_str(), &ost) == 0 && !S_ISREG(ost.st_mode))
        return bad(out + " is not a regular file");

    tv::CStreamFile f;
    if (!f.Open(file, disk ? tv::kDiskMode : tv::kFileMode))
        return bad("cannot open " + file);
    f.SetFormat(format);
    tv::CVideoDecoder decoder;
    decoder.SetMode(format);

    const int channels = ChannelCountFor(8);
    if (split > channels || page * split >= channels)
        return bad("split " + std::to_string(split) + " page " + std::to_string(page) +
                   " shows no channel of " + std::to_string(channels));

    // The first picture tells the field height, the first block the channel
    // mask and frame gap the frame rate is taken from.
    std::vector<uint8_t> packet(tv::kMaxPacketSize);
    int fieldHeight = 0;
    uint32_t mask = 0;
    int gap = 0;
    f.SetPosition(0);
    for (int tries = 0; tries < 100000 && !fieldHeight; ++tries) {
        const uint64_t before = f.GetPosition();
        const int n = f.ReadForward(packet.data());
        if (n <= 0) {
            if (f.GetPosition() + tv::kQzfBlockSize > f.GetSize() || f.GetPosition() == before)
                break;
            continue;
        }
        if (!mask) {
            mask = uint32_t(f.GetChannelMask());
            gap = f.GetFrameGap();
        }
        if (!f.IsAudio() && decoder.ParseHeader(packet.data(), n))
            fieldHeight = decoder.GetHeight();
    }
    if (!fieldHeight)
        return bad(file + " holds no picture in " + tv::VideoFormatName(format));
    const bool lines272 = fieldHeight == 272;
    const int width = 640, height = 2 * fieldHeight;
    const int rate = tv::PlayerExportFrameRate(lines272);

    tv::CAviWriter writer;
    writer.SetRecorderFormats(format, audioFormat, 8, 8000);
    tv::CompressorOptions options;
    options.codec = codec;
    tv::CNamedCompressorChooser chooser(options);
    writer.SetCompressorChooser(&chooser);
    // Frames and sound keep the recording's time: a frame is the moment its
    // cycle began, sound the block it was read from.
    // Packets are written a run after they are read, so the sound's block
    // time is kept with it rather than asked of the reader.
    int64_t cycleTime = -1;
    int64_t soundTime = -1;
    bool composing = false;
    writer.SetClock(tv::ExportClock{[&] { return composing ? cycleTime : soundTime; }, 1000,
                                    tv::PlayerCycleRate(mask, gap, format, lines272)});
    tv::BITMAPINFOHEADER bih;
    bih.biWidth = width;
    bih.biHeight = height;
    bih.biBitCount = 24;
    bih.biSizeImage = uint32_t(3 * width * height);
    tv::SetMessageBoxHandler([](const std::string& text, const std::string&) {
        // A message while the progress line stands goes on a line of its own.
        std::fprintf(stderr, "%sqzftool export: %s\n", g_progressShown ? "\n" : "", text.c_str());
        g_progressShown = false;
    });
    CTempOutput temp;
    if (!temp.Create(final))
        return bad("cannot create " + out + ": " + std::strerror(errno));
    writer.SetShownPath(out);
    const int opened = writer.Open(temp.Path(), 24, 6750, width, height, 300, &bih, rate);
    if (opened != tv::AVI_OK) {
        switch (opened) {
        case tv::AVI_ERR_CREATE_FILE:
            return bad("cannot create " + out);
        case tv::AVI_ERR_COMPRESSED_STREAM:
            return bad("no video encoder named '" +
                       (codec.empty() ? std::string(tv::kDefaultVideoCodec) : codec) +
                       "' (--list-codecs lists them)");
        case tv::AVI_ERR_FORMAT:
            return bad("the encoder cannot take these frames (--list-codecs lists those that can)");
        default:
            return bad("cannot open the export (code " + std::to_string(opened) + ")");
        }
    }

    bool writeFailed = false;
    tv::CSplitComposer composer(width, height);
    composer.SetLayout(split, page, channels);
    composer.SetFrameSink([&](const tv::CSplitFrame& frame, int64_t stamp) {
        composing = true;
        cycleTime = stamp;
        if (writer.WriteVideoFrame(frame.Data(), 1) != tv::AVI_WRITTEN ||
            writer.GetWriteError() != 0)
            writeFailed = true;
        composing = false;
    });
    int percent = -1;
    const uint64_t size = f.GetSize();

    // Update pictures only redraw part of a channel's picture, so every channel
    // keeps its own buffer from packet to packet, as the player does. Video
    // packets are decoded in runs on the pool, one buffer per channel;
    // what a run holds, audio included, is then written in file order.
    tv::CParallelDecoder pool(threads, format);
    struct Queued {
        std::vector<uint8_t> data; // audio bytes, or the picture once decoded
        bool audio = false;
        int decoded = 0, w = 0, h = 0;
        tv::PictureChannels channels;
        bool timed = false;
        tv::SYSTEMTIME t{};
    };
    std::vector<Queued> queue;
    std::vector<size_t> queuedAt; // run index to queue entry
    size_t queued = 0;
    const size_t runLength = size_t(8 * pool.Threads());
    auto flush = [&] {
        pool.Run([&](size_t i, const tv::CVideoDecoder& d, const uint8_t* pic, int result) {
            Queued& q = queue[queuedAt[i]];
            q.decoded = result;
            q.w = d.GetWidth();
            q.h = d.GetHeight();
            q.channels = tv::PictureChannelsOf(d);
            if (result)
                q.data.assign(pic, pic + d.GetPictureBytes());
        });
        for (size_t k = 0; k < queued && !g_interrupted && !writeFailed; ++k) {
            Queued& q = queue[k];
            if (q.audio) {
                soundTime = q.timed ? tv::BlockTimeMs(q.t) : -1;
                writer.WriteAudio(q.data.data(), int(q.data.size()));
                writeFailed = writer.GetWriteError() != 0;
                continue;
            }
            if (!q.decoded)
                continue;
            composer.AddPicture(q.channels, q.data.data(), q.w, q.h, q.t, tv::BlockTimeMs(q.t));
        }
        queued = 0;
        queuedAt.clear();
    };

    f.SetPosition(0);
    while (!g_interrupted && !writeFailed) {
        const uint64_t before = f.GetPosition();
        const int n = f.ReadForward(packet.data());
        if (n <= 0) {
            if (f.GetPosition() + tv::kQzfBlockSize > size || f.GetPosition() == before)
                break;
            continue; // a bad block; reading goes on at the next one
        }
        const int p = size ? int(f.GetPosition() * 100 / size) : 100;
        if (p != percent) {
            percent = p;
            std::fprintf(stderr, "\rexport: %3d%%", p);
            g_progressShown = true;
        }
        const bool audio = f.IsAudio();
        // The export's one mono stream carries what playback plays: with
        // QZ_QZA that is audio channel 0 alone.
        if (audio && format == tv::VF_QZA && f.GetChannel() != 0)
            continue;
        if (!audio && !decoder.ParseHeader(packet.data(), n))
            continue;
        if (queued == queue.size())
            queue.emplace_back();
        Queued& q = queue[queued++];
        q.audio = audio;
        q.decoded = 0;
        q.timed = f.GetBlockTime(&q.t) != 0;
        if (audio) {
            q.data.assign(packet.data(), packet.data() + n);
        } else {
            queuedAt.push_back(queued - 1);
            pool.Add(packet.data(), n, decoder.GetChannel());
        }
        // Audio counts too, so that a stretch without pictures is not held.
        if (queuedAt.size() >= runLength || queued >= 4 * runLength)
            flush();
    }
    if (!writeFailed)
        flush();
    const bool stopped = g_interrupted != 0;
    if (!stopped && !writeFailed) {
        std::fprintf(stderr, "\rexport: 100%%");
        g_progressShown = true;
        // What was composed since the last frame is the export's last frame.
        composer.Flush();
    }
    const int frames = writer.GetVideoFramesWritten();
    writer.Close();
    const int64_t length = writer.GetVideoLength();
    const int error = writer.GetWriteError();
    if (g_progressShown)
        std::fprintf(stderr, "\n");
    if (tv::CAviWriter::IsDiskFull(error))
        return 1; // the writer said so, naming the file
    if (writeFailed || error != 0) {
        std::fprintf(stderr, "qzftool export: writing %s failed%s%s\n", out.c_str(),
                     error ? ": " : "", error ? std::strerror(error) : "");
        return 1;
    }
    if (stopped) {
        std::fprintf(stderr, "qzftool export: interrupted; %s not written\n", out.c_str());
        return 130;
    }
    if (frames == 0)
        return bad(file + " gave no picture for split " + std::to_string(split) + " page " +
                   std::to_string(page));
    if (!temp.Commit(final)) {
        std::fprintf(stderr, "qzftool export: cannot write %s: %s\n", out.c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::fprintf(stderr, "qzftool export: %d pictures over %.1f s at %d fps to %s\n", frames,
                 double(length) / rate, rate, out.c_str());
    return 0;
}

} // namespace

QZF_STOPPABLE_COMMAND("export", "a recording to an AVI file, composed as the split view",
                      RunExport);
