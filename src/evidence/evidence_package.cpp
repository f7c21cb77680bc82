#include "evidence/evidence_package.h"

#include "compose/split_frame.h"
#include "evidence/hashing_file.h"
#include "export/avi_writer.h"
#include "export/compressor_chooser.h"
#include "export/frame_rate.h"
#include "media/qzf_block.h"
#include "media/stream_file.h"
#include "platform/file_io.h"
#include "platform/json_text.h"
#include "video/dual_picture.h"
#include "video/video_decoder.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tv::evidence {

namespace {

constexpr uint64_t kBlock = kQzfBlockSize;
// How far back a channel's key picture is looked for: recorders write one at
// least every few seconds, so this is minutes of footage.
constexpr uint64_t kKeySearchLimit = 256ull << 20;
constexpr int kMaxChannels = 16;
constexpr size_t kPictureBuffer = 414720;

std::string ChannelList(uint32_t mask) {
    std::string s;
    for (int c = 0; c < kMaxChannels; ++c) {
        if (mask & (1u << c)) {
            s += (s.empty() ? "" : ", ") + std::to_string(c + 1);
        }
    }
    return s.empty() ? "none" : s;
}

std::string JsonChannels(uint32_t mask) {
    std::string s = "[";
    for (int c = 0; c < kMaxChannels; ++c) {
        if (mask & (1u << c)) {
            s += (s.size() > 1 ? ", " : "") + std::to_string(c + 1);
        }
    }
    return s + "]";
}

// The channels a decoded picture shows (two for a dual picture).
int PictureChannels(const CVideoDecoder& d, int out[2]) {
    if (!d.IsDualPicture()) {
        out[0] = d.GetChannel() & (kMaxChannels - 1);
        return 1;
    }
    int n = 0;
    if (!d.IsLeftAbsent()) {
        out[n++] = d.GetLeftChannel() & (kMaxChannels - 1);
    }
    if (!d.IsRightAbsent()) {
        out[n++] = d.GetRightChannel() & (kMaxChannels - 1);
    }
    return n;
}

// Reads packet after packet going on past bad blocks; fn returns false to stop.
template <typename Fn> void ForwardFrom(CStreamFile& f, uint64_t start, uint8_t* buf, Fn fn) {
    f.SetPosition(start);
    for (;;) {
        const uint64_t before = f.GetPosition();
        const int n = f.ReadForward(buf);
        if (n > 0) {
            if (!fn(n)) {
                return;
            }
            continue;
        }
        if (f.GetPosition() + kBlock > f.GetSize() || f.GetPosition() == before) {
            return;
        }
    }
}

// The chosen channels whose first picture read from block offset m (up to
// end) is an update picture; *seen gets those that have a picture at all.
uint32_t ChannelsOpeningWithUpdate(const PackageOptions& o, uint64_t m, uint64_t end,
                                   uint32_t chosen, std::vector<uint8_t>& buf, uint32_t* seen,
                                   const std::atomic<bool>* cancel) {
    CStreamFile f;
    *seen = 0;
    if (!f.Open(o.source, o.disk ? kDiskMode : kFileMode)) {
        return 0;
    }
    f.SetFormat(o.videoFormat);
    CVideoDecoder d;
    d.SetMode(o.videoFormat);
    uint32_t update = 0;
    ForwardFrom(f, m, buf.data(), [&](int n) {
        if (cancel && cancel->load()) {
            return false;
        }
        if (!f.IsAudio() && d.ParseHeader(buf.data(), n)) {
            int ch[2];
            const int k = PictureChannels(d, ch);
            for (int i = 0; i < k; ++i) {
                const uint32_t bit = 1u << ch[i];
                if ((chosen & bit) && !(*seen & bit)) {
                    *seen |= bit;
                    if (!d.IsKeyPicture()) {
                        update |= bit;
                    }
                }
            }
        }
        return (*seen & chosen) != chosen && f.GetPosition() < end;
    });
    return update;
}

// The end of the block in which the packet running at block offset e0
// ends, so that the master's last packet is whole.
uint64_t EndOfLastPacket(int fd, bool disk, uint64_t e0, uint64_t size) {
    std::vector<uint8_t> b(kBlock);
    uint32_t reg = 0xFFFFFFFF;
    for (uint64_t off = e0; off + kBlock <= size && off < e0 + 40 * kBlock; off += kBlock) {
        size_t got = 0;
        if (PreadFull(fd, b.data(), kBlock, off, &got) < 0 || got < kBlock) {
            return off;
        }
        if (disk) {
            SwapWords(b.data(), kBlock);
        }
        for (size_t i = kQzfHeaderSize; i < kBlock; ++i) {
            reg = (reg << 8) | b[i];
            if ((reg >> 8) == 1 && IsPacketCode(static_cast<uint8_t>(reg))) {
                return off + kBlock;
            }
        }
    }
    return std::min(size / kBlock * kBlock, e0 + 40 * kBlock);
}

std::string RealParentPath(const std::string& path, std::string* rest) {
    // The nearest folder of path that exists, resolved; rest is what follows.
    std::string p = path;
    rest->clear();
    // Appended piece by piece: GCC 12 at -O3 misreads the joins of literals
    // with strings as overlapping copies (-Wrestrict).
    auto prepend = [rest](const std::string& part) {
        std::string joined = part;
        if (!rest->empty()) {
            joined.push_back('/');
            joined.append(*rest);
        }
        rest->swap(joined);
    };
    while (!p.empty()) {
        char buf[PATH_MAX];
        if (::realpath(p.c_str(), buf)) {
            return buf;
        }
        const size_t slash = p.find_last_of('/');
        if (slash == std::string::npos) {
            prepend(p);
            char cwd[PATH_MAX];
            return ::realpath(".", cwd) ? cwd : "";
        }
        prepend(p.substr(slash + 1));
        p = slash == 0 ? std::string("/") : p.substr(0, slash);
    }
    return "";
}

// The whole disk a block device number belongs to (itself when it is one).
dev_t WholeDiskOf(dev_t dev) {
    char link[64];
    std::snprintf(link, sizeof(link), "/sys/dev/block/%u:%u", major(dev), minor(dev));
    char real[PATH_MAX];
    if (!::realpath(link, real)) {
        return dev;
    }
    const std::string dir = real;
    if (::access((dir + "/partition").c_str(), F_OK) != 0) {
        return dev;
    }
    FILE* f = std::fopen((dir.substr(0, dir.find_last_of('/')) + "/dev").c_str(), "r");
    unsigned ma = 0, mi = 0;
    if (f) {
        if (std::fscanf(f, "%u:%u", &ma, &mi) != 2) {
            ma = major(dev);
            mi = minor(dev);
        }
        std::fclose(f);
        return makedev(ma, mi);
    }
    return dev;
}

// Whether the folder would lie inside the source: under the file's own name,
// or on a file system that lives on the source disk.
bool InsideSource(const std::string& source, const std::string& dir) {
    struct stat src;
    if (::stat(source.c_str(), &src) != 0) {
        return false;
    }
    std::string rest;
    const std::string parent = RealParentPath(dir, &rest);
    char buf[PATH_MAX];
    const std::string realSource = ::realpath(source.c_str(), buf) ? buf : source;
    const std::string full = rest.empty() ? parent : parent + "/" + rest;
    if (full == realSource || full.rfind(realSource + "/", 0) == 0) {
        return true;
    }
    if (S_ISBLK(src.st_mode)) {
        struct stat at;
        if (::stat(parent.c_str(), &at) == 0 &&
            WholeDiskOf(at.st_dev) == WholeDiskOf(src.st_rdev)) {
            return true;
        }
    }
    return false;
}

bool FolderIsEmpty(const std::string& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) {
        return false;
    }
    bool empty = true;
    while (const dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    ::closedir(d);
    return empty;
}

std::string LoginName() {
    if (const passwd* pw = ::getpwuid(::geteuid())) {
        return pw->pw_name;
    }
    if (const char* u = std::getenv("USER")) {
        return u;
    }
    return std::to_string(::geteuid());
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof(buf), "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

std::string Bytes(uint64_t n) {
    char buf[32];
    if (n >= (1ull << 20)) {
        std::snprintf(buf, sizeof(buf), "%.1f MiB", double(n) / double(1 << 20));
    } else {
        std::snprintf(buf, sizeof(buf), "%" PRIu64 " bytes", n);
    }
    return buf;
}

// One bitmap file as the still capture writes it: the 14-byte file header
// and a device-independent bitmap of 40-byte header and 24-bit bottom-up rows.
int WriteStill(CHashingFile& out, const CSplitFrame& frame, std::string* error) {
    const int w = frame.Width(), h = frame.Height();
    const uint32_t stride = (uint32_t(w) * 3 + 3) & ~3u;
    const uint32_t image = stride * uint32_t(h);
    uint8_t head[54] = {};
    auto put16 = [&](int at, uint32_t v) {
        head[at] = uint8_t(v);
        head[at + 1] = uint8_t(v >> 8);
    };
    auto put32 = [&](int at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    head[0] = 'B';
    head[1] = 'M';
    put32(2, 40 + image + 14);
    put32(10, 14 + 40);
    put32(14, 40);
    put32(18, uint32_t(w));
    put32(22, uint32_t(h));
    put16(26, 1);
    put16(28, 24);
    put32(34, image);
    if (!out.Write(head, sizeof(head), error)) {
        return 0;
    }
    std::vector<uint8_t> row(stride, 0);
    for (int y = 0; y < h; ++y) {
        std::memcpy(row.data(), frame.Data() + size_t(y) * w * 3, size_t(w) * 3);
        if (!out.Write(row.data(), stride, error)) {
            return 0;
        }
    }
    return 1;
}

// The RIFF chunks of a finished AVI file run exactly to its end; a file
// whose trailer could not be written (a full disk) does not.
bool AviIsWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && st.st_size > 12;
    uint64_t off = 0;
    const uint64_t size = ok ? uint64_t(st.st_size) : 0;
    while (ok && off < size) {
        uint8_t h[8];
        size_t got = 0;
        if (PreadFull(fd, h, 8, off, &got) < 0 || got < 8 || std::memcmp(h, "RIFF", 4) != 0) {
            ok = false;
            break;
        }
        const uint32_t len =
            uint32_t(h[4]) | uint32_t(h[5]) << 8 | uint32_t(h[6]) << 16 | uint32_t(h[7]) << 24;
        off += 8 + uint64_t(len) + (len & 1);
    }
    ::close(fd);
    return ok && off == size;
}

class CPackager {
public:
    CPackager(const PackageOptions& o, const ProgressFn& p, const std::atomic<bool>* c,
              PackageResult* r)
        : m_o(o), m_progress(p), m_cancel(c), m_r(r), m_buf(kMaxPacketSize) {}
    ~CPackager() {
        if (m_src >= 0) {
            ::close(m_src);
        }
        if (m_dirFd >= 0) {
            ::close(m_dirFd);
        }
    }

    int Run() {
        if (!Prepare() || !MakeFolder()) {
            return 0;
        }
        const bool ok =
            HashSource() && CopyMaster() && MakeWorkingCopy() && WriteReport() && WriteManifest();
        if (!ok) {
            RemoveAll();
            return 0;
        }
        Summarise();
        return 1;
    }

private:
    struct Piece {
        uint64_t start = 0; // source bytes
        uint64_t end = 0;
        uint32_t noKey = 0;                     // chosen channels opening with an update picture
        uint32_t firstBlock = 0, lastBlock = 0; // times of its first and last readable blocks
        uint32_t first = UINT32_MAX, last = 0;  // the range's earliest and latest time in it
    };

    bool Fail(const std::string& why) {
        if (m_r->error.empty()) {
            m_r->error = why;
        }
        return false;
    }
    bool Cancelled() {
        if (m_cancel && m_cancel->load()) {
            return !Fail("cancelled");
        }
        return false;
    }
    void Progress(const std::string& stage, uint64_t done, uint64_t total) {
        if (m_progress) {
            m_progress(stage, done, total);
        }
    }
    std::string In(const std::string& name) const { return m_o.outDir + "/" + name; }
    std::string Time(uint32_t t) const { return FormatPackageTime(t, m_o.utc, m_bias); }

    bool Prepare() {
        if (m_o.source.empty() || m_o.outDir.empty()) {
            return Fail("no source or no folder given");
        }
        if (m_o.fromUtc >= m_o.toUtc) {
            return Fail("the range ends before it starts");
        }
        if (m_o.fromUtc < 0 || m_o.toUtc > int64_t(UINT32_MAX)) {
            return Fail("the range lies outside what a recording can hold");
        }
        struct stat st;
        if (::stat(m_o.source.c_str(), &st) != 0) {
            return Fail("cannot open " + m_o.source + ": " + std::strerror(errno));
        }
        if (S_ISDIR(st.st_mode)) {
            return Fail(m_o.source + " is a folder");
        }
        struct stat ds;
        if (::stat(m_o.outDir.c_str(), &ds) == 0) {
            if (!S_ISDIR(ds.st_mode)) {
                return Fail(m_o.outDir + " exists and is not a folder");
            }
            if (!FolderIsEmpty(m_o.outDir)) {
                return Fail(m_o.outDir + " exists and is not empty; choose a new folder");
            }
            m_dirExisted = true;
        }
        if (InsideSource(m_o.source, m_o.outDir)) {
            return Fail(m_o.outDir + " lies on the source " + m_o.source +
                        "; the package must go to another disk");
        }
        errno = 0;
        if (!m_f.Open(m_o.source, m_o.disk ? kDiskMode : kFileMode)) {
            return Fail("cannot open " + m_o.source + ": " +
                        (errno ? std::strerror(errno) : "no size"));
        }
        m_f.SetFormat(m_o.videoFormat);
        m_bias = m_f.GetTimeZoneBias();
        m_src = ::open(m_o.source.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_src < 0) {
            return Fail("cannot open " + m_o.source + ": " + std::strerror(errno));
        }
        m_sourceSize = m_f.GetSize();
        // A ring or a clock set back holds the range in several stretches of
        // rising time. Each is taken, in the order of the recorder's clock, so
        // that a time recorded twice is in the master twice: leaving either
        // out would drop footage of the range.
        std::vector<CStreamFile::TimeSpan> spans =
            m_f.FindTimeRange(uint32_t(m_o.fromUtc), uint32_t(m_o.toUtc));
        if (spans.empty()) {
            return Fail("the recording holds nothing from " + Time(uint32_t(m_o.fromUtc)) + " to " +
                        Time(uint32_t(m_o.toUtc)));
        }
        std::sort(spans.begin(), spans.end(), [](const auto& a, const auto& b) {
            if (a.time != b.time) {
                return a.time < b.time;
            }
            return a.stretchTime != b.stretchTime ? a.stretchTime < b.stretchTime
                                                  : a.start < b.start;
        });
        QzfBlockHeader h;
        m_f.ReadBlockHeaderAt(uint64_t(spans.front().start) / kBlock, &h);
        m_recordingMask = h.channelMask;
        m_gap = h.frameGap;
        m_chosen = m_o.channels ? m_o.channels : uint32_t(h.channelMask) & 0xFFFFu;
        if (m_chosen == 0) {
            return Fail("the recording names no channel; choose the channels");
        }
        if (m_o.channels && (m_o.channels & ~uint32_t(h.channelMask))) {
            return Fail("channel " + ChannelList(m_o.channels & ~uint32_t(h.channelMask)) +
                        " is not in the recording (channels " + ChannelList(h.channelMask) + ")");
        }
        for (const CStreamFile::TimeSpan& span : spans) {
            Piece p;
            const uint64_t stretchEnd = std::min<uint64_t>(uint64_t(span.stretchEnd), m_sourceSize);
            p.end = span.reachesTo
                        ? EndOfLastPacket(m_src, m_o.disk, uint64_t(span.end), stretchEnd)
                        : stretchEnd;
            if (!FindPieceStart(uint64_t(span.start), uint64_t(span.stretchStart), &p)) {
                return false;
            }
            if (!m_pieces.empty() && m_pieces.back().end == p.start) {
                m_pieces.back().end = p.end; // the recording runs on: its pictures too
                continue;
            }
            m_pieces.push_back(p);
        }
        for (const Piece& p : m_pieces) {
            m_noKey |= p.noKey;
        }
        return true;
    }

    // The latest block at or before s, and not before floor (where the stretch
    // begins: blocks before it are of another time), from which every chosen
    // channel's first picture is a key picture (an update picture only redraws
    // part of one). One forward pass lists where each picture starts; the
    // blocks are then tried from s backwards, the window growing until one fits.
    bool FindPieceStart(uint64_t s, uint64_t floor, Piece* piece) {
        struct Picture {
            uint64_t block;
            uint32_t channels;
            bool key;
        };
        for (uint64_t window = 4ull << 20;; window *= 2) {
            if (Cancelled()) {
                return false;
            }
            const uint64_t w = std::max(floor, s > window ? (s - window) / kBlock * kBlock : 0);
            std::vector<Picture> list;
            CStreamFile f;
            if (!f.Open(m_o.source, m_o.disk ? kDiskMode : kFileMode)) {
                return Fail("cannot open " + m_o.source);
            }
            f.SetFormat(m_o.videoFormat);
            CVideoDecoder d;
            d.SetMode(m_o.videoFormat);
            uint32_t seenAfter = 0;
            bool first = true;
            uint64_t before = w;
            ForwardFrom(f, w, m_buf.data(), [&](int n) {
                if (Cancelled()) {
                    return false;
                }
                const uint64_t start = before;
                before = f.GetPosition();
                if (first) {
                    first = false; // where it starts is not known
                    return true;
                }
                if (!f.IsAudio() && d.ParseHeader(m_buf.data(), n)) {
                    int ch[2];
                    const int k = PictureChannels(d, ch);
                    uint32_t mask = 0;
                    for (int i = 0; i < k; ++i) {
                        mask |= 1u << ch[i];
                    }
                    const uint64_t block = start / kBlock * kBlock;
                    list.push_back({block, mask & m_chosen, d.IsKeyPicture() != 0});
                    if (block >= s) {
                        seenAfter |= mask & m_chosen;
                    }
                }
                return seenAfter != m_chosen && f.GetPosition() < piece->end;
            });
            if (Cancelled()) {
                return false;
            }
            // Sweep the blocks downwards, keeping each channel's first picture
            // at or after the block.
            uint32_t opensWithKey = 0, present = 0;
            size_t i = list.size();
            const uint64_t lowest = list.empty() ? s : list.front().block;
            for (uint64_t m = s / kBlock * kBlock + kBlock; m > lowest;) {
                m -= kBlock;
                while (i > 0 && list[i - 1].block >= m) {
                    const Picture& p = list[--i];
                    present |= p.channels;
                    opensWithKey = p.key ? opensWithKey | p.channels : opensWithKey & ~p.channels;
                }
                if ((present & ~opensWithKey) == 0 && m > w) {
                    piece->start = m;
                    return true;
                }
                if (m == 0) {
                    break;
                }
            }
            if (w == floor || s - w > kKeySearchLimit) {
                // No block lets every channel open whole: start where the search
                // ended and name the channels whose first pictures are partial.
                piece->start = w == floor ? floor : lowest;
                uint32_t seen = 0;
                piece->noKey = ChannelsOpeningWithUpdate(m_o, piece->start, piece->end, m_chosen,
                                                         m_buf, &seen, m_cancel);
                return !Cancelled();
            }
        }
    }

    // The folder is held (flock on the folder itself) from here to the end,
    // so that a second package into the same folder, by this tool or the
    // window, is refused rather than mixed into this one; the lock goes with
    // the process, so a crash leaves none behind.
    bool MakeFolder() {
        if (!m_dirExisted) {
            if (::mkdir(m_o.outDir.c_str(), 0755) == 0) {
                m_createdDir = true;
            } else if (errno != EEXIST) {
                return Fail("cannot create " + m_o.outDir + ": " + std::strerror(errno));
            }
        }
        m_dirFd = ::open(m_o.outDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_dirFd < 0) {
            return Fail("cannot open " + m_o.outDir + ": " + std::strerror(errno));
        }
        if (::flock(m_dirFd, LOCK_EX | LOCK_NB) != 0) {
            return Fail(errno == EWOULDBLOCK
                            ? m_o.outDir + " is in use: another package is being made there"
                            : "cannot lock " + m_o.outDir + ": " + std::strerror(errno));
        }
        if (!FolderIsEmpty(m_o.outDir)) {
            return Fail(m_o.outDir + " exists and is not empty; choose a new folder");
        }
        char buf[PATH_MAX];
        m_r->folder = ::realpath(m_o.outDir.c_str(), buf) ? buf : m_o.outDir;
        m_sourcePath = ::realpath(m_o.source.c_str(), buf) ? buf : m_o.source;
        return true;
    }

    // Adds a finished temporary file under its final name.
    bool Publish(CHashingFile& file, const std::string& temp, const std::string& name) {
        std::string error;
        if (!file.Finish(&error)) {
            ::unlink(temp.c_str());
            return Fail(error);
        }
        if (::rename(temp.c_str(), In(name).c_str()) != 0) {
            ::unlink(temp.c_str());
            return Fail("cannot name " + In(name) + ": " + std::strerror(errno));
        }
        m_made.push_back(name);
        m_r->files.push_back({name, file.GetSize(), file.GetSha256()});
        return true;
    }

    bool HashSource() {
        if (!m_o.hashSource) {
            return true;
        }
        std::string error;
        uint64_t size = 0;
        if (!Sha256OfFile(
                m_o.source, &m_sourceHash, &error,
                [&](uint64_t d, uint64_t t) { Progress("hashing the source", d, t ? t : d); },
                m_cancel, &size)) {
            return Fail(error);
        }
        return true;
    }

    bool CopyMaster() {
        const std::string temp = In("." + std::string(kMasterName) + ".part");
        // Two buffers: one is hashed while the other is read. They outlive
        // the file, whose hash may still be reading one.
        std::vector<uint8_t> bufs[2] = {std::vector<uint8_t>(1024 * kBlock),
                                        std::vector<uint8_t>(1024 * kBlock)};
        CHashingFile out;
        std::string error;
        if (!out.Create(temp, &error)) {
            return Fail(error);
        }
        const uint64_t total = MasterBytes();
        uint64_t written = 0, inRange = 0;
        int turn = 0;
        for (Piece& piece : m_pieces) {
            for (uint64_t off = piece.start; off < piece.end;) {
                std::vector<uint8_t>& buf = bufs[turn];
                turn ^= 1;
                if (Cancelled()) {
                    out.Discard();
                    return false;
                }
                const size_t want = size_t(std::min<uint64_t>(buf.size(), piece.end - off));
                size_t got = 0;
                if (PreadFull(m_src, buf.data(), want, off, &got) < 0 || got < want) {
                    const std::string why =
                        got < want && errno == 0 ? "it ends early" : std::strerror(errno);
                    out.Discard();
                    return Fail("cannot read " + m_o.source + " near byte " + std::to_string(off) +
                                ": " + why);
                }
                if (m_o.disk) {
                    SwapWords(buf.data(), got);
                }
                for (size_t b = 0; b < got; b += kBlock) {
                    QzfBlockHeader h;
                    if (!DecodeRecordingHeader(buf.data() + b, m_o.videoFormat, m_bias, &h)) {
                        m_badBlocks.push_back(written + b);
                    } else if (h.time != 0) {
                        piece.firstBlock = piece.firstBlock ? piece.firstBlock : h.time;
                        piece.lastBlock = h.time;
                        if (h.time >= m_o.fromUtc && h.time < m_o.toUtc) {
                            piece.first = std::min(piece.first, h.time);
                            piece.last = std::max(piece.last, h.time);
                            ++inRange;
                        }
                    }
                }
                if (!out.Write(buf.data(), got, &error)) {
                    out.Discard();
                    return Fail(error);
                }
                off += got;
                written += got;
                Progress("copying the master", written, total);
            }
        }
        if (inRange == 0) {
            // The range was found in the headers, so the source changed since.
            out.Discard();
            return Fail("the master would hold no block from " + Time(uint32_t(m_o.fromUtc)) +
                        " to " + Time(uint32_t(m_o.toUtc)) + " (did the recording change?)");
        }
        m_r->firstBlockTime = UINT32_MAX;
        for (const Piece& p : m_pieces) {
            m_r->pieces.push_back({p.start, p.end, p.first, p.last});
            if (p.firstBlock) {
                m_r->firstBlockTime = std::min(m_r->firstBlockTime, p.firstBlock);
                m_r->lastBlockTime = std::max(m_r->lastBlockTime, p.lastBlock);
            }
        }
        m_r->masterStart = m_pieces.front().start;
        m_r->masterEnd = m_pieces.back().end;
        m_r->channels = m_chosen;
        return Publish(out, temp, kMasterName);
    }

    uint64_t MasterBytes() const {
        uint64_t n = 0;
        for (const Piece& p : m_pieces) {
            n += p.end - p.start;
        }
        return n;
    }

    // Times recorded more than once: a later piece starts before an earlier one ends.
    bool TimesRecordedTwice() const {
        for (size_t i = 1; i < m_pieces.size(); ++i) {
            if (m_pieces[i].first <= m_pieces[i - 1].last) {
                return true;
            }
        }
        return false;
    }

    bool MakeWorkingCopy() {
        if (!m_o.working && !m_o.stills) {
            return true;
        }
        CStreamFile f;
        if (!f.Open(In(kMasterName), 0)) {
            return Fail("cannot read back " + In(kMasterName));
        }
        f.SetFormat(m_o.videoFormat);
        CVideoDecoder d;
        d.SetMode(m_o.videoFormat);
        int fieldHeight = 0;
        ForwardFrom(f, 0, m_buf.data(), [&](int n) {
            if (!f.IsAudio() && d.ParseHeader(m_buf.data(), n)) {
                fieldHeight = d.GetHeight();
            }
            return fieldHeight == 0;
        });
        if (!fieldHeight) {
            if (m_o.working) {
                return Fail("the range holds no picture in " +
                            std::string(FormatName(m_o.videoFormat)));
            }
            return true;
        }
        const int width = 640, height = 2 * fieldHeight;
        const bool lines272 = fieldHeight == 272;
        m_rate = PlayerExportFrameRate(lines272);
        m_split = SmallestSplitFor(m_chosen, &m_page);

        // The clock of a frame is the moment its cycle began; of sound, its block.
        int64_t clockMs = -1, sinceMs = -1;
        CAviWriter writer;
        CompressorOptions copts;
        copts.codec = m_o.codec;
        CNamedCompressorChooser chooser(copts);
        const std::string aviTemp = In("." + std::string(kWorkingName) + ".part");
        if (m_o.working) {
            writer.SetRecorderFormats(m_o.videoFormat, m_o.audioFormat, 8, 8000);
            writer.SetCompressorChooser(&chooser);
            // The export's own time line: each frame and the sound go where
            // the recording's block times put them.
            writer.SetClock(
                ExportClock{[&clockMs] { return clockMs; }, 1000,
                            PlayerCycleRate(m_recordingMask, m_gap, m_o.videoFormat, lines272)});
            BITMAPINFOHEADER bih;
            bih.biWidth = width;
            bih.biHeight = height;
            bih.biBitCount = 24;
            bih.biSizeImage = uint32_t(3 * width * height);
            const int opened = writer.Open(aviTemp, 24, 6750, width, height, 300, &bih, m_rate);
            if (opened != AVI_OK) {
                ::unlink(aviTemp.c_str());
                if (opened == AVI_ERR_COMPRESSED_STREAM || opened == AVI_ERR_FORMAT) {
                    return Fail("the working copy cannot use the video encoder '" +
                                std::string(m_o.codec.empty() ? kDefaultVideoCodec : m_o.codec) +
                                "' (qzftool export --list-codecs lists those that can)");
                }
                return Fail("cannot create the working copy in " + m_o.outDir + " (export code " +
                            std::to_string(opened) + ")");
            }
        }

        std::vector<std::vector<uint8_t>> slots(kMaxChannels);
        std::vector<uint8_t> half(kPictureBuffer);
        struct Shown {
            std::vector<uint8_t> yuv;
            int w = 0, h = 0;
            SYSTEMTIME t{};
        };
        std::vector<Shown> shown(kMaxChannels);
        uint32_t stillsDue = m_o.stills ? m_chosen : 0;
        bool started = false, writeFailed = false, stillFailed = false;
        CSplitComposer frame(width, height);
        frame.SetLayout(m_split, m_page, kMaxChannels);
        frame.SetFrameSink([&](const CSplitFrame& f, int64_t stamp) {
            clockMs = stamp;
            if (m_o.working && writer.WriteVideoFrame(f.Data(), 1) != AVI_WRITTEN) {
                writeFailed = true;
            }
            clockMs = sinceMs;
        });
        // A still is the channel alone, as the window shows it in a split of one.
        CSplitComposer still(width, height);
        auto takeStill = [&](int c) {
            const Shown& s = shown[size_t(c)];
            if (s.w == 0 || stillFailed) {
                return;
            }
            still.Restart();
            still.SetLayout(1, c, kMaxChannels);
            still.Draw(c, s.yuv.data(), s.w, s.h, s.t);
            char name[64];
            std::snprintf(name, sizeof(name), "CH%d-%04u%02u%02u-%02u%02u%02u.bmp", c + 1,
                          s.t.wYear, s.t.wMonth, s.t.wDay, s.t.wHour, s.t.wMinute, s.t.wSecond);
            const std::string temp = In(std::string(".") + name + ".part");
            CHashingFile out;
            std::string error;
            if (!out.Create(temp, &error) || !WriteStill(out, still.Frame(), &error)) {
                out.Discard();
                stillFailed = !Fail(error);
                return;
            }
            if (!Publish(out, temp, name)) {
                stillFailed = true;
                return;
            }
            stillsDue &= ~(1u << c);
        };
        auto deliver = [&](int ch, const uint8_t* pic, int w, int h, const SYSTEMTIME& t) {
            if (!(m_chosen & (1u << ch))) {
                return;
            }
            Shown& s = shown[size_t(ch)];
            s.yuv.assign(pic, pic + size_t(w) * h * 3 / 2);
            s.w = w;
            s.h = h;
            s.t = t;
            // Before the range a picture is only the ground the first frame
            // builds on; frames are counted from the range's start.
            if (started) {
                frame.Add(ch, pic, w, h, t, sinceMs);
            } else {
                frame.Draw(ch, pic, w, h, t);
            }
            if (started && (stillsDue & (1u << ch))) {
                takeStill(ch);
            }
        };

        ForwardFrom(f, 0, m_buf.data(), [&](int n) {
            if (Cancelled() || writeFailed || stillFailed) {
                return false;
            }
            const uint32_t bt = f.GetBlockTimeUtc();
            const bool inRange = bt >= m_o.fromUtc && bt < m_o.toUtc;
            if (inRange && !started) {
                // The range starts: the stills show each channel as it stands.
                started = true;
                for (int c = 0; c < kMaxChannels; ++c) {
                    if (stillsDue & (1u << c)) {
                        takeStill(c);
                    }
                }
            }
            Progress("making the working copy", f.GetPosition(), f.GetSize());
            // Once the range has begun, only its own times reach the copy: the
            // lead of a later piece, or blocks of an unset clock amid the
            // range, would put the copy's time line years away. Their pictures
            // are still decoded, as the next update pictures build on them.
            const bool shown = inRange || !started;
            if (shown) {
                sinceMs = int64_t(bt) * 1000;
                clockMs = sinceMs;
            }
            if (f.IsAudio()) {
                if (!shown) {
                    return true;
                }
                if (m_o.working && started && (m_o.videoFormat != VF_QZA || f.GetChannel() == 0)) {
                    writer.WriteAudio(m_buf.data(), n);
                }
                return true;
            }
            if (!d.ParseHeader(m_buf.data(), n)) {
                return true;
            }
            std::vector<uint8_t>& pic = slots[size_t(d.GetChannel() & (kMaxChannels - 1))];
            if (pic.empty()) {
                pic.assign(kPictureBuffer, 0);
            }
            if (!d.Decode(m_buf.data(), n, pic.data(), pic.size())) {
                return true;
            }
            if (!shown) {
                return true;
            }
            SYSTEMTIME t;
            f.GetBlockTime(&t);
            ForEachChannelPicture(
                PictureChannelsOf(d), pic.data(), d.GetWidth(), d.GetHeight(), half.data(),
                [&](int ch, const uint8_t* p, int w, int h) { deliver(ch, p, w, h, t); });
            return m_o.working || stillsDue != 0;
        });
        if (!m_r->error.empty()) {
            writer.Close();
            ::unlink(aviTemp.c_str());
            return false;
        }
        if (!started && stillsDue) {
            started = true;
            for (int c = 0; c < kMaxChannels; ++c) {
                if (stillsDue & (1u << c)) {
                    takeStill(c);
                }
            }
        }
        frame.Flush(); // what was drawn since the last frame is the last frame
        if (!m_o.working) {
            return !stillFailed;
        }
        writer.Close();
        m_r->workingFrames = int(writer.GetVideoLength()); // held frames included
        m_r->workingRate = m_rate;
        if (writeFailed || stillFailed || Cancelled() || !AviIsWhole(aviTemp)) {
            ::unlink(aviTemp.c_str());
            return Fail("cannot write the working copy " + In(kWorkingName) +
                        " (is the disk full?)");
        }
        std::string hex, error;
        uint64_t size = 0;
        if (!Sha256OfFile(aviTemp, &hex, &error, {}, m_cancel, &size)) {
            ::unlink(aviTemp.c_str());
            return Fail(error);
        }
        const int fd = ::open(aviTemp.c_str(), O_RDONLY | O_CLOEXEC);
        const bool synced = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0) {
            ::close(fd);
        }
        if (!synced || ::rename(aviTemp.c_str(), In(kWorkingName).c_str()) != 0) {
            ::unlink(aviTemp.c_str());
            return Fail("cannot write " + In(kWorkingName) + ": " + std::strerror(errno));
        }
        m_made.push_back(kWorkingName);
        m_r->files.push_back({kWorkingName, size, hex});
        return true;
    }

    std::string ReportText() const {
        std::string s;
        auto line = [&](const std::string& l) { s += l + "\n"; };
        const std::string zone = m_o.utc ? "UTC" : "local standard time of the recorder";
        line("EVIDENCE PACKAGE");
        line("");
        line("Folder:           " + m_r->folder);
        line("Made:             " + m_created + " (UTC) by " + m_user);
        line("Made with:        " + m_o.tool + " " + PackageToolVersion());
        line("");
        line("Source:           " + m_sourcePath + (m_o.disk ? " (recorder disk, read only)" : ""));
        line("Source size:      " + std::to_string(m_sourceSize) + " bytes");
        if (!m_sourceHash.empty()) {
            line("Source SHA-256:   " + m_sourceHash);
        }
        line("Format:           " + std::string(FormatName(m_o.videoFormat)));
        line("");
        line("Range asked for:  " + Time(uint32_t(m_o.fromUtc)) + " to " +
             Time(uint32_t(m_o.toUtc)) + " (" + zone + ")");
        const std::string blocks = std::to_string(MasterBytes() / kBlock) + " blocks";
        if (m_pieces.size() == 1) {
            line("Master covers:    " + Time(m_r->firstBlockTime) + " to " +
                 Time(m_r->lastBlockTime) + ", source bytes " + std::to_string(m_pieces[0].start) +
                 " to " + std::to_string(m_pieces[0].end) + " (" + blocks + ")");
        } else {
            line("Master covers:    " + Time(m_r->firstBlockTime) + " to " +
                 Time(m_r->lastBlockTime) + " (" + blocks + ") in " +
                 std::to_string(m_pieces.size()) + " pieces, one after the other:");
            for (size_t i = 0; i < m_pieces.size(); ++i) {
                const Piece& p = m_pieces[i];
                line("  piece " + std::to_string(i + 1) + ":        source bytes " +
                     std::to_string(p.start) + " to " + std::to_string(p.end) + ", the range's " +
                     Time(p.first) + " to " + Time(p.last));
            }
            line("                  The recorder's clock falls back between them (a clock set");
            line("                  back, or a disk recording round as a ring).");
            if (TimesRecordedTwice()) {
                line("                  Some times of the range were recorded twice; the master");
                line("                  holds every recording of them.");
            }
        }
        line("                  It starts early enough that every channel opens with a whole");
        line("                  (key) picture; its blocks are the source's own, unchanged" +
             std::string(m_o.disk ? ",\n                  the disk's 16-bit words put back in "
                                    "file order."
                                  : "."));
        if (!m_badBlocks.empty()) {
            line("Bad blocks:       " + std::to_string(m_badBlocks.size()) +
                 " block(s) of the source fail their checksum; copied as they are");
        }
        if (m_noKey) {
            line("Note:             channel " + ChannelList(m_noKey) +
                 " has no key picture before " +
                 (m_pieces.size() > 1 ? "the range or a piece" : "the range") +
                 "; its first pictures there are partial");
        }
        line("Channels:         " + ChannelList(m_chosen));
        if (m_o.working) {
            line("Working copy:     " + std::string(kWorkingName) + ", split " +
                 std::to_string(m_split) + ", " + std::to_string(m_rate) +
                 " frames per second, with labels, recording time and sound");
        }
        line("");
        line("Files (SHA-256):");
        for (const PackagedFile& f : m_r->files) {
            line("  " + f.name + "  " + std::to_string(f.size) + " bytes");
            line("    " + f.sha256);
        }
        line("");
        line("The manifest (manifest.json) lists the same facts and seals itself.");
        line("To check that nothing changed:");
        line("  qzftool verify-package " + m_r->folder);
        return s;
    }

    bool WriteReport() {
        m_created = UtcNow();
        m_user = m_o.user.empty() ? LoginName() : m_o.user;
        return WriteText(kReportName, ReportText(), true);
    }

    bool WriteText(const std::string& name, const std::string& text, bool listed) {
        const std::string temp = In("." + name + ".part");
        CHashingFile out;
        std::string error;
        if (!out.Create(temp, &error) || !out.Write(text.data(), text.size(), &error)) {
            out.Discard();
            return Fail(error);
        }
        if (listed) {
            return Publish(out, temp, name);
        }
        if (!out.Finish(&error)) {
            ::unlink(temp.c_str());
            return Fail(error);
        }
        if (::rename(temp.c_str(), In(name).c_str()) != 0) {
            ::unlink(temp.c_str());
            return Fail("cannot name " + In(name) + ": " + std::strerror(errno));
        }
        m_made.push_back(name);
        return true;
    }

    bool WriteManifest() {
        std::string j = "{\n";
        auto kv = [&](const std::string& k, const std::string& v, bool comma = true) {
            j += "  " + tv::JsonString(k) + ": " + v + (comma ? ",\n" : "\n");
        };
        kv("package", tv::JsonString("evidence"));
        kv("manifest_version", "1");
        kv("tool", tv::JsonString(m_o.tool));
        kv("tool_version", tv::JsonString(PackageToolVersion()));
        kv("created", tv::JsonString(m_created));
        kv("user", tv::JsonString(m_user));
        std::string src = "{\"path\": " + tv::JsonString(m_sourcePath) +
                          ", \"kind\": " + tv::JsonString(m_o.disk ? "disk" : "file") +
                          ", \"size\": " + std::to_string(m_sourceSize) +
                          ", \"format\": " + tv::JsonString(FormatName(m_o.videoFormat));
        if (!m_sourceHash.empty()) {
            src += ", \"sha256\": " + tv::JsonString(m_sourceHash);
        }
        kv("source", src + "}");
        kv("time_zone", tv::JsonString(m_o.utc ? "UTC" : "local standard time"));
        kv("range_requested", "{\"from\": " + tv::JsonString(Time(uint32_t(m_o.fromUtc))) +
                                  ", \"to\": " + tv::JsonString(Time(uint32_t(m_o.toUtc))) +
                                  ", \"from_utc\": " + std::to_string(m_o.fromUtc) +
                                  ", \"to_utc\": " + std::to_string(m_o.toUtc) + "}");
        std::string bad = "[";
        for (size_t i = 0; i < m_badBlocks.size(); ++i) {
            bad += (i ? ", " : "") + std::to_string(m_badBlocks[i]);
        }
        bad += "]";
        std::string pieces = "[";
        for (size_t i = 0; i < m_pieces.size(); ++i) {
            pieces += std::string(i ? ", " : "") +
                      "{\"source_start\": " + std::to_string(m_pieces[i].start) +
                      ", \"source_end\": " + std::to_string(m_pieces[i].end) + "}";
        }
        pieces += "]";
        kv("master", "{\"name\": " + tv::JsonString(kMasterName) +
                         ", \"source_start\": " + std::to_string(m_r->masterStart) +
                         ", \"source_end\": " + std::to_string(m_r->masterEnd) +
                         ", \"first_block_offset\": " + std::to_string(m_r->masterStart) +
                         ", \"last_block_offset\": " + std::to_string(m_r->masterEnd - kBlock) +
                         ", \"first_block_time\": " + tv::JsonString(Time(m_r->firstBlockTime)) +
                         ", \"last_block_time\": " + tv::JsonString(Time(m_r->lastBlockTime)) +
                         ", \"first_block_time_utc\": " + std::to_string(m_r->firstBlockTime) +
                         ", \"last_block_time_utc\": " + std::to_string(m_r->lastBlockTime) +
                         ", \"byte_order\": " +
                         tv::JsonString(m_o.disk ? "disk words swapped to file order" : "file") +
                         ", \"bad_blocks\": " + bad + ", \"pieces\": " + pieces + "}");
        kv("channels", JsonChannels(m_chosen));
        if (m_noKey) {
            kv("channels_without_key_picture", JsonChannels(m_noKey));
        }
        if (m_o.working) {
            kv("working_copy",
               "{\"name\": " + tv::JsonString(kWorkingName) + ", \"split\": " +
                   std::to_string(m_split) + ", \"page\": " + std::to_string(m_page) +
                   ", \"frame_rate\": " + std::to_string(m_rate) +
                   ", \"frames\": " + std::to_string(m_r->workingFrames) + ", \"codec\": " +
                   tv::JsonString(m_o.codec.empty() ? kDefaultVideoCodec : m_o.codec) + "}");
        }
        kv("verify_command", tv::JsonString("qzftool verify-package " + m_r->folder));
        std::string files = "[";
        for (size_t i = 0; i < m_r->files.size(); ++i) {
            const PackagedFile& f = m_r->files[i];
            files += std::string(i ? "," : "") + "\n    {\"name\": " + tv::JsonString(f.name) +
                     ", \"size\": " + std::to_string(f.size) +
                     ", \"sha256\": " + tv::JsonString(f.sha256) + "}";
        }
        files += "\n  ]";
        kv("files", files);
        // The seal: the SHA-256 of everything above it, so that a change to
        // the manifest itself is found too.
        m_r->seal = Sha256Hex(j.data(), j.size());
        kv("seal", tv::JsonString(m_r->seal), false);
        j += "}\n";
        if (Cancelled() || !WriteText(kManifestName, j, false)) {
            return false;
        }
        const int dfd = ::open(m_o.outDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            ::fsync(dfd);
            ::close(dfd);
        }
        return true;
    }

    void RemoveAll() {
        // The manifest first, so that a folder never claims to be complete.
        std::sort(m_made.begin(), m_made.end(), [](const std::string& a, const std::string& b) {
            return (a == kManifestName) > (b == kManifestName);
        });
        for (const std::string& name : m_made) {
            ::unlink(In(name).c_str());
        }
        m_made.clear();
        m_r->files.clear();
        m_r->seal.clear();
        if (m_createdDir) {
            ::rmdir(m_o.outDir.c_str());
        }
    }

    void Summarise() {
        uint64_t total = 0;
        for (const PackagedFile& f : m_r->files) {
            total += f.size;
        }
        m_r->summary = "Package in " + m_o.outDir + ": " + std::to_string(m_r->files.size() + 1) +
                       " files, " + Bytes(total) + "\nmaster " + Time(m_r->firstBlockTime) +
                       " to " + Time(m_r->lastBlockTime) + " (" +
                       std::to_string(MasterBytes() / kBlock) + " blocks" +
                       (m_pieces.size() > 1 ? " in " + std::to_string(m_pieces.size()) + " pieces"
                                            : std::string()) +
                       "), channels " + ChannelList(m_chosen) + "\n";
        if (m_o.working) {
            m_r->summary += "working copy " + std::to_string(m_r->workingFrames) + " frames at " +
                            std::to_string(m_rate) + " fps, split " + std::to_string(m_split) +
                            "\n";
        }
        m_r->summary += "verify with: qzftool verify-package " + m_r->folder + "\n";
        m_r->summary += "seal: " + m_r->seal + "\n";
        m_r->summary +=
            "Keep the seal apart from the package (note it down, send it on its own): the package "
            "holds its own hashes, so only the seal kept elsewhere shows a package re-written "
            "whole, with: qzftool verify-package " +
            m_r->folder + " --seal " + m_r->seal + "\n";
    }

    const PackageOptions& m_o;
    const ProgressFn& m_progress;
    const std::atomic<bool>* m_cancel;
    PackageResult* m_r;
    std::vector<uint8_t> m_buf;
    CStreamFile m_f;
    std::vector<Piece> m_pieces;
    int m_src = -1;
    int m_dirFd = -1; // the package folder, locked while the package is made
    long m_bias = 0;
    uint64_t m_sourceSize = 0;
    uint16_t m_recordingMask = 0;
    int m_gap = 0;
    uint32_t m_chosen = 0;
    uint32_t m_noKey = 0;
    int m_rate = 0;
    int m_split = 1;
    int m_page = 0;
    bool m_dirExisted = false;
    bool m_createdDir = false;
    std::vector<std::string> m_made;
    std::vector<uint64_t> m_badBlocks;
    std::string m_sourceHash;
    std::string m_sourcePath;
    std::string m_created;
    std::string m_user;
};

} // namespace

std::string FormatPackageTime(uint32_t utcSeconds, bool utc, long biasSeconds) {
    return FormatBlockTime(utcSeconds, utc ? 0 : biasSeconds);
}

int64_t ParsePackageTime(const std::string& text, long biasSeconds) {
    SYSTEMTIME t{};
    return ParseBlockTime(text, &t) ? LocalToBlockTime(t, biasSeconds) : -1;
}

std::string PackageToolVersion() {
    return "2.81";
}

int MakeEvidencePackage(const PackageOptions& options, const ProgressFn& progress,
                        const std::atomic<bool>* cancel, PackageResult* result) {
    *result = PackageResult{};
    CPackager p(options, progress, cancel, result);
    return p.Run();
}

} // namespace tv::evidence
