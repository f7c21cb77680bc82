// Arbitrary text as a package's manifest: the reader stays inside its
// buffers and its depth, and nothing it lets through names a file outside
// the package or a size past what a count can hold.
#include "evidence/package_verify.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (4u << 20)) {
        return 0; // the reader of the file never passes more
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    tv::evidence::PackageManifest m;
    std::vector<tv::evidence::VerifyLine> lines;
    const std::string kept(64, 'a');
    if (!tv::evidence::ParseManifest(text, kept, &m, &lines)) {
        if (lines.size() != 1 || lines[0].ok) {
            std::abort(); // no manifest must say so, once
        }
        return 0;
    }
    for (const tv::evidence::ManifestEntry& e : m.files) {
        if (e.name.empty() || e.name.size() > NAME_MAX || e.name == "." || e.name == ".." ||
            e.name.find('/') != std::string::npos || e.name.find('\0') != std::string::npos ||
            e.size >= (1ull << 53) || !tv::evidence::IsSealText(e.sha256)) {
            std::abort();
        }
    }
    if (!m.master.empty() &&
        (m.from >= m.to || m.format < 0 ||
         std::none_of(m.files.begin(), m.files.end(),
                      [&](const tv::evidence::ManifestEntry& e) { return e.name == m.master; }))) {
        std::abort();
    }
    return 0;
}
