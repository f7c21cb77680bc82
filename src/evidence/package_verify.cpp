#include "evidence/package_verify.h"

#include "evidence/evidence_package.h"
#include "evidence/hashing_file.h"
#include "media/qzf_block.h"

#include <openssl/evp.h>

#include <algorithm>
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

// Just enough JSON for the manifest this system writes: objects, arrays,
// strings, numbers, true, false and null.
struct JValue {
    enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
    double number = 0;
    std::string text;
    std::vector<JValue> items;
    std::vector<std::pair<std::string, JValue>> members;

    const JValue* Get(const std::string& key) const {
        for (const auto& m : members) {
            if (m.first == key) {
                return &m.second;
            }
        }
        return nullptr;
    }
};

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
    void Space() {
        while (m_i < m_s.size() && std::strchr(" \t\r\n", m_s[m_i])) {
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
    bool String(std::string* out) {
        if (m_i >= m_s.size() || m_s[m_i] != '"') {
            return false;
        }
        ++m_i;
        while (m_i < m_s.size() && m_s[m_i] != '"') {
            char c = m_s[m_i++];
            if (c == '\\') {
                if (m_i >= m_s.size()) {
                    return false;
                }
                c = m_s[m_i++];
                if (c == 'u') {
                    if (m_i + 4 > m_s.size()) {
                        return false;
                    }
                    c = char(std::strtol(m_s.substr(m_i, 4).c_str(), nullptr, 16));
                    m_i += 4;
                } else if (c == 'n') {
                    c = '\n';
                } else if (c == 't') {
                    c = '\t';
                } else if (c != '"' && c != '\\' && c != '/') {
                    return false;
                }
            }
            *out += c;
        }
        if (m_i >= m_s.size()) {
            return false;
        }
        ++m_i;
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
            if (m_i < m_s.size() && m_s[m_i] == '}') {
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
                if (m_i >= m_s.size() || m_s[m_i++] != ':') {
                    return false;
                }
                JValue member;
                if (!Value(&member, depth + 1)) {
                    return false;
                }
                v->members.emplace_back(key, std::move(member));
                Space();
                if (m_i < m_s.size() && m_s[m_i] == ',') {
                    ++m_i;
                    continue;
                }
                if (m_i < m_s.size() && m_s[m_i] == '}') {
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
            if (m_i < m_s.size() && m_s[m_i] == ']') {
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
                if (m_i < m_s.size() && m_s[m_i] == ',') {
                    ++m_i;
                    continue;
                }
                if (m_i < m_s.size() && m_s[m_i] == ']') {
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
            v->number = m_s[m_i - 1] == 'e' && m_s[m_i - 2] == 'u';
            return true;
        }
        if (Literal("null")) {
            return true;
        }
        char* end = nullptr;
        v->number = std::strtod(m_s.c_str() + m_i, &end);
        if (end == m_s.c_str() + m_i) {
            return false;
        }
        v->kind = JValue::kNumber;
        m_i = size_t(end - m_s.c_str());
        return true;
    }

    const std::string& m_s;
    size_t m_i = 0;
};

bool ReadWhole(const std::string& path, std::string* out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return false;
    }
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) {
        out->append(buf, n);
    }
    std::fclose(f);
    return true;
}

// The blocks of the master whose header checksum fails.
std::vector<uint64_t> BadMasterBlocks(const std::string& path, int format, std::string* error) {
    std::vector<uint64_t> bad;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return bad;
    }
    uint8_t head[kQzfHeaderSize];
    for (uint64_t off = 0;; off += kQzfBlockSize) {
        const ssize_t n = ::pread(fd, head, sizeof(head), static_cast<off_t>(off));
        if (n <= 0) {
            break;
        }
        QzfBlockHeader h;
        if (n < kQzfHeaderSize || !DecodeRecordingHeader(head, format, 0, &h)) {
            bad.push_back(off);
        }
    }
    ::close(fd);
    return bad;
}

} // namespace

