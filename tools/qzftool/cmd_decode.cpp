// decode: every video packet of a recording through the decoder, pictures and an index out.

#include "media/qzf_block.h"
#include "media/stream_file.h"
#include "platform/file_identity.h"
#include "platform/hashing.h"
#include "qzftool/command.h"
#include "qzftool/options.h"
#include "video/color_convert.h"
#include "video/parallel_decoder.h"
#include "video/pixel_format.h"
#include "video/video_decoder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* kHelp =
    "Decodes every video packet in file order into one picture buffer per channel (kept\n"
    "from packet to packet, as the player does), appends each decoded picture in the\n"
    "chosen pixel format to DIR/ch<N>.<format> and writes DIR/index.jsonl with one line\n"
    "per video packet: seq, channel, width, height, key, accepted, decoded, sha256.\n"
    "Channels decode in parallel on N threads (default: one per processor); the output\n"
    "is the same for every N.\n";

struct OutputFormat {
    const char* name;
    int pixelFormat; // 0 for planar YUV, -1 for the bottom-up 24-bit DIB
};
constexpr OutputFormat kOutputs[] = {{"yuv", 0},
                                     {"rgb555", tv::PF_RGB555},
                                     {"rgb565", tv::PF_RGB565},
                                     {"bgr565", tv::PF_BGR565},
                                     {"rgb24", tv::PF_RGB24},
                                     {"rgb32", tv::PF_RGB32},
                                     {"dib24", -1}};

// An output of the run, refused when it reaches the recording.
FILE* OpenOutput(const std::string& path, const std::string& recording, std::string* why) {
    const int fd = tv::OpenOutputFile(path, {recording}, why);
    if (fd < 0)
        return nullptr;
    FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        *why = "cannot write " + path + ": " + std::strerror(errno);
        ::close(fd);
    }
    return f;
}

struct Channel {
    FILE* out = nullptr;
    ~Channel() {
        if (out)
            std::fclose(out);
    }
};

