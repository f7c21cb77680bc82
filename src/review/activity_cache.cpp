#include "review/activity_cache.h"

#include "media/qzf_block.h"
#include "platform/file_identity.h"
#include "platform/file_io.h"
#include "platform/hashing.h"
#include "review/source_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tv {

namespace {

// Version 2: a checksum over the whole file and the scanner's state in place
// of the finished index; caches of version 1 are rebuilt.
constexpr char kMagic[8] = {'T', 'V', 'A', 'C', 'T', 'C', 'A', '2'};
// SHA-256 rather than a hash of our own: the cache must tell any damage from
// a valid index.
constexpr size_t kDigestBytes = kSha256Bytes;
constexpr size_t kMaxPath = 4096;

uint64_t BlockHash(CSourceFile& f, uint64_t block, bool* ok) {
    uint8_t b[kQzfBlockSize];
    size_t got = 0;
    *ok = f.ReadAt(block * kQzfBlockSize, b, sizeof(b), &got) && got == sizeof(b);
    return *ok ? HashBytes(b, sizeof(b)) : 0;
}

template <typename T> void Put(std::vector<uint8_t>& out, const T& v) {
    const size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &v, sizeof(T));
}

template <typename T> bool Get(const std::vector<uint8_t>& in, size_t* at, T* v) {
    if (sizeof(T) > in.size() - *at)
        return false;
    std::memcpy(v, in.data() + *at, sizeof(T));
    *at += sizeof(T);
    return true;
}

// Only a regular file no larger than limit: a link, a FIFO or a device in
// the cache's place is no cache (and must neither hang nor fill the memory).
bool ReadBounded(int dir, const std::string& name, uint64_t limit, std::vector<uint8_t>* out) {
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        uint64_t(st.st_size) > limit) {
        ::close(fd);
        return false;
    }
    out->resize(size_t(st.st_size));
    const ssize_t n = ReadFull(fd, out->data(), out->size());
    ::close(fd);
    return n == ssize_t(out->size());
}

bool MakeDirs(const std::string& dir) {
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/') {
            const std::string part = dir.substr(0, i);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

// The cache folder, opened, or -1 with *why: others must not be able to
// plant or change an index that the viewer then believes.
int OpenCacheDir(std::string* why) {
    const std::string dir = ActivityCacheDir();
    if (dir.empty()) {
        *why = "no home folder to keep it in";
        return -1;
    }
    if (!MakeDirs(dir)) {
        *why = "cannot create " + dir + ": " + std::strerror(errno);
        return -1;
    }
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *why = "cannot open " + dir + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        ::close(fd);
        *why = dir + " is not this user's own folder with mode 0700";
        return -1;
    }
    return fd;
}