int VerifyPackage(const std::string& dir, std::vector<VerifyLine>* lines,
                  const std::function<void(uint64_t, uint64_t)>& progress,
                  const std::atomic<bool>* cancel) {
    lines->clear();
    bool ok = true;
    auto add = [&](const std::string& name, bool good, const std::string& text) {
        lines->push_back({name, good, text});
        ok = ok && good;
    };
    std::string text;
    if (!ReadWhole(dir + "/" + kManifestName, &text)) {
        add(kManifestName, false, "missing: this folder is not a complete package");
        return 0;
    }
    JValue manifest;
    if (!JParser(text).Parse(&manifest) || manifest.kind != JValue::kObject) {
        add(kManifestName, false, "changed: it is no longer a manifest this system wrote");
        return 0;
    }
    const JValue* seal = manifest.Get("seal");
    const size_t sealAt = text.rfind(",\n  \"seal\": ");
    bool sealed = false;
    if (seal && seal->kind == JValue::kString && sealAt != std::string::npos) {
        const std::string body = text.substr(0, sealAt + 2);
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        EVP_Digest(body.data(), body.size(), md, &len, EVP_sha256(), nullptr);
        sealed = HexDigest(md, len) == seal->text &&
                 text.compare(sealAt, std::string::npos,
                              ",\n  \"seal\": \"" + seal->text + "\"\n}\n") == 0;
    }
    add(kManifestName, sealed, sealed ? "ok" : "changed: its seal does not match its text");

    const JValue* files = manifest.Get("files");
    if (!files || files->kind != JValue::kArray) {
        add(kManifestName, false, "changed: it lists no files");
        return 0;
    }
    uint64_t total = 0, done = 0;
    for (const JValue& f : files->items) {
        if (const JValue* s = f.Get("size")) {
            total += uint64_t(s->number);
        }
    }
    std::set<std::string> listed{kManifestName};
    for (const JValue& f : files->items) {
        const JValue* name = f.Get("name");
        const JValue* size = f.Get("size");
        const JValue* sha = f.Get("sha256");
        if (!name || !size || !sha || name->text.empty() ||
            name->text.find('/') != std::string::npos) {
            add(kManifestName, false, "changed: a file entry is not whole");
            continue;
        }
        listed.insert(name->text);
        const std::string path = dir + "/" + name->text;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) {
            add(name->text, false, "missing");
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            add(name->text, false, "changed: no longer a plain file");
            continue;
        }
        std::string hex, error;
        const uint64_t base = done;
        if (!Sha256OfFile(
                path, &hex, &error,
                [&](uint64_t d, uint64_t) {
                    if (progress) {
                        progress(base + d, total);
                    }
                },
                cancel)) {
            add(name->text, false, error);
            continue;
        }
        done += uint64_t(st.st_size);
        if (uint64_t(st.st_size) != uint64_t(size->number)) {
            add(name->text, false,
                "changed: " + std::to_string(st.st_size) + " bytes, the manifest says " +
                    std::to_string(uint64_t(size->number)));
        } else if (hex != sha->text) {
            add(name->text, false, "changed: its SHA-256 differs from the manifest's");
        } else {
            add(name->text, true, "ok");
        }
    }

    if (const JValue* master = manifest.Get("master")) {
        const JValue* name = master->Get("name");
        const JValue* recorded = master->Get("bad_blocks");
        const JValue* source = manifest.Get("source");
        const JValue* fmt = source ? source->Get("format") : nullptr;
        const int format = fmt ? FormatFromName(fmt->text.c_str()) : -1;
        if (name && format >= 0) {
            std::set<uint64_t> known;
            if (recorded) {
                for (const JValue& b : recorded->items) {
                    known.insert(uint64_t(b.number));
                }
            }
            std::string error;
            const std::string path = dir + "/" + name->text;
            if (::access(path.c_str(), R_OK) == 0) {
                int fresh = 0;
                uint64_t first = 0;
                for (uint64_t off : BadMasterBlocks(path, format, &error)) {
                    if (!known.count(off) && fresh++ == 0) {
                        first = off;
                    }
                }
                // One line per file: the block check joins the master's line.
                for (VerifyLine& l : *lines) {
                    if (l.name != name->text) {
                        continue;
                    }
                    if (fresh) {
                        const std::string blocks =
                            std::to_string(fresh) +
                            " block header(s) fail their checksum, the first at offset " +
                            std::to_string(first);
                        l.text = l.ok ? "changed: " + blocks : l.text + "; " + blocks;
                        l.ok = false;
                        ok = false;
                    } else if (l.ok) {
                        l.text = "ok (every block header holds)";
                    }
                }
            }
        } else {
            add(kManifestName, false, "changed: the master's entry is not whole");
        }
    }

    if (DIR* d = ::opendir(dir.c_str())) {
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
    }
    return ok ? 1 : 0;
}

} // namespace tv::evidence
