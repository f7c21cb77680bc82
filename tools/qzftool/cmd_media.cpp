// Recording inspection commands: info, packets, verify, copy, repair, find-time.

#include "media/qzf_block.h"
#include "media/stream_file.h"
#include "platform/file_io.h"
#include "platform/hashing.h"
#include "platform/json_text.h"
#include "qzftool/command.h"
#include "qzftool/options.h"
#include "qzftool/stop_signal.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using tv::CStreamFile;

struct Options {
    std::vector<std::string> args;
    bool disk = false;
    bool json = false;
    bool backward = false;
    bool utc = false;
    bool force = false;
    int format = tv::VF_QZB2;
};

// The command line of a command that reads the recording FILE; further
// positional arguments land in o->args after it, in their order.
void Declare(CLI::App& cli, const char* name, const char* help, Options* o,
             std::vector<std::pair<const char*, const char*>> more = {}) {
    tv::cli::Prepare(cli, std::string("qzftool ") + name, help);
    o->args.resize(1 + more.size());
    cli.add_option("FILE", o->args[0], "the recording")->required();
    for (size_t i = 0; i < more.size(); ++i) {
        cli.add_option(more[i].first, o->args[i + 1], more[i].second)->required();
    }
    tv::qzf::AddDisk(cli, &o->disk);
}

bool OpenRecording(const char* cmd, const Options& o, CStreamFile* f) {
    const std::string& path = o.args[0];
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "qzftool %s: cannot open %s: %s\n", cmd, path.c_str(),
                     std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "qzftool %s: %s is a folder\n", cmd, path.c_str());
        return false;
    }
    // A stale errno from an earlier call would name the wrong reason.
    errno = 0;
    if (!f->Open(path, o.disk ? tv::kDiskMode : tv::kFileMode)) {
        std::fprintf(stderr, "qzftool %s: cannot open %s: %s\n", cmd, path.c_str(),
                     errno ? std::strerror(errno) : "no size");
        return false;
    }
    f->SetFormat(o.format);
    return true;
}

std::string FormatTime(uint32_t t, bool utc, long bias) {
    return tv::FormatBlockTime(t, utc ? 0 : bias);
}

// Reads packet after packet in one direction, going on past bad blocks, and
// calls fn(length) for each; stops at the end of the recording.
template <typename Fn> void ForEachPacket(CStreamFile& f, bool backward, uint8_t* buf, Fn fn) {
    f.SetPosition(0);
    if (backward) {
        f.SetPosition(f.GetSize() - 1);
    }
    for (;;) {
        const uint64_t before = f.GetPosition();
        const int n = backward ? f.ReadBackward(buf) : f.ReadForward(buf);
        if (n > 0) {
            fn(n);
            continue;
        }
        const uint64_t at = f.GetPosition();
        const bool end = backward ? at == 0 : at + tv::kQzfBlockSize > f.GetSize() || at == before;
        if (end || (backward && at == before)) {
            return;
        }
    }
}