class CDirFd {
public:
    explicit CDirFd(std::string* why) : m_fd(OpenCacheDir(why)) {}
    ~CDirFd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CDirFd(const CDirFd&) = delete;
    CDirFd& operator=(const CDirFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// Written to a temporary file of its own, created here and nowhere else, and
// renamed, so that a crash leaves the old cache or the new one (a torn one
// fails its checksum).
bool WriteAtomically(int dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::random_device rd;
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof(suffix), ".%08x%08x.tmp", rd(), rd());
        tmp = "." + name + suffix;
        fd = ::openat(dir, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    const bool whole = WriteFull(fd, bytes.data(), bytes.size()) >= 0;
    if (::close(fd) != 0 || !whole || ::renameat(dir, tmp.c_str(), dir, name.c_str()) != 0) {
        ::unlinkat(dir, tmp.c_str(), 0);
        return false;
    }
    return true;
}

struct Cached {
    RecordingIdentity id;
    std::vector<uint8_t> state; // of the scanner
};

bool LoadCache(int dir, const std::string& name, uint64_t recordingBytes, Cached* c) {
    std::vector<uint8_t> in;
    const uint64_t limit =
        64 + kMaxPath + kDigestBytes + CActivityScanner::MaxStateBytes(recordingBytes);
    uint8_t digest[kDigestBytes];
    if (dir < 0 || !ReadBounded(dir, name, limit, &in) ||
        in.size() < sizeof(kMagic) + kDigestBytes ||
        std::memcmp(in.data(), kMagic, sizeof(kMagic)) != 0 ||
        !Sha256(in.data(), in.size() - kDigestBytes, digest) ||
        std::memcmp(digest, in.data() + in.size() - kDigestBytes, kDigestBytes) != 0)
        return false;
    in.resize(in.size() - kDigestBytes);
    size_t at = sizeof(kMagic);
    uint32_t pathLen = 0;
    uint8_t disk = 0;
    int32_t format = 0;
    uint64_t stateLen = 0;
    if (!Get(in, &at, &c->id.size) || !Get(in, &at, &c->id.changeTime) ||
        !Get(in, &at, &c->id.firstHash) || !Get(in, &at, &c->id.lastHash) ||
        !Get(in, &at, &format) || !Get(in, &at, &disk) || !Get(in, &at, &pathLen) ||
        pathLen > kMaxPath || pathLen > in.size() - at)
        return false;
    c->id.format = format;
    c->id.disk = disk != 0;
    c->id.path.assign(reinterpret_cast<const char*>(in.data() + at), pathLen);
    at += pathLen;
    if (!Get(in, &at, &stateLen) || stateLen != in.size() - at)
        return false;
    c->state.assign(in.begin() + long(at), in.end());
    return true;
}

std::string SaveCache(int dir, const std::string& name, const RecordingIdentity& id,
                      const CActivityScanner& scanner) {
    std::vector<uint8_t> out(kMagic, kMagic + sizeof(kMagic));
    Put(out, id.size);
    Put(out, id.changeTime);
    Put(out, id.firstHash);
    Put(out, id.lastHash);
    Put(out, int32_t(id.format));
    Put(out, uint8_t(id.disk ? 1 : 0));
    Put(out, uint32_t(id.path.size()));
    out.insert(out.end(), id.path.begin(), id.path.end());
    std::vector<uint8_t> state;
    scanner.SaveState(&state);
    Put(out, uint64_t(state.size()));
    out.insert(out.end(), state.begin(), state.end());
    uint8_t digest[kDigestBytes];
    if (!Sha256(out.data(), out.size(), digest))
        return "cannot compute its checksum";
    out.insert(out.end(), digest, digest + kDigestBytes);
    if (!WriteAtomically(dir, name, out))
        return std::string("cannot write it: ") + std::strerror(errno);
    return {};
}

std::string Absolute(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return path;
    std::string s = real;
    std::free(real);
    return s;
}

bool SameRecording(const RecordingIdentity& a, const RecordingIdentity& b) {
    return a.path == b.path && a.format == b.format && a.disk == b.disk &&
           a.firstHash == b.firstHash;
}

bool Unchanged(const RecordingIdentity& a, const RecordingIdentity& b) {
    return a.size == b.size && a.changeTime == b.changeTime && a.lastHash == b.lastHash;
}

std::string CacheName(const std::string& path, const ActivityScanOptions& options) {
    const std::string key =
        Absolute(path) + "|" + std::to_string(options.format) + "|" + (options.disk ? "d" : "f");
    const uint64_t h = HashBytes(reinterpret_cast<const uint8_t*>(key.data()), key.size());
    char name[64];
    std::snprintf(name, sizeof(name), "activity-%016llx.idx", static_cast<unsigned long long>(h));
    return name;
}

} // namespace

int ReadRecordingIdentity(const std::string& path, const ActivityScanOptions& options,
                          RecordingIdentity* out, std::string* error) {
    CSourceFile f;
    if (!f.Open(path)) {
        if (error)
            *error = f.GetErrorText();
        return 0;
    }
    out->path = Absolute(path);
    out->size = f.GetSize();
    out->changeTime = f.GetChangeTime();
    out->format = options.format;
    out->disk = options.disk;
    const uint64_t blocks = out->size / kQzfBlockSize;
    bool ok = true;
    out->firstHash = blocks > 0 ? BlockHash(f, 0, &ok) : 0;
    bool ok2 = true;
    out->lastHash = blocks > 0 ? BlockHash(f, blocks - 1, &ok2) : 0;
    return 1;
}

std::string ActivityCacheDir() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/tessavin-viewer";
    std::string home;
    const char* env = std::getenv("HOME");
    if (env != nullptr && env[0] == '/') {
        home = env;
    } else {
        // Never a shared folder such as /tmp: the user's own home or none.
        struct passwd pw;
        struct passwd* found = nullptr;
        std::vector<char> buf(16384);
        if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 &&
            found != nullptr && pw.pw_dir != nullptr && pw.pw_dir[0] == '/')
            home = pw.pw_dir;
    }
    if (home.empty())
        return {};
    if (home.back() != '/')
        home += '/';
    return home + ".cache/tessavin-viewer";
}

