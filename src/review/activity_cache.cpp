#include "review/activity_cache.h"

#include "media/qzf_block.h"
#include "review/source_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tv {

namespace {

constexpr char kMagic[8] = {'T', 'V', 'A', 'C', 'T', 'C', 'A', '1'};

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
    if (*at + sizeof(T) > in.size())
        return false;
    std::memcpy(v, in.data() + *at, sizeof(T));
    *at += sizeof(T);
    return true;
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>* out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    out->clear();
    uint8_t buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return n == 0;
        }
        out->insert(out->end(), buf, buf + n);
    }
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

// Written to a temporary file and renamed, so that a crash leaves the old
// cache or the new one, never half of one.
bool WriteAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string tmp = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += size_t(n);
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

struct Cached {
    RecordingIdentity id;
    CActivityIndex index;
};

bool LoadCache(const std::string& file, Cached* c) {
    std::vector<uint8_t> in;
    if (!ReadWhole(file, &in) || in.size() < sizeof(kMagic) ||
        std::memcmp(in.data(), kMagic, sizeof(kMagic)) != 0)
        return false;
    size_t at = sizeof(kMagic);
    uint32_t pathLen = 0;
    uint8_t disk = 0;
    int32_t format = 0;
    if (!Get(in, &at, &c->id.size) || !Get(in, &at, &c->id.changeTime) ||
        !Get(in, &at, &c->id.firstHash) || !Get(in, &at, &c->id.lastHash) ||
        !Get(in, &at, &format) || !Get(in, &at, &disk) || !Get(in, &at, &pathLen) ||
        at + pathLen > in.size())
        return false;
    c->id.format = format;
    c->id.disk = disk != 0;
    c->id.path.assign(reinterpret_cast<const char*>(in.data() + at), pathLen);
    at += pathLen;
    return c->index.Deserialize(in.data() + at, in.size() - at);
}

bool SaveCache(const std::string& file, const RecordingIdentity& id, const CActivityIndex& index) {
    std::vector<uint8_t> out(kMagic, kMagic + sizeof(kMagic));
    Put(out, id.size);
    Put(out, id.changeTime);
    Put(out, id.firstHash);
    Put(out, id.lastHash);
    Put(out, int32_t(id.format));
    Put(out, uint8_t(id.disk ? 1 : 0));
    Put(out, uint32_t(id.path.size()));
    out.insert(out.end(), id.path.begin(), id.path.end());
    std::vector<uint8_t> body;
    index.Serialize(&body);
    out.insert(out.end(), body.begin(), body.end());
    const size_t slash = file.rfind('/');
    if (slash != std::string::npos && !MakeDirs(file.substr(0, slash)))
        return false;
    return WriteAtomically(file, out);
}

std::string Absolute(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return path;
    std::string s = real;
    std::free(real);
    return s;
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
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "/tmp") + "/.cache";
    }
    return base + "/tessavin-viewer";
}

std::string ActivityCachePath(const std::string& path, const ActivityScanOptions& options) {
    const std::string key =
        Absolute(path) + "|" + std::to_string(options.format) + "|" + (options.disk ? "d" : "f");
    const uint64_t h = HashBytes(reinterpret_cast<const uint8_t*>(key.data()), key.size());
    char name[64];
    std::snprintf(name, sizeof(name), "/activity-%016llx.idx", static_cast<unsigned long long>(h));
    return ActivityCacheDir() + name;
}

int FindCachedActivityIndex(const std::string& path, const ActivityScanOptions& options,
                            CActivityIndex* index, bool* current) {
    RecordingIdentity now;
    Cached old;
    if (!ReadRecordingIdentity(path, options, &now, nullptr) ||
        !LoadCache(ActivityCachePath(path, options), &old))
        return 0;
    if (old.id.path != now.path || old.id.format != now.format || old.id.disk != now.disk ||
        old.id.firstHash != now.firstHash)
        return 0;
    *current = old.id.size == now.size && old.id.changeTime == now.changeTime &&
               old.id.lastHash == now.lastHash;
    *index = old.index;
    return 1;
}

int LoadActivityIndex(const std::string& path, const ActivityScanOptions& options,
                      CActivityIndex* index, const std::atomic<bool>* cancel,
                      const CActivityScanner::Progress& progress, ActivityCacheUse* use,
                      std::string* error, CActivityScanner* scanner) {
    RecordingIdentity now;
    if (!ReadRecordingIdentity(path, options, &now, error))
        return 0;
    const std::string file = ActivityCachePath(path, options);
    Cached old;
    uint64_t from = 0;
    *index = CActivityIndex{};
    ActivityCacheUse how = ActivityCacheUse::kBuilt;
    if (LoadCache(file, &old) && old.id.path == now.path && old.id.format == now.format &&
        old.id.disk == now.disk && old.id.firstHash == now.firstHash) {
        if (old.id.size == now.size && old.id.changeTime == now.changeTime &&
            old.id.lastHash == now.lastHash) {
            *index = old.index;
            if (use)
                *use = ActivityCacheUse::kLoaded;
            return 1;
        }
        // Grown: the block that was last must still be there as it was.
        CSourceFile f;
        bool ok = false;
        const uint64_t oldBlocks = old.id.size / kQzfBlockSize;
        if (now.size > old.id.size && oldBlocks > 0 && f.Open(path) &&
            BlockHash(f, oldBlocks - 1, &ok) == old.id.lastHash && ok) {
            // The last second may have been cut short: scan it again.
            std::vector<ActivitySecond>& s = old.index.MutableSeconds();
            uint64_t resume = 0;
            for (const ActivitySecond& x : s)
                resume = std::max(resume, x.offset);
            std::erase_if(s, [resume](const ActivitySecond& x) { return x.offset >= resume; });
            *index = old.index;
            from = resume;
            how = ActivityCacheUse::kExtended;
        }
    }
    CActivityScanner own;
    CActivityScanner& sc = scanner != nullptr ? *scanner : own;
    if (!sc.Scan(path, options, from, index, cancel, progress, error))
        return 0;
    // The recording as it was when the scan began; if it has since grown, the
    // next open extends the index from there.
    RecordingIdentity saved = now;
    if (index->GetScannedBytes() < now.size / kQzfBlockSize * kQzfBlockSize)
        saved.changeTime = 0;
    SaveCache(file, saved, *index);
    if (use)
        *use = how;
    return 1;
}

} // namespace tv
