#include "evidence/package_verify.h"

#include "evidence/evidence_package.h"
#include "evidence/hashing_file.h"
#include "media/qzf_block.h"
#include "platform/file_io.h"
#include "platform/system.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace tv::evidence {

namespace {

// The manifest this system writes is a few kB even for thousands of stills.
constexpr uint64_t kMaxManifestSize = 4u << 20;
// Counts are exact in every JSON reader only below 2^53.
constexpr uint64_t kMaxCount = 1ull << 53;
// A whole number of blocks, so that every read starts on a block header.
constexpr size_t kReadSize = size_t(256) * kQzfBlockSize;

// Just enough JSON for the manifest this system writes: objects, arrays,
// strings, numbers, true, false and null. Numbers keep their text, so that
// a count is taken only from plain digits.
struct JValue {
    enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
    std::string text;
    std::vector<JValue> items;
    // Keys and values apart: a pair would need JValue whole where it is
    // still being declared, which only some standard libraries let pass.
    std::vector<std::string> keys;
    std::vector<JValue> values;

    const JValue* Get(const std::string& key) const {
        for (size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == key) {
                return &values[i];
            }
        }
        return nullptr;
    }
    const std::string* String(const std::string& key) const {
        const JValue* v = Get(key);
        return v && v->kind == kString ? &v->text : nullptr;
    }
};

void AppendUtf8(unsigned cp, std::string* out) {
    if (cp < 0x80) {
        *out += char(cp);
    } else if (cp < 0x800) {
        *out += char(0xC0 | cp >> 6);
        *out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out += char(0xE0 | cp >> 12);
        *out += char(0x80 | (cp >> 6 & 0x3F));
        *out += char(0x80 | (cp & 0x3F));
    } else {
        *out += char(0xF0 | cp >> 18);
        *out += char(0x80 | (cp >> 12 & 0x3F));
        *out += char(0x80 | (cp >> 6 & 0x3F));
        *out += char(0x80 | (cp & 0x3F));
    }
}