int RunInfo(int argc, char** argv) {
    static const char* kHelp =
        "Size, blocks, blocks with bad checksums, channel masks, first and last block time,\n"
        "and video and audio packet counts per channel.\n";
    Options o;
    CLI::App cli;
    Declare(cli, "info", kHelp, &o);
    tv::qzf::AddFormat(cli, &o.format);
    cli.add_flag("--json", o.json, "one JSON object instead of lines");
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0) {
        return status;
    }
    CStreamFile f;
    if (!OpenRecording(argv[0], o, &f)) {
        return 2;
    }
    uint64_t blocks = f.GetBlockCount();
    uint64_t bad = 0;
    unsigned mask = 0;
    bool haveTime = false;
    uint32_t first = 0;
    uint32_t last = 0;
    for (uint64_t b = 0; b < blocks; ++b) {
        tv::QzfBlockHeader h;
        if (f.ReadBlockHeaderAt(b, &h) != 1) {
            ++bad;
            continue;
        }
        mask |= h.channelMask;
        if (!haveTime) {
            first = h.time;
            haveTime = true;
        }
        last = h.time;
    }
    uint64_t video[16] = {};
    uint64_t audio[4] = {};
    std::vector<uint8_t> buf(tv::kMaxPacketSize);
    ForEachPacket(f, false, buf.data(), [&](int) {
        if (f.IsAudio()) {
            ++audio[f.GetChannel() & 3];
        } else {
            ++video[f.GetChannel() & 15];
        }
    });
    const long bias = f.GetTimeZoneBias();
    const std::string t0 = haveTime ? FormatTime(first, false, bias) : "";
    const std::string t1 = haveTime ? FormatTime(last, false, bias) : "";
    if (o.json) {
        std::printf("{\"file\":%s,\"format\":\"%s\",\"size\":%" PRIu64 ",\"blocks\":%" PRIu64
                    ",\"bad_blocks\":%" PRIu64 ",\"channel_mask\":%u,\"audio_channel_mask\":%d,"
                    "\"first_time\":%s,\"last_time\":%s,\"video\":[",
                    tv::JsonString(o.args[0]).c_str(), tv::FormatName(o.format), f.GetSize(),
                    blocks, bad, mask, f.GetAudioChannelMask(),
                    haveTime ? tv::JsonString(t0).c_str() : "null",
                    haveTime ? tv::JsonString(t1).c_str() : "null");
        for (int c = 0; c < 16; ++c) {
            std::printf("%s%" PRIu64, c ? "," : "", video[c]);
        }
        std::printf("],\"audio\":[");
        for (int c = 0; c < 4; ++c) {
            std::printf("%s%" PRIu64, c ? "," : "", audio[c]);
        }
        std::printf("]}\n");
        return 0;
    }
    std::printf("file:               %s\n", o.args[0].c_str());
    std::printf("format:             %s\n", tv::FormatName(o.format));
    std::printf("size:               %" PRIu64 " bytes\n", f.GetSize());
    std::printf("blocks:             %" PRIu64 "%s\n", blocks,
                f.GetSize() % tv::kQzfBlockSize ? " (and a partial block)" : "");
    std::printf("bad blocks:         %" PRIu64 "\n", bad);
    std::printf("channel mask:       0x%04X\n", mask);
    std::printf("audio channel mask: 0x%X\n", static_cast<unsigned>(f.GetAudioChannelMask()));
    std::printf("first block time:   %s\n", haveTime ? t0.c_str() : "-");
    std::printf("last block time:    %s\n", haveTime ? t1.c_str() : "-");
    for (int c = 0; c < 16; ++c) {
        if (video[c] != 0) {
            std::printf("video channel %-2d    %" PRIu64 " packets\n", c, video[c]);
        }
    }
    for (int c = 0; c < 4; ++c) {
        if (audio[c] != 0) {
            std::printf("audio channel %-2d    %" PRIu64 " packets\n", c, audio[c]);
        }
    }
    return 0;
}

int RunPackets(int argc, char** argv) {
    static const char* kHelp =
        "One line per packet in read order: kind, channel, length, sha256 of the delivered\n"
        "bytes and block time (local standard time, or UTC with --utc).\n";
    Options o;
    CLI::App cli;
    Declare(cli, "packets", kHelp, &o);
    tv::qzf::AddFormat(cli, &o.format);
    cli.add_flag("--backward", o.backward, "read from the end to the start, as reverse play does");
    tv::qzf::AddUtc(cli, &o.utc);
    cli.add_flag("--json", o.json, "one JSON object per packet");
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0) {
        return status;
    }
    CStreamFile f;
    if (!OpenRecording(argv[0], o, &f)) {
        return 2;
    }
    std::vector<uint8_t> buf(tv::kMaxPacketSize);
    const long bias = f.GetTimeZoneBias();
    ForEachPacket(f, o.backward, buf.data(), [&](int n) {
        const char* kind = f.IsAudio() ? "audio" : "video";
        const std::string sha = tv::Sha256Hex(buf.data(), static_cast<size_t>(n));
        const std::string t = FormatTime(f.GetBlockTimeUtc(), o.utc, bias);
        if (o.json) {
            std::printf("{\"kind\":\"%s\",\"channel\":%d,\"length\":%d,\"sha256\":\"%s\","
                        "\"time\":\"%s\"}\n",
                        kind, f.GetChannel(), n, sha.c_str(), t.c_str());
        } else {
            std::printf("%s %d %d %s %s\n", kind, f.GetChannel(), n, sha.c_str(), t.c_str());
        }
    });
    return 0;
}

