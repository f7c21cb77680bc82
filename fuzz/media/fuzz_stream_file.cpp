// Arbitrary bytes as a recording: every read path must stay inside its
// buffers and terminate, whatever the file holds.

#include "media/stream_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string ScratchFile() {
    static std::string path;
    if (path.empty()) {
        char tmpl[] = "/tmp/tv_fuzz_stream_XXXXXX";
        const int fd = mkstemp(tmpl);
        if (fd < 0) {
            std::abort();
        }
        close(fd);
        path = tmpl;
    }
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    // First byte: options; the rest is the file.
    const uint8_t opt = data[0];
    const std::string path = ScratchFile();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return 0;
    }
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);

    static std::vector<uint8_t> buf(tv::kMaxPacketSize);
    tv::CStreamFile s;
    if (!s.Open(path, opt & 1)) {
        return 0;
    }
    s.SetFormat((opt >> 1) & 7);
    for (int i = 0; i < 64; ++i) {
        switch ((i * ((opt >> 4) | 1)) % 4) {
        case 2:
            s.ReadBackward(buf.data());
            break;
        case 3:
            s.SetSeekTarget((size * 977u + static_cast<size_t>(i) * 4099u) % (size + 1));
            s.ReadAtSeekTarget(buf.data());
            break;
        default:
            s.ReadForward(buf.data());
            break;
        }
    }
    s.SetPosition(s.GetSize() ? s.GetSize() - 1 : 0);
    for (int i = 0; i < 64; ++i) {
        s.ReadBackward(buf.data());
    }
    tv::SYSTEMTIME t;
    s.GetBlockTime(&t);
    s.FindTime(static_cast<uint32_t>(size * 2654435761u));
    return 0;
}
