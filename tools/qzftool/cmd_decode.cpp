// decode: every video packet of a recording through the decoder, pictures and an index out.

#include "media/qzf_block.h"
#include "media/stream_file.h"
#include "platform/file_identity.h"
#include "qzftool/command.h"
#include "video/color_convert.h"
#include "video/pixel_format.h"
#include "video/video_decoder.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const char* kHelp =
    "usage: qzftool decode FILE [--disk] [--format NAME] [--idct generic|simd]\n"
    "                      [--pixel-format yuv|rgb555|rgb565|bgr565|rgb24|rgb32|dib24] --out DIR\n"
    "Decodes every video packet in file order into one picture buffer per channel (kept\n"
    "from packet to packet, as the player does), appends each decoded picture in the\n"
    "chosen pixel format to DIR/ch<N>.<format> and writes DIR/index.jsonl with one line\n"
    "per video packet: seq, channel, width, height, key, accepted, decoded, sha256.\n";

// The player's picture buffer: large enough for any picture, zeroed once.
constexpr size_t kPictureBuffer = 414720;

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

std::string Sha256Hex(const uint8_t* p, size_t n) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(p, n, md, &len, EVP_sha256(), nullptr);
    std::string hex;
    char buf[3];
    for (unsigned int i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", md[i]);
        hex += buf;
    }
    return hex;
}

struct Channel {
    std::vector<uint8_t> picture = std::vector<uint8_t>(kPictureBuffer, 0);
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
    const OutputFormat* output = &kOutputs[0];
    auto bad = [](const std::string& why) {
        std::fprintf(stderr, "qzftool decode: %s\n", why.c_str());
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--disk") {
            disk = true;
        } else if ((a == "--format" || a == "--idct" || a == "--pixel-format" || a == "--out") &&
                   i + 1 >= argc) {
            return bad(a + " needs a value");
        } else if (a == "--format") {
            format = tv::VideoFormatFromName(argv[++i]);
            if (format < 0)
                return bad(std::string("unknown format '") + argv[i] +
                           "' (QZ_QZF, QZ_QZE, QZ_QZD, QZ_QZB, QZ_QZB2, QZ_QZB3, QZ_QZA)");
        } else if (a == "--idct") {
            const std::string v = argv[++i];
            if (v != "generic" && v != "simd")
                return bad("--idct must be generic or simd");
            variant = tv::IdctVariantFromName(v.c_str());
        } else if (a == "--pixel-format") {
            output = nullptr;
            for (const OutputFormat& f : kOutputs) {
                if (f.name == std::string(argv[i + 1]))
                    output = &f;
            }
            ++i;
            if (!output)
                return bad(std::string("unknown pixel format '") + argv[i] +
                           "' (yuv, rgb555, rgb565, bgr565, rgb24, rgb32, dib24)");
        } else if (a == "--out") {
            outDir = argv[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            return bad("unknown option '" + a + "'");
        } else if (file.empty()) {
            file = a;
        } else {
            return bad("more than one input file given");
        }
    }
    if (file.empty() || outDir.empty()) {
        std::fputs(kHelp, stderr);
        return 2;
    }
    struct stat st;
    if (::stat(file.c_str(), &st) != 0)
        return bad("cannot open " + file + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return bad(file + " is a folder");
    if (::mkdir(outDir.c_str(), 0777) != 0 && errno != EEXIST)
        return bad("cannot create " + outDir + ": " + std::strerror(errno));

    tv::CStreamFile f;
    if (!f.Open(file, disk ? 1 : 0))
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
    FILE* index = std::fopen(indexPath.c_str(), "w");
    if (!index)
        return bad("cannot create " + indexPath + ": " + std::strerror(errno));

    std::vector<uint8_t> packet(tv::kMaxPacketSize);
    std::vector<uint8_t> converted(size_t(640) * 272 * 4);
    std::map<int, std::unique_ptr<Channel>> channels;
    long seq = 0, decodedCount = 0;
    bool writeFailed = false;
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
        const int accepted = decoder.ParseHeader(packet.data(), n) != 0 ? 1 : 0;
        const int ch = decoder.GetChannel();
        auto& slot = channels[ch];
        if (!slot)
            slot = std::make_unique<Channel>();
        int decoded = 0;
        std::string sha;
        const int w = decoder.GetWidth(), h = decoder.GetHeight();
        if (accepted) {
            decoded = decoder.Decode(packet.data(), n, slot->picture.data(), kPictureBuffer);
            const uint8_t* out = slot->picture.data();
            size_t outBytes = size_t(w) * h * 3 / 2;
            if (output->pixelFormat != 0) {
                const int bpp =
                    output->pixelFormat < 0 ? 3 : tv::PixelFormatBytes(output->pixelFormat);
                outBytes = size_t(w) * h * size_t(bpp);
                if (output->pixelFormat < 0)
                    tv::YuvToDib24(converted.data(), w * 3, out, w, h);
                else
                    tv::YuvToPixelFormat(output->pixelFormat, converted.data(), w * bpp, out, w, h);
                out = converted.data();
            }
            sha = Sha256Hex(out, outBytes);
            if (decoded) {
                ++decodedCount;
                if (!slot->out) {
                    const std::string path =
                        outDir + "/ch" + std::to_string(ch) + "." + output->name;
                    if (!tv::InputOverwrittenBy(path, {file}).empty()) {
                        std::fclose(index);
                        return bad(path + " is the recording itself; choose another --out folder");
                    }
                    slot->out = std::fopen(path.c_str(), "wb");
                    if (!slot->out) {
                        std::fclose(index);
                        return bad("cannot create " + path + ": " + std::strerror(errno));
                    }
                }
                writeFailed |= std::fwrite(out, 1, outBytes, slot->out) != outBytes;
            }
        }
        std::fprintf(index,
                     "{\"seq\":%ld,\"channel\":%d,\"width\":%d,\"height\":%d,\"key\":%s,"
                     "\"accepted\":%s,\"decoded\":%s",
                     seq, ch, w, h, decoder.IsKeyPicture() ? "true" : "false",
                     accepted ? "true" : "false", decoded ? "true" : "false");
        if (accepted)
            std::fprintf(index, ",\"sha256\":\"%s\"", sha.c_str());
        std::fputs("}\n", index);
        ++seq;
    }
    for (auto& [ch, slot] : channels) {
        if (slot->out && std::fclose(slot->out) != 0)
            writeFailed = true;
        slot->out = nullptr;
    }
    if (std::fclose(index) != 0 || writeFailed)
        return bad("writing into " + outDir + " failed: " + std::strerror(errno));
    std::printf("%ld video packets, %ld decoded, %zu channels\n", seq, decodedCount,
                channels.size());
    return 0;
}

} // namespace

QZF_COMMAND("decode", "decode every video packet into per-channel pictures and an index",
            RunDecode);