// Whether a file holds a recording at all: at least one whole block whose
// header holds. Prints why not and returns false otherwise.
bool IsRecording(CStreamFile& f, const std::string& path) {
    if (f.GetSize() == 0) {
        std::printf("%s is empty: not a QZF recording\n", path.c_str());
        return false;
    }
    if (f.GetBlockCount() == 0) {
        std::printf("%s holds no whole block (%" PRIu64 " bytes): not a QZF recording\n",
                    path.c_str(), f.GetSize());
        return false;
    }
    for (uint64_t b = 0; b < f.GetBlockCount(); ++b) {
        tv::QzfBlockHeader h;
        if (f.ReadBlockHeaderAt(b, &h) == 1) {
            return true;
        }
    }
    return false;
}

int RunVerify(int argc, char** argv) {
    static const char* kHelp =
        "Checks the checksum of every block header and lists the offsets of bad blocks.\n"
        "A block checksum covers the block's 8-byte header only, not the stream bytes\n"
        "after it; the SHA-256 of an evidence package covers every byte.\n"
        "A cut tail (bytes after the last whole block, as a recording cut off by a crash\n"
        "or a kill ends) is reported on a line of its own: it is no bad block, readers\n"
        "stop before it, and qzftool repair writes a copy without it.\n"
        "Exit status 0 when every whole block's checksum holds, 1 when any fails or the\n"
        "file is no recording (empty, or not one block header holds).\n";
    Options o;
    CLI::App cli;
    Declare(cli, "verify", kHelp, &o);
    tv::qzf::AddFormat(cli, &o.format);
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0) {
        return status;
    }
    CStreamFile f;
    if (!OpenRecording(argv[0], o, &f)) {
        return 2;
    }
    if (f.GetSize() == 0 || f.GetBlockCount() == 0) {
        IsRecording(f, o.args[0]);
        return 1;
    }
    uint64_t bad = 0;
    uint64_t unreadable = 0;
    for (uint64_t b = 0; b < f.GetBlockCount(); ++b) {
        tv::QzfBlockHeader h;
        if (f.ReadBlockHeaderAt(b, &h) != 1) {
            const int error = f.GetReadError();
            if (error != 0) {
                std::printf("bad block at offset %" PRIu64 " (unreadable: %s)\n",
                            b * tv::kQzfBlockSize, std::strerror(error));
                ++unreadable;
            } else {
                std::printf("bad block at offset %" PRIu64 "\n", b * tv::kQzfBlockSize);
            }
            ++bad;
        }
    }
    const uint64_t tail = f.GetSize() % tv::kQzfBlockSize;
    if (tail != 0) {
        std::printf("cut tail at offset %" PRIu64 ": %" PRIu64
                    " bytes after the last whole block (qzftool repair leaves it out)\n",
                    f.GetSize() - tail, tail);
    }
    std::printf("%" PRIu64 " blocks, %" PRIu64 " bad", f.GetBlockCount(), bad);
    if (unreadable > 0) {
        std::printf(" (%" PRIu64 " unreadable)", unreadable);
    }
    std::printf("\n");
    if (bad == f.GetBlockCount() && unreadable < bad) {
        std::printf("not one block header holds: %s is not a QZF recording\n", o.args[0].c_str());
    }
    return bad == 0 ? 0 : 1;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int RunRepair(int argc, char** argv) {
    static const char* kHelp =
        "Writes every whole block of FILE, in file byte order, to a new QZF file OUT and\n"
        "leaves out a cut tail (the bytes after the last whole block that a recording cut\n"
        "off by a crash or a kill ends with). Bad blocks are kept as they are and listed:\n"
        "readers skip them whole, while leaving them out would join the stream bytes on\n"
        "either side into packets that never were. OUT appears only once it is complete\n"
        "and on the disk; an existing OUT is replaced only with --force.\n";
    Options o;
    CLI::App cli;
    Declare(cli, "repair", kHelp, &o, {{"OUT", "the new QZF file"}});
    tv::qzf::AddFormat(cli, &o.format);
    cli.add_flag("--force", o.force, "replace an existing OUT");
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0) {
        return status;
    }
    const std::string& in = o.args[0];
    const std::string& out = o.args[1];
    auto fail = [](int status, const std::string& why) {
        std::fprintf(stderr, "qzftool repair: %s\n", why.c_str());
        return status;
    };
    CStreamFile f;
    if (!OpenRecording(argv[0], o, &f)) {
        return 2;
    }
    struct stat inStat {};
    struct stat outStat {};
    ::stat(in.c_str(), &inStat);
    if (::stat(out.c_str(), &outStat) == 0) {
        if (SameFile(inStat, outStat)) {
            return fail(2, out + " is the recording itself; write the repaired copy elsewhere");
        }
        if (!o.force) {
            return fail(2, out + " exists; --force replaces it");
        }
    }
    if (!IsRecording(f, in)) {
        return fail(1, "nothing to repair in " + in);
    }
    const int src = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
    if (src < 0) {
        return fail(2, "cannot open " + in + ": " + std::strerror(errno));
    }
    // Written beside OUT and moved into place once on the disk, so that a
    // failure or a stop never leaves a short OUT behind.
    std::string tmp = out + ".XXXXXX";
    const int dst = ::mkstemp(tmp.data());
    if (dst < 0) {
        ::close(src);
        return fail(2, "cannot create " + out + ": " + std::strerror(errno));
    }
    auto abandon = [&](int status, const std::string& why) {
        ::close(src);
        ::close(dst);
        ::unlink(tmp.c_str());
        return fail(status, why);
    };
    const uint64_t blocks = f.GetBlockCount();
    uint64_t bad = 0;
    constexpr uint64_t kChunkBlocks = 256;
    std::vector<uint8_t> buf(kChunkBlocks * tv::kQzfBlockSize);
    for (uint64_t b = 0; b < blocks; b += kChunkBlocks) {
        if (tv::qzf::StopRequested()) {
            return abandon(130, "stopped; " + out + " was not written");
        }
        const uint64_t n = std::min(kChunkBlocks, blocks - b);
        const size_t bytes = static_cast<size_t>(n * tv::kQzfBlockSize);
        size_t got = 0;
        const ssize_t r = tv::PreadFull(src, buf.data(), bytes, b * tv::kQzfBlockSize, &got);
        if (r != static_cast<ssize_t>(bytes)) {
            const char* why = r < 0 ? std::strerror(errno) : "the file got shorter";
            return abandon(1, "cannot read " + in + " at offset " +
                                  std::to_string(b * tv::kQzfBlockSize + got) + ": " + why);
        }
        if (o.disk) {
            tv::SwapWords(buf.data(), bytes);
        }
        for (uint64_t i = 0; i < n; ++i) {
            tv::QzfBlockHeader h;
            if (f.ReadBlockHeaderAt(b + i, &h) != 1) {
                std::printf("bad block at offset %" PRIu64 " kept\n", (b + i) * tv::kQzfBlockSize);
                ++bad;
            }
        }
        if (tv::WriteFull(dst, buf.data(), bytes) < 0) {
            return abandon(1, "cannot write " + out + ": " + std::strerror(errno));
        }
    }
    if (::fsync(dst) != 0) {
        return abandon(1, "cannot write " + out + ": " + std::strerror(errno));
    }
    ::fchmod(dst, 0644);
    // link() refuses an OUT made meanwhile; --force replaces it in one step.
    const int placed =
        o.force ? ::rename(tmp.c_str(), out.c_str()) : ::link(tmp.c_str(), out.c_str());
    if (placed != 0) {
        return abandon(errno == EEXIST ? 2 : 1,
                       (errno == EEXIST ? out + " exists; --force replaces it"
                                        : "cannot create " + out + ": " + std::strerror(errno)));
    }
    if (!o.force) {
        ::unlink(tmp.c_str());
    }
    ::close(src);
    ::close(dst);
    const std::string::size_type slash = out.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : out.substr(0, slash + 1);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir); // the new name is on the disk too
        ::close(dir);
    }
    const uint64_t tail = f.GetSize() % tv::kQzfBlockSize;
    std::printf("%" PRIu64 " blocks written to %s, %" PRIu64 " bad kept, %" PRIu64
                " bytes of cut tail left out\n",
                blocks, out.c_str(), bad, tail);
    return 0;
}

