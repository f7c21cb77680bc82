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

// What a manifest says, as far as it holds.
struct ManifestEntry {
    std::string name;
    uint64_t size = 0;
    std::string sha256;
};
struct PackageManifest {
    std::string seal;                 // as written, empty when it has none
    std::vector<ManifestEntry> files; // the entries that hold, in its order
    std::string master;               // empty when its entry is not whole or not listed
    int format = -1;
    uint64_t from = 0, to = 0; // the range: from <= time < to
    std::vector<uint64_t> badBlocks;
    long bias = 0; // of the zone its block times are read in
};

// Reads manifest text (at most a manifest's size, any bytes) into *out and
// adds to *lines one line for its seal, one for keptSeal when that is given,
// and one per problem. Result 0 when the text is no manifest at all (a line
// says so), 1 otherwise: whether it holds is in the lines.
int ParseManifest(const std::string& text, const std::string& keptSeal, PackageManifest* out,
                  std::vector<VerifyLine>* lines);

// Whether text is a seal as the manifest writes one: 64 hex digits.
bool IsSealText(const std::string& text);

} // namespace tv::evidence
