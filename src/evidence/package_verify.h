#pragma once

// Checks an evidence package against its manifest: the manifest's own seal
// (and the copy of it kept apart, when given), every listed file's size and
// SHA-256, files that are missing or were added, every block header of the
// master and that the master holds blocks of the range at all. A package is
// outside input: only plain files inside its folder are read, and never more
// than the manifest says they hold.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tv::evidence {

struct VerifyLine {
    std::string name;
    bool ok = false;
    std::string text; // "ok" or what differs
};

// Result 1 when everything holds. keptSeal: the seal the user kept apart from
// the package (hex, either case), empty when there is none; a different seal
// fails the package. seal gets the manifest's seal as written (empty when it
// has none), for the user to compare. lines gets one entry per file (and one
// per problem that is not a file's); progress gets bytes hashed so far.
int VerifyPackage(const std::string& dir, const std::string& keptSeal, std::string* seal,
                  std::vector<VerifyLine>* lines,
                  const std::function<void(uint64_t, uint64_t)>& progress = {},
                  const std::atomic<bool>* cancel = nullptr);

// Whether text is a seal as the manifest writes one: 64 hex digits.
bool IsSealText(const std::string& text);

} // namespace tv::evidence