std::string ActivityCachePath(const std::string& path, const ActivityScanOptions& options) {
    const std::string dir = ActivityCacheDir();
    return dir.empty() ? std::string() : dir + "/" + CacheName(path, options);
}

int FindCachedActivityIndex(const std::string& path, const ActivityScanOptions& options,
                            CActivityIndex* index, bool* current) {
    RecordingIdentity now;
    std::string why;
    CDirFd dir(&why);
    Cached old;
    CActivityScanner scanner;
    if (!ReadRecordingIdentity(path, options, &now, nullptr) ||
        !LoadCache(dir.Get(), CacheName(path, options), now.size, &old) ||
        !SameRecording(old.id, now) ||
        !scanner.RestoreState(old.state.data(), old.state.size(), options))
        return 0;
    *current = Unchanged(old.id, now);
    scanner.GetIndex(index);
    return 1;
}

int LoadActivityIndex(const std::string& path, const ActivityScanOptions& options,
                      CActivityIndex* index, const std::atomic<bool>* cancel,
                      const CActivityScanner::Progress& progress, ActivityCacheUse* use,
                      std::string* error, CActivityScanner* scanner, std::string* cacheNote) {
    RecordingIdentity now;
    if (!ReadRecordingIdentity(path, options, &now, error))
        return 0;
    std::string note;
    CDirFd dir(&note);
    const std::string name = CacheName(path, options);
    CActivityScanner own;
    CActivityScanner& sc = scanner != nullptr ? *scanner : own;
    *index = CActivityIndex{};
    ActivityCacheUse how = ActivityCacheUse::kBuilt;
    bool resume = false;
    Cached old;
    if (LoadCache(dir.Get(), name, now.size, &old) && SameRecording(old.id, now) &&
        sc.RestoreState(old.state.data(), old.state.size(), options)) {
        if (Unchanged(old.id, now)) {
            sc.GetIndex(index);
            if (use)
                *use = ActivityCacheUse::kLoaded;
            return 1;
        }
        // Grown: the block that was last must still be there as it was, and
        // the scan goes on from the state it ended in.
        CSourceFile f;
        bool ok = false;
        const uint64_t oldBlocks = old.id.size / kQzfBlockSize;
        resume = now.size > old.id.size && oldBlocks > 0 &&
                 sc.GetScannedBytes() == oldBlocks * kQzfBlockSize && f.Open(path) &&
                 BlockHash(f, oldBlocks - 1, &ok) == old.id.lastHash && ok;
        if (resume)
            how = ActivityCacheUse::kExtended;
    }
    const int done = resume ? sc.Resume(path, options, index, cancel, progress, error)
                            : sc.Scan(path, options, 0, index, cancel, progress, error);
    if (!done)
        return 0;
    // The recording as far as it was scanned: if it grew during the scan,
    // the next open goes on from there.
    RecordingIdentity saved = now;
    const uint64_t scanned = sc.GetScannedBytes();
    if (scanned != now.size / kQzfBlockSize * kQzfBlockSize) {
        CSourceFile f;
        bool ok = false;
        saved.size = scanned;
        saved.changeTime = 0;
        saved.lastHash = scanned >= kQzfBlockSize && f.Open(path)
                             ? BlockHash(f, scanned / kQzfBlockSize - 1, &ok)
                             : 0;
    }
    if (dir.Get() >= 0) {
        // The cache's name may reach the recording itself (a link made by
        // hand): replacing it would lose the recording.
        const std::string file = ActivityCacheDir() + "/" + name;
        if (!InputOverwrittenBy(file, {path}).empty())
            note = file + " is the recording itself; not written";
        else if (std::string why = SaveCache(dir.Get(), name, saved, sc); !why.empty())
            note = "cannot save " + file + ": " + why;
    }
    if (cacheNote != nullptr)
        *cacheNote = note;
    if (use)
        *use = how;
    return 1;
}

} // namespace tv