bool ParseOffset(const std::string& s, uint64_t* out) {
    if (s.empty() || s[0] == '-') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0') {
        return false;
    }
    *out = v;
    return true;
}

int RunCopy(int argc, char** argv) {
    static const char* kHelp =
        "Copies the whole blocks covering byte offsets START to END (at most 1 GiB) into a\n"
        "new QZF file OUT, in file byte order. A cut tail (the bytes after the last whole\n"
        "block) is never copied.\n";
    Options o;
    CLI::App cli;
    Declare(cli, "copy", kHelp, &o,
            {{"START", "the first byte offset"},
             {"END", "the last byte offset"},
             {"OUT", "the new QZF file"}});
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0) {
        return status;
    }
    uint64_t start = 0;
    uint64_t end = 0;
    if (!ParseOffset(o.args[1], &start) || !ParseOffset(o.args[2], &end)) {
        std::fprintf(stderr, "qzftool copy: START and END must be byte offsets\n");
        return 2;
    }
    CStreamFile f;
    if (!OpenRecording(argv[0], o, &f)) {
        return 2;
    }
    if (start >= end || end >= f.GetSize()) {
        std::fprintf(stderr, "qzftool copy: need START < END < size (%" PRIu64 ")\n", f.GetSize());
        return 2;
    }
    // A copy is a recording of whole blocks: a cut tail stays behind.
    const uint64_t wholeEnd = f.GetBlockCount() * tv::kQzfBlockSize;
    if (end >= wholeEnd) {
        if (start >= wholeEnd) {
            std::fprintf(stderr,
                         "qzftool copy: START lies in the cut tail after offset %" PRIu64
                         "; there is no whole block to copy\n",
                         wholeEnd);
            return 2;
        }
        std::fprintf(stderr,
                     "qzftool copy: the cut tail (%" PRIu64 " bytes after offset %" PRIu64
                     ") is left out\n",
                     f.GetSize() - wholeEnd, wholeEnd);
        end = wholeEnd - 1;
    }
    if (!f.CopyRange(start, end, o.args[3])) {
        std::fprintf(stderr, "qzftool copy: could not copy to %s: %s\n", o.args[3].c_str(),
                     f.GetCopyError().c_str());
        return 1;
    }
    return 0;
}

