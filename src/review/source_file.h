#pragma once

// A recording opened for reading by byte offset: a QZF file, a disk image or
// a whole block device (sized by the kernel rather than by fstat).

#include <cstddef>
#include <cstdint>
#include <string>

namespace tv {

class CSourceFile {
public:
    CSourceFile() = default;
    ~CSourceFile();
    CSourceFile(const CSourceFile&) = delete;
    CSourceFile& operator=(const CSourceFile&) = delete;

    int Open(const std::string& path);
    void Close();
    uint64_t GetSize() const { return m_size; }
    // Nanoseconds since 1970 of the last change, as the file system has it.
    int64_t GetChangeTime() const { return m_mtime; }
    // Reads up to n bytes at off; false on a read error (EIO on a bad sector).
    bool ReadAt(uint64_t off, uint8_t* p, size_t n, size_t* got);
    const std::string& GetErrorText() const { return m_error; }

private:
    int m_fd = -1;
    uint64_t m_size = 0;
    int64_t m_mtime = 0;
    std::string m_error;
};

// FNV-1a, 64 bits: identity of blocks for the index cache, not a safeguard
// against deliberate collisions.
uint64_t HashBytes(const uint8_t* p, size_t n, uint64_t seed = 0xcbf29ce484222325ull);

} // namespace tv
