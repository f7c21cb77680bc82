#pragma once

// Checks an evidence package against its manifest: the manifest's own seal,
// every listed file's size and SHA-256, files that are missing or were
// added, and every block header of the master.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace tv::evidence {

struct VerifyLine {
    std::string name;
    bool ok = false;
    std::string text; // "ok" or what differs
};

// Result 1 when everything holds. lines gets one entry per file (and one per
// problem that is not a file's); progress gets bytes hashed so far.
int VerifyPackage(const std::string& dir, std::vector<VerifyLine>* lines,
                  const std::function<void(uint64_t, uint64_t)>& progress = {},
                  const std::atomic<bool>* cancel = nullptr);

} // namespace tv::evidence