bool ParseTime(const std::string& s, tv::SYSTEMTIME* t) {
    return tv::ParseBlockTime(s, t);
}

int RunFindTime(int argc, char** argv) {
    static const char* kHelp =
        "Prints the byte offset of the block with the earliest time at or after the given\n"
        "time (local standard time, or UTC with --utc), and that block's time. Where the\n"
        "recorder's clock was changed and the time was recorded more than once, one such\n"
        "line for each place, the earliest first.\n";
    Options o;
    CLI::App cli;
    Declare(cli, "find-time", kHelp, &o, {{"TIME", "\"YYYY-MM-DD hh:mm:ss\""}});
    tv::qzf::AddUtc(cli, &o.utc);
    tv::qzf::AddFormat(cli, &o.format);
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0) {
        return status;
    }
    tv::SYSTEMTIME t;
    if (!ParseTime(o.args[1], &t)) {
        std::fprintf(stderr,
                     "qzftool find-time: '%s' is not a time of the form "
                     "\"YYYY-MM-DD hh:mm:ss\"\n",
                     o.args[1].c_str());
        return 2;
    }
    CStreamFile f;
    if (!OpenRecording(argv[0], o, &f)) {
        return 2;
    }
    const int64_t secs = tv::LocalToBlockTime(t, o.utc ? 0 : f.GetTimeZoneBias());
    std::vector<CStreamFile::TimeMatch> matches;
    if (secs <= 0xFFFFFFFFll) {
        matches = f.FindTimeAll(static_cast<uint32_t>(secs < 0 ? 0 : secs));
    }
    if (matches.empty()) {
        std::fprintf(stderr, "qzftool find-time: no block at or after %s\n", o.args[1].c_str());
        return 1;
    }
    if (matches.size() > 1) {
        std::fprintf(stderr,
                     "qzftool find-time: %zu places in the recording reach %s (the recorder's "
                     "clock was changed); one line each\n",
                     matches.size(), o.args[1].c_str());
    }
    for (const CStreamFile::TimeMatch& m : matches) {
        std::printf("%" PRId64 " %s\n", m.offset,
                    FormatTime(m.time, o.utc, f.GetTimeZoneBias()).c_str());
    }
    return 0;
}

} // namespace

QZF_COMMAND("info", "size, blocks, bad blocks, channels, times and packet counts", RunInfo);
QZF_COMMAND("packets", "one line per packet: kind, channel, length, sha256, time", RunPackets);
QZF_COMMAND("verify", "check every block header's checksum; exit 1 when any fails", RunVerify);
QZF_COMMAND("copy", "copy the blocks covering a byte range into a new QZF file", RunCopy);
QZF_STOPPABLE_COMMAND("repair", "copy the whole blocks of a cut recording into a new file",
                      RunRepair);
QZF_COMMAND("find-time",
            "byte offset of the earliest block at or after a time (each, when it recurs)",
            RunFindTime);
