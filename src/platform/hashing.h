#pragma once

// SHA-256 for every part that fingerprints bytes: the evidence package's
// files and seal, the activity cache's seal, the tools' picture hashes. One
// implementation (libcrypto's), so that a digest printed by the tool and one
// written into a package always agree.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct evp_md_ctx_st;

namespace tv {

constexpr size_t kSha256Bytes = 32;

// Lower-case hex of bytes (a digest).
std::string HexOf(const uint8_t* bytes, size_t n);
// SHA-256 of bytes in memory; false when the digest service fails.
bool Sha256(const void* data, size_t n, uint8_t out[kSha256Bytes]);
// Lower-case hex SHA-256 of bytes in memory.
std::string Sha256Hex(const void* data, size_t n);

// A SHA-256 fed piece by piece, in order. One thread at a time.
class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // Forgets what was given.
    void Reset();
    void Update(const void* data, size_t n);
    // Lower-case hex of the digest of everything given since the last
    // Finish; the hasher then starts again.
    std::string FinishHex();

private:
    evp_md_ctx_st* m_ctx;
};

// SHA-256 of a whole file (read-only open, so a recorder disk is never
// opened for writing). progress, when given, gets bytes done and the total;
// a set cancel flag stops the hash. Result 1, or 0 with *error set.
int Sha256OfFile(const std::string& path, std::string* hex, std::string* error,
                 const std::function<void(uint64_t, uint64_t)>& progress = {},
                 const std::atomic<bool>* cancel = nullptr, uint64_t* size = nullptr);

} // namespace tv
