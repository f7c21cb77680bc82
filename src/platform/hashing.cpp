#include "platform/hashing.h"

#include "platform/file_io.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace tv {

std::string HexOf(const uint8_t* bytes, size_t n) {
    static const char kHex[] = "0123456789abcdef";
    std::string s;
    s.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        s += kHex[bytes[i] >> 4];
        s += kHex[bytes[i] & 15];
    }
    return s;
}

bool Sha256(const void* data, size_t n, uint8_t out[kSha256Bytes]) {
    unsigned int len = 0;
    return EVP_Digest(data, n, out, &len, EVP_sha256(), nullptr) == 1 && len == kSha256Bytes;
}

std::string Sha256Hex(const void* data, size_t n) {
    uint8_t md[kSha256Bytes];
    return Sha256(data, n, md) ? HexOf(md, sizeof(md)) : std::string();
}

CSha256::CSha256() : m_ctx(EVP_MD_CTX_new()) {
    Reset();
}

CSha256::~CSha256() {
    EVP_MD_CTX_free(m_ctx);
}

void CSha256::Reset() {
    EVP_DigestInit_ex(m_ctx, EVP_sha256(), nullptr);
}

void CSha256::Update(const void* data, size_t n) {
    EVP_DigestUpdate(m_ctx, data, n);
}

std::string CSha256::FinishHex() {
    uint8_t md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(m_ctx, md, &len);
    Reset();
    return HexOf(md, len);
}

int Sha256OfFile(const std::string& path, std::string* hex, std::string* error,
                 const std::function<void(uint64_t, uint64_t)>& progress,
                 const std::atomic<bool>* cancel, uint64_t* size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return 0;
    }
    uint64_t total = 0;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end > 0) {
        total = static_cast<uint64_t>(end);
    }
    ::lseek(fd, 0, SEEK_SET);
    CSha256 sha;
    std::vector<unsigned char> buf(1 << 20);
    uint64_t done = 0;
    int ok = 1;
    for (bool more = true; more;) {
        if (cancel && cancel->load()) {
            *error = "cancelled";
            ok = 0;
            break;
        }
        size_t got = 0;
        if (ReadFull(fd, buf.data(), buf.size(), &got) < 0) {
            *error = "cannot read " + path + " near byte " + std::to_string(done + got) + ": " +
                     std::strerror(errno);
            ok = 0;
            break;
        }
        more = got == buf.size();
        sha.Update(buf.data(), got);
        done += got;
        if (progress && got > 0) {
            progress(done, total);
        }
    }
    ::close(fd);
    if (ok) {
        *hex = sha.FinishHex();
        if (size) {
            *size = done;
        }
    }
    return ok;
}

} // namespace tv
