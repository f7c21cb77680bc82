#pragma once

#include "media/block_writer.h"
#include "media/stream_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace tv::test {

// A scratch folder removed with its contents at the end of the test.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tv_media_XXXXXX";
        const char* p = mkdtemp(tmpl);
        EXPECT_NE(p, nullptr);
        m_path = p ? p : "/tmp";
    }
    ~TempDir() {
        const std::string cmd = "rm -rf '" + m_path + "'";
        if (std::system(cmd.c_str()) != 0) {
            ADD_FAILURE() << "could not remove " << m_path;
        }
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

// Random payload bytes, zeros and ones frequent, with no start code inside.
inline std::vector<uint8_t> Payload(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> p(n);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t r = rng();
        p[i] = (r & 3) == 0 ? 0 : ((r & 7) == 1 ? 1 : static_cast<uint8_t>(r >> 8));
        if (i >= 2 && p[i] == 1 && p[i - 1] == 0 && p[i - 2] == 0) {
            p[i] = 2;
        }
    }
    return p;
}

// One expected delivery of the reader.
struct Delivery {
    bool audio = false;
    int channel = 0;
    std::vector<uint8_t> bytes;
};

// Reads every packet forward from the start.
inline std::vector<Delivery> ReadAllForward(CStreamFile& f) {
    std::vector<Delivery> got;
    std::vector<uint8_t> buf(kMaxPacketSize);
    f.SetPosition(0);
    int misses = 0;
    while (misses < 1000) {
        const int n = f.ReadForward(buf.data());
        if (n == 0) {
            if (f.GetPosition() + kQzfBlockSize > f.GetSize()) {
                break;
            }
            ++misses; // a bad block: the reader goes on at the next one
            continue;
        }
        got.push_back({f.IsAudio() != 0, f.GetChannel(), {buf.begin(), buf.begin() + n}});
    }
    return got;
}

} // namespace tv::test