class JParser {
public:
    explicit JParser(const std::string& s) : m_s(s) {}
    bool Parse(JValue* v) {
        if (!Value(v, 0)) {
            return false;
        }
        Space();
        return m_i == m_s.size();
    }

private:
    bool At(char c) const { return m_i < m_s.size() && m_s[m_i] == c; }
    void Space() {
        while (m_i < m_s.size() && std::strchr(" \t\r\n", m_s[m_i]) && m_s[m_i] != '\0') {
            ++m_i;
        }
    }
    bool Literal(const char* word) {
        const size_t n = std::strlen(word);
        if (m_s.compare(m_i, n, word) != 0) {
            return false;
        }
        m_i += n;
        return true;
    }
    size_t Digits() {
        const size_t from = m_i;
        while (m_i < m_s.size() && m_s[m_i] >= '0' && m_s[m_i] <= '9') {
            ++m_i;
        }
        return m_i - from;
    }
    bool Hex4(unsigned* out) {
        if (m_s.size() - m_i < 4) {
            return false;
        }
        unsigned v = 0;
        for (size_t k = 0; k < 4; ++k) {
            const char c = m_s[m_i + k];
            const char* hex = "0123456789abcdef";
            const char* d = c ? std::strchr(hex, c | 0x20) : nullptr;
            if (!d) {
                return false;
            }
            v = v << 4 | unsigned(d - hex);
        }
        m_i += 4;
        *out = v;
        return true;
    }
    // Characters past the first 256 and those written as a surrogate pair
    // come out as UTF-8; half a pair is no character at all.
    bool Escape(std::string* out) {
        if (m_i >= m_s.size()) {
            return false;
        }
        const char c = m_s[m_i++];
        const char* plain = "\"\\/";
        if (c && std::strchr(plain, c)) {
            *out += c;
            return true;
        }
        const char* from = "bfnrt";
        const char* to = "\b\f\n\r\t";
        if (const char* p = c ? std::strchr(from, c) : nullptr) {
            *out += to[p - from];
            return true;
        }
        unsigned cp = 0;
        if (c != 'u' || !Hex4(&cp) || (cp >= 0xDC00 && cp <= 0xDFFF)) {
            return false;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned low = 0;
            if (m_s.compare(m_i, 2, "\\u") != 0) {
                return false;
            }
            m_i += 2;
            if (!Hex4(&low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(cp, out);
        return true;
    }
    bool String(std::string* out) {
        if (!At('"')) {
            return false;
        }
        ++m_i;
        while (m_i < m_s.size() && m_s[m_i] != '"') {
            const char c = m_s[m_i++];
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                *out += c;
            } else if (!Escape(out)) {
                return false;
            }
        }
        if (m_i >= m_s.size()) {
            return false;
        }
        ++m_i;
        return true;
    }
    bool Number(JValue* v) {
        const size_t from = m_i;
        if (At('-')) {
            ++m_i;
        }
        if (At('0')) {
            ++m_i;
        } else if (Digits() == 0) {
            return false;
        }
        if (At('.')) {
            ++m_i;
            if (Digits() == 0) {
                return false;
            }
        }
        if (At('e') || At('E')) {
            ++m_i;
            if (At('+') || At('-')) {
                ++m_i;
            }
            if (Digits() == 0) {
                return false;
            }
        }
        v->kind = JValue::kNumber;
        v->text = m_s.substr(from, m_i - from);
        return true;
    }
    bool Value(JValue* v, int depth) {
        if (depth > 16) {
            return false;
        }
        Space();
        if (m_i >= m_s.size()) {
            return false;
        }
        const char c = m_s[m_i];
        if (c == '{') {
            v->kind = JValue::kObject;
            ++m_i;
            Space();
            if (At('}')) {
                ++m_i;
                return true;
            }
            for (;;) {
                Space();
                std::string key;
                if (!String(&key)) {
                    return false;
                }
                Space();
                if (!At(':')) {
                    return false;
                }
                ++m_i;
                JValue member;
                if (!Value(&member, depth + 1)) {
                    return false;
                }
                v->keys.push_back(std::move(key));
                v->values.push_back(std::move(member));
                Space();
                if (At(',')) {
                    ++m_i;
                    continue;
                }
                if (At('}')) {
                    ++m_i;
                    return true;
                }
                return false;
            }
        }
        if (c == '[') {
            v->kind = JValue::kArray;
            ++m_i;
            Space();
            if (At(']')) {
                ++m_i;
                return true;
            }
            for (;;) {
                JValue item;
                if (!Value(&item, depth + 1)) {
                    return false;
                }
                v->items.push_back(std::move(item));
                Space();
                if (At(',')) {
                    ++m_i;
                    continue;
                }
                if (At(']')) {
                    ++m_i;
                    return true;
                }
                return false;
            }
        }
        if (c == '"') {
            v->kind = JValue::kString;
            return String(&v->text);
        }
        if (Literal("true") || Literal("false")) {
            v->kind = JValue::kBool;
            return true;
        }
        if (Literal("null")) {
            return true;
        }
        return Number(v);
    }

    const std::string& m_s;
    size_t m_i = 0;
};

// A size, offset or time: plain digits, below 2^53.
bool Count(const JValue* v, uint64_t* out) {
    if (!v || v->kind != JValue::kNumber || v->text.empty() || v->text.size() > 16 ||
        v->text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *out = std::stoull(v->text);
    return *out < kMaxCount;
}

bool IsHex(const std::string& s) {
    return s.size() == 64 && s.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// A name the package may hold: a plain file of its own folder.
bool PlainName(const std::string& n) {
    return !n.empty() && n.size() <= NAME_MAX && n != "." && n != ".." &&
           n.find('/') == std::string::npos && n.find('\0') == std::string::npos;
}

// Opens name in the folder only when it is a plain file there: a link is not
// followed and a FIFO or device is never read (nor waited on).
int OpenPlain(int dfd, const std::string& name, struct stat* st, std::string* why) {
    const int fd = ::openat(dfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        *why = e == ENOENT  ? "missing"
               : e == ELOOP ? "changed: a symbolic link, not a plain file"
                            : std::string("cannot open: ") + std::strerror(e);
        return -1;
    }
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        ::close(fd);
        *why = "changed: no longer a plain file";
        return -1;
    }
    return fd;
}

// Reads exactly size bytes of fd, whole block-sized pieces, into digest and
// scan; a file that holds more or fewer bytes by then has changed.
int ReadHashed(int fd, uint64_t size, std::string* hex, std::string* why,
               const std::function<void(const uint8_t*, size_t, uint64_t)>& scan,
               const std::function<void(uint64_t)>& progress, const std::atomic<bool>* cancel) {
    std::vector<uint8_t> buf(kReadSize);
    CSha256 sha;
    uint64_t done = 0;
    int ok = 1;
    bool end = false;
    while (ok && !end && done <= size) {
        if (cancel && cancel->load()) {
            *why = "cancelled";
            ok = 0;
            break;
        }
        size_t have = 0;
        if (ReadFull(fd, buf.data(), buf.size(), &have) < 0) {
            *why = "cannot read near byte " + std::to_string(done + have) + ": " +
                   std::strerror(errno);
            ok = 0;
            break;
        }
        end = have < buf.size();
        sha.Update(buf.data(), have);
        if (scan && have) {
            scan(buf.data(), have, done);
        }
        done += have;
        if (progress) {
            progress(done);
        }
    }
    const std::string digest = sha.FinishHex();
    if (ok && done != size) {
        *why = "changed: its size changed while it was read";
        ok = 0;
    }
    if (ok) {
        *hex = digest;
    }
    return ok;
}

// Reads the manifest, bounded, from the folder; 0 with *why when it is not
// a plain file of a manifest's size.
int ReadManifest(int dfd, std::string* text, std::string* why) {
    struct stat st;
    const int fd = OpenPlain(dfd, kManifestName, &st, why);
    if (fd < 0) {
        if (*why == "missing") {
            *why = "missing: this folder is not a complete package";
        }
        return 0;
    }
    int ok = uint64_t(st.st_size) <= kMaxManifestSize;
    char buf[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *why = std::string("cannot read: ") + std::strerror(errno);
            ::close(fd);
            return 0;
        }
        if (n == 0) {
            break;
        }
        text->append(buf, size_t(n));
        ok = text->size() <= kMaxManifestSize;
    }
    ::close(fd);
    if (!ok) {
        *why = "changed: larger than any manifest this system writes";
    }
    return ok;
}

// What the block headers of the master show.
struct MasterScan {
    int format = 0;
    long bias = 0;
    uint64_t from = 0, to = 0; // the range: from <= time < to
    std::set<uint64_t> known;  // blocks already bad in the source
    uint64_t fresh = 0, first = 0;
    uint64_t inRange = 0;

    void Scan(const uint8_t* data, size_t n, uint64_t offset) {
        for (size_t b = 0; b < n; b += kQzfBlockSize) {
            QzfBlockHeader h;
            const bool good = n - b >= size_t(kQzfHeaderSize) &&
                              DecodeRecordingHeader(data + b, format, bias, &h);
            if (!good && !known.count(offset + b) && fresh++ == 0) {
                first = offset + b;
            }
            if (good && !known.count(offset + b) && h.time >= from && h.time < to) {
                ++inRange;
            }
        }
    }
};

using Entry = ManifestEntry;

} // namespace

bool IsSealText(const std::string& text) {
    return IsHex(text);
}

int ParseManifest(const std::string& text, const std::string& keptSeal, PackageManifest* out,
                  std::vector<VerifyLine>* lines) {
    *out = PackageManifest{};
    auto add = [&](const std::string& name, bool good, const std::string& why) {
        lines->push_back({name, good, why});
    };
    JValue manifest;
    if (!JParser(text).Parse(&manifest) || manifest.kind != JValue::kObject) {
        add(kManifestName, false, "changed: it is no longer a manifest this system wrote");
        return 0;
    }
    const std::string* written = manifest.String("seal");
    if (written) {
        out->seal = *written;
    }
    const size_t sealAt = text.rfind(",\n  \"seal\": ");
    bool sealed = false;
    if (written && sealAt != std::string::npos) {
        sealed = Sha256Hex(text.data(), sealAt + 2) == *written &&
                 text.compare(sealAt, std::string::npos,
                              ",\n  \"seal\": \"" + *written + "\"\n}\n") == 0;
    }
    add(kManifestName, sealed, sealed ? "ok" : "changed: its seal does not match its text");
    if (!keptSeal.empty()) {
        std::string kept = keptSeal;
        std::transform(kept.begin(), kept.end(), kept.begin(),
                       [](char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
        const bool same = written && kept == *written;
        add("seal", same,
            same ? "ok: the same as the seal kept apart"
                 : "changed: the manifest's seal is not the one kept apart");
    }

    // Every entry is checked before anything is read, so that no name or
    // size of the manifest leads anywhere outside the package.
    std::vector<Entry>& entries = out->files;
    std::set<std::string> listed{kManifestName};
    const JValue* files = manifest.Get("files");
    if (!files || files->kind != JValue::kArray || files->items.empty()) {
        add(kManifestName, false, "changed: it lists no files");
    } else {
        for (const JValue& f : files->items) {
            Entry e;
            const std::string* name = f.String("name");
            const std::string* sha = f.String("sha256");
            if (!name || !PlainName(*name) || listed.count(*name)) {
                add(kManifestName, false,
                    "changed: a file entry names no plain file of its own folder");
            } else if (!Count(f.Get("size"), &e.size)) {
                add(kManifestName, false,
                    "changed: the size it gives " + *name + " is not a count of bytes");
            } else if (!sha || !IsHex(*sha)) {
                add(kManifestName, false, "changed: the SHA-256 it gives " + *name + " is not one");
            } else {
                e.name = *name;
                e.sha256 = *sha;
                listed.insert(e.name);
                entries.push_back(std::move(e));
            }
        }
    }

    MasterScan scan;
    {
        const JValue* master = manifest.Get("master");
        const JValue* range = manifest.Get("range_requested");
        const JValue* source = manifest.Get("source");
        const std::string* name = master ? master->String("name") : nullptr;
        const std::string* fmt = source ? source->String("format") : nullptr;
        const JValue* bad = master ? master->Get("bad_blocks") : nullptr;
        scan.format = fmt ? FormatFromName(fmt->c_str()) : -1;
        bool whole = name && scan.format >= 0 && range &&
                     Count(range->Get("from_utc"), &scan.from) &&
                     Count(range->Get("to_utc"), &scan.to) && scan.from < scan.to &&
                     (!bad || bad->kind == JValue::kArray);
        for (size_t i = 0; whole && bad && i < bad->items.size(); ++i) {
            uint64_t off = 0;
            whole = Count(&bad->items[i], &off);
            scan.known.insert(off);
        }
        if (!whole) {
            add(kManifestName, false, "changed: the master's entry is not whole");
        } else if (!std::any_of(entries.begin(), entries.end(),
                                [&](const Entry& e) { return e.name == *name; })) {
            add(kManifestName, false, "changed: the master is not among its files");
        } else {
            out->master = *name;
        }
        // Format-0 blocks may carry the recorder's calendar time: read them
        // in the zone the package was made in, which its range text shows.
        scan.bias = tv::GetTimeZoneBias();
        const std::string* zone = manifest.String("time_zone");
        const std::string* fromText = range ? range->String("from") : nullptr;
        if (zone && *zone == "local standard time" && fromText) {
            const int64_t local = ParsePackageTime(*fromText, 0);
            if (local >= 0) {
                scan.bias = long(int64_t(scan.from) - local);
            }
        }
    }
    out->format = scan.format;
    out->from = scan.from;
    out->to = scan.to;
    out->badBlocks.assign(scan.known.begin(), scan.known.end());
    out->bias = scan.bias;
    return 1;
}

int VerifyPackage(const std::string& dir, const std::string& keptSeal, std::string* seal,
                  std::vector<VerifyLine>* lines,
                  const std::function<void(uint64_t, uint64_t)>& progress,
                  const std::atomic<bool>* cancel) {
    lines->clear();
    if (seal) {
        seal->clear();
    }
    bool ok = true;
    auto add = [&](const std::string& name, bool good, const std::string& text) {
        lines->push_back({name, good, text});
        ok = ok && good;
    };
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) {
        add(dir, false, std::string("cannot open the folder: ") + std::strerror(errno));
        return 0;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{dfd};

    std::string text, why;
    if (!ReadManifest(dfd, &text, &why)) {
        add(kManifestName, false, why);
        return 0;
    }
    PackageManifest m;
    if (!ParseManifest(text, keptSeal, &m, lines)) {
        return 0;
    }
    ok = std::all_of(lines->begin(), lines->end(), [](const VerifyLine& l) { return l.ok; });
    if (seal && IsHex(m.seal)) {
        *seal = m.seal;
    }
    const std::vector<Entry>& entries = m.files;
    std::set<std::string> listed{kManifestName};
    for (const Entry& e : entries) {
        listed.insert(e.name);
    }
    MasterScan scan;
    scan.format = m.format;
    scan.bias = m.bias;
    scan.from = m.from;
    scan.to = m.to;
    scan.known.insert(m.badBlocks.begin(), m.badBlocks.end());
    const std::string& masterName = m.master;

    uint64_t total = 0, done = 0;
    for (const Entry& e : entries) {
        total = std::min(total + e.size, ~uint64_t(0) >> 1);
    }
    for (const Entry& e : entries) {
        struct stat st;
        const int fd = OpenPlain(dfd, e.name, &st, &why);
        if (fd < 0) {
            add(e.name, false, why);
            continue;
        }
        if (uint64_t(st.st_size) != e.size) {
            ::close(fd);
            add(e.name, false,
                "changed: " + std::to_string(st.st_size) + " bytes, the manifest says " +
                    std::to_string(e.size));
            continue;
        }
        const bool isMaster = e.name == masterName;
        std::string hex;
        const uint64_t base = done;
        const int read = ReadHashed(
            fd, e.size, &hex, &why,
            isMaster ? [&](const uint8_t* d, size_t n, uint64_t off) { scan.Scan(d, n, off); }
                     : std::function<void(const uint8_t*, size_t, uint64_t)>(),
            [&](uint64_t d) {
                if (progress) {
                    progress(base + d, total);
                }
            },
            cancel);
        ::close(fd);
        done += e.size;
        if (!read) {
            add(e.name, false, why);
            continue;
        }
        std::vector<std::string> faults;
        if (hex != e.sha256) {
            faults.push_back("its SHA-256 differs from the manifest's");
        }
        if (isMaster && scan.fresh) {
            faults.push_back(std::to_string(scan.fresh) +
                             " block header(s) fail their checksum, the first at offset " +
                             std::to_string(scan.first));
        }
        if (isMaster && !scan.inRange) {
            faults.push_back("no block of it lies in the range");
        }
        if (faults.empty()) {
            add(e.name, true, isMaster ? "ok (every block header holds)" : "ok");
        } else {
            std::string t = "changed: " + faults[0];
            for (size_t i = 1; i < faults.size(); ++i) {
                t += "; " + faults[i];
            }
            add(e.name, false, t);
        }
    }

    const int lfd = ::openat(dfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR* d = lfd >= 0 ? ::fdopendir(lfd) : nullptr) {
        std::vector<std::string> extra;
        while (const dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != ".." && !listed.count(n)) {
                extra.push_back(n);
            }
        }
        ::closedir(d);
        std::sort(extra.begin(), extra.end());
        for (const std::string& n : extra) {
            add(n, false, "added: not in the manifest");
        }
    } else {
        if (lfd >= 0) {
            ::close(lfd);
        }
        add(dir, false, std::string("cannot list the folder: ") + std::strerror(errno));
    }
    return ok ? 1 : 0;
}

} // namespace tv::evidence