int RunDecode(int argc, char** argv) {
    std::string file, outDir;
    bool disk = false;
    int format = tv::VF_QZB2;
    int variant = -1;
    int threads = 0;
    std::string idct;
    const OutputFormat* output = &kOutputs[0];
    auto bad = [](const std::string& why) {
        std::fprintf(stderr, "qzftool decode: %s\n", why.c_str());
        return 2;
    };
    CLI::App cli;
    tv::cli::Prepare(cli, "qzftool decode", kHelp);
    cli.add_option("FILE", file, "the recording")->required();
    tv::qzf::AddDisk(cli, &disk);
    tv::qzf::AddFormat(cli, &format);
    tv::cli::AddChoice<std::string>(cli, "--idct", &idct,
                                    {{"generic", "generic"}, {"simd", "simd"}},
                                    "--idct must be generic or simd",
                                    "the inverse DCT (default: the fastest this processor runs)");
    std::vector<std::pair<std::string, const OutputFormat*>> pixelFormats;
    for (const OutputFormat& f : kOutputs)
        pixelFormats.emplace_back(f.name, &f);
    tv::cli::AddChoice(
        cli, "--pixel-format", &output, pixelFormats,
        "unknown pixel format '{}' (yuv, rgb555, rgb565, bgr565, rgb24, rgb32, dib24)",
        "the pictures' pixel format (default yuv, planar 4:2:0)");
    tv::cli::AddInt(cli, "--threads", "N", &threads, 1, 256, "--threads must be 1 to 256",
                    "decoding threads (default: one per processor)");
    tv::cli::AddText(cli, "--out", "DIR", &outDir, "the folder for the pictures and index.jsonl")
        ->required();
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0)
        return status;
    if (!idct.empty())
        variant = tv::IdctVariantFromName(idct.c_str());
    struct stat st;
    if (::stat(file.c_str(), &st) != 0)
        return bad("cannot open " + file + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return bad(file + " is a folder");
    if (::mkdir(outDir.c_str(), 0777) != 0 && errno != EEXIST)
        return bad("cannot create " + outDir + ": " + std::strerror(errno));

    tv::CStreamFile f;
    if (!f.Open(file, disk ? tv::kDiskMode : tv::kFileMode))
        return bad("cannot open " + file);
    f.SetFormat(format);
    tv::CVideoDecoder decoder;
    decoder.SetMode(format);
    if (variant >= 0)
        decoder.ForceVariant(variant);

    // Opening for writing truncates: no name written into the folder may
    // lead to the recording, and all are checked before anything is written.
    const std::string indexPath = outDir + "/index.jsonl";
    std::vector<std::string> outputs{indexPath};
    for (int ch = 0; ch < 16; ++ch)
        outputs.push_back(outDir + "/ch" + std::to_string(ch) + "." + output->name);
    for (const std::string& path : outputs) {
        if (!tv::InputOverwrittenBy(path, {file}).empty())
            return bad(path + " is the recording itself; choose another --out folder");
    }
    std::string why;
    FILE* index = OpenOutput(indexPath, file, &why);
    if (!index)
        return bad(why);

    std::vector<uint8_t> packet(tv::kMaxPacketSize);
    std::map<int, std::unique_ptr<Channel>> channels;
    long seq = 0, decodedCount = 0;
    bool writeFailed = false;
    std::string failure;

    // Packets are read and parsed here, decoded in runs on the pool with one
    // buffer per channel, and written in file order once their run is done.
    tv::CParallelDecoder pool(threads, format, variant);
    struct Entry {
        int channel = 0, width = 0, height = 0, key = 0, accepted = 0, decoded = 0;
        std::string sha;
        std::vector<uint8_t> out;
    };
    std::vector<Entry> entries;
    std::vector<size_t> entryOf; // run index to entry
    size_t pending = 0;
    const size_t runLength = size_t(8 * pool.Threads());
    auto flush = [&] {
        pool.Run([&](size_t i, const tv::CVideoDecoder& d, const uint8_t* pic, int result) {
            Entry& e = entries[entryOf[i]];
            e.decoded = result;
            const int w = d.GetWidth(), h = d.GetHeight();
            size_t outBytes = size_t(w) * h * 3 / 2;
            if (output->pixelFormat != 0) {
                const int bpp =
                    output->pixelFormat < 0 ? 3 : tv::PixelFormatBytes(output->pixelFormat);
                outBytes = size_t(w) * h * size_t(bpp);
                e.out.resize(outBytes);
                if (output->pixelFormat < 0)
                    tv::YuvToDib24(e.out.data(), w * 3, pic, w, h);
                else
                    tv::YuvToPixelFormat(output->pixelFormat, e.out.data(), w * bpp, pic, w, h);
            } else {
                e.out.assign(pic, pic + outBytes);
            }
            e.sha = tv::Sha256Hex(e.out.data(), outBytes);
        });
        for (size_t k = 0; k < pending; ++k) {
            Entry& e = entries[k];
            if (e.decoded && failure.empty()) {
                ++decodedCount;
                auto& slot = channels[e.channel];
                if (!slot->out) {
                    const std::string path =
                        outDir + "/ch" + std::to_string(e.channel) + "." + output->name;
                    // Checked again at the open: a link may have been made since.
                    slot->out = OpenOutput(path, file, &failure);
                }
                if (slot->out)
                    writeFailed |=
                        std::fwrite(e.out.data(), 1, e.out.size(), slot->out) != e.out.size();
            }
            std::fprintf(index,
                         "{\"seq\":%ld,\"channel\":%d,\"width\":%d,\"height\":%d,\"key\":%s,"
                         "\"accepted\":%s,\"decoded\":%s",
                         seq, e.channel, e.width, e.height, e.key ? "true" : "false",
                         e.accepted ? "true" : "false", e.decoded ? "true" : "false");
            if (e.accepted)
                std::fprintf(index, ",\"sha256\":\"%s\"", e.sha.c_str());
            std::fputs("}\n", index);
            ++seq;
        }
        pending = 0;
        entryOf.clear();
    };

    f.SetPosition(0);
    for (;;) {
        const uint64_t before = f.GetPosition();
        const int n = f.ReadForward(packet.data());
        if (n <= 0) {
            const uint64_t at = f.GetPosition();
            if (at + tv::kQzfBlockSize > f.GetSize() || at == before)
                break;
            continue; // a bad block; reading goes on at the next one
        }
        if (f.IsAudio())
            continue;
        if (pending == entries.size())
            entries.emplace_back();
        Entry& e = entries[pending++];
        e.accepted = decoder.ParseHeader(packet.data(), n) != 0 ? 1 : 0;
        e.channel = decoder.GetChannel();
        e.width = decoder.GetWidth();
        e.height = decoder.GetHeight();
        e.key = decoder.IsKeyPicture();
        e.decoded = 0;
        auto& slot = channels[e.channel];
        if (!slot)
            slot = std::make_unique<Channel>();
        if (e.accepted) {
            pool.Add(packet.data(), n, e.channel);
            entryOf.push_back(pending - 1);
        }
        // Refused packets count too, so that a stretch of them is not held.
        if (entryOf.size() >= runLength || pending >= 4 * runLength)
            flush();
        if (!failure.empty())
            break;
    }
    flush();
    for (auto& [ch, slot] : channels) {
        if (slot->out && std::fclose(slot->out) != 0)
            writeFailed = true;
        slot->out = nullptr;
    }
    if (std::fclose(index) != 0)
        writeFailed = true;
    if (!failure.empty())
        return bad(failure);
    if (writeFailed)
        return bad("writing into " + outDir + " failed: " + std::strerror(errno));
    std::printf("%ld video packets, %ld decoded, %zu channels\n", seq, decodedCount,
                channels.size());
    return 0;
}

} // namespace

QZF_COMMAND("decode", "decode every video packet into per-channel pictures and an index",
            RunDecode);
