#pragma once

// Files of an evidence package: each is written once under a temporary name,
// hashed as its bytes go out, flushed to the disk and only then given its
// final name, so a name in the package always means a whole file.

#include "platform/hashing.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace tv::evidence {

class CHashingFile {
public:
    CHashingFile();
    ~CHashingFile();
    CHashingFile(const CHashingFile&) = delete;
    CHashingFile& operator=(const CHashingFile&) = delete;

    // Creates tempPath exclusively (an existing file is an error, never replaced).
    int Create(const std::string& tempPath, std::string* error);
    // A large piece is hashed on while the next is read: its bytes must stay
    // as they are until the next Write, Finish or Discard.
    int Write(const void* data, size_t n, std::string* error);
    // Flushes to the disk and closes; the digest and size are then final.
    int Finish(std::string* error);
    // Closes and removes the temporary file (after a failure or a cancel).
    void Discard();

    uint64_t GetSize() const { return m_size; }
    const std::string& GetSha256() const { return m_hex; }

private:
    // Large pieces are hashed on a thread of the file's own while the piece
    // is written, so the hash costs next to nothing on top of the copy.
    void HashLoop();
    void StopHasher();
    void WaitHash();

    int m_fd = -1;
    std::string m_path;
    CSha256 m_sha;
    uint64_t m_size = 0;
    std::string m_hex;

    std::thread m_hasher;
    std::mutex m_lock;
    std::condition_variable m_wake;
    const unsigned char* m_job = nullptr;
    size_t m_jobLength = 0;
    bool m_jobPending = false;
    bool m_stop = false;
};

} // namespace tv::evidence
