#pragma once

// Files of an evidence package: each is written once under a temporary name,
// hashed as its bytes go out, flushed to the disk and only then given its
// final name, so a name in the package always means a whole file.

#include <openssl/evp.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace tv::evidence {

// Lower-case hex of a digest.
std::string HexDigest(const unsigned char* md, unsigned int len);

// SHA-256 of a whole file (read-only open, so a recorder disk is never
// opened for writing). progress, when given, gets bytes done and the total;
// a set cancel flag stops the hash. Result 1, or 0 with *error set.
int Sha256OfFile(const std::string& path, std::string* hex, std::string* error,
                 const std::function<void(uint64_t, uint64_t)>& progress = {},
                 const std::atomic<bool>* cancel = nullptr, uint64_t* size = nullptr);

class CHashingFile {
public:
    CHashingFile();
    ~CHashingFile();
    CHashingFile(const CHashingFile&) = delete;
    CHashingFile& operator=(const CHashingFile&) = delete;

    // Creates tempPath exclusively (an existing file is an error, never replaced).
    int Create(const std::string& tempPath, std::string* error);
    int Write(const void* data, size_t n, std::string* error);
    // Flushes to the disk and closes; the digest and size are then final.
    int Finish(std::string* error);
    // Closes and removes the temporary file (after a failure or a cancel).
    void Discard();

    uint64_t GetSize() const { return m_size; }
    const std::string& GetSha256() const { return m_hex; }

private:
    int m_fd = -1;
    std::string m_path;
    EVP_MD_CTX* m_ctx = nullptr;
    uint64_t m_size = 0;
    std::string m_hex;
};

} // namespace tv::evidence
