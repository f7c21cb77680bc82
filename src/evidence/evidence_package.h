#pragma once

// The evidence package of a time range of a recording: a folder holding the
// master (the recording's own blocks that cover the range, byte for byte,
// from a point where every chosen channel begins with a key picture), a
// working copy people can watch (the split view as an AVI file), stills on
// request, a printable report and manifest.json with the SHA-256 of every
// file. The manifest is written last, under a temporary name that is renamed
// into place: a folder without it is not a package, and a failure or a cancel
// removes everything that was made. qzftool and the window both call this.

#include "platform/audio_format.h"
#include "platform/video_format.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tv::evidence {

inline constexpr const char* kManifestName = "manifest.json";
inline constexpr const char* kMasterName = "master.QZF";
inline constexpr const char* kWorkingName = "working.avi";
inline constexpr const char* kReportName = "report.txt";

struct PackageOptions {
    std::string source;
    bool disk = false;
    int videoFormat = VF_QZB2;
    int audioFormat = kAudioAlaw;
    // The range as seconds since 1970 UTC: from <= block time < to.
    int64_t fromUtc = 0;
    int64_t toUtc = 0;
    bool utc = false;        // show times in UTC rather than local standard time
    uint32_t channels = 0;   // bit n: channel n; 0: every channel of the recording
    bool working = true;     // the AVI working copy
    bool stills = false;     // one bitmap per chosen channel at the range start
    bool hashSource = false; // SHA-256 of the whole source as well
    std::string outDir;
    std::string codec; // empty: the export default
    std::string tool = "qzftool package";
    std::string user; // empty: the login name
};

struct PackagedFile {
    std::string name;
    uint64_t size = 0;
    std::string sha256;
};

// A run of the source's blocks in the master; the master is its pieces one
// after another, in the order of their times.
struct MasterPiece {
    uint64_t sourceStart = 0;
    uint64_t sourceEnd = 0;
    uint32_t firstTime = 0; // the earliest and latest block time of the range in it
    uint32_t lastTime = 0;
};

struct PackageResult {
    std::string error; // why the package was not made
    std::string folder;
    std::vector<PackagedFile> files; // every file but the manifest
    std::vector<MasterPiece> pieces; // more than one: the recorder's clock fell back
    uint64_t masterStart = 0;        // where the first piece starts in the source
    uint64_t masterEnd = 0;          // where the last piece ends
    uint32_t firstBlockTime = 0;
    uint32_t lastBlockTime = 0;
    uint32_t channels = 0;
    int workingFrames = 0;
    int workingRate = 0;
    std::string summary; // a few lines for people
    std::string seal;    // the manifest's seal, to be kept apart from the package
};

// stage is a short text ("hashing the source", "copying the master", ...);
// done and total are bytes (or frames) of that stage.
using ProgressFn = std::function<void(const std::string& stage, uint64_t done, uint64_t total)>;

// Result 1 when the package is complete; 0 with result->error set, and
// nothing left behind but the folder if it existed before.
int MakeEvidencePackage(const PackageOptions& options, const ProgressFn& progress,
                        const std::atomic<bool>* cancel, PackageResult* result);

// The times as the package shows them: "YYYY-MM-DD hh:mm:ss".
std::string FormatPackageTime(uint32_t utcSeconds, bool utc, long biasSeconds);
// "YYYY-MM-DD hh:mm:ss" (local standard time with the bias, or UTC with 0)
// to seconds since 1970 UTC; -1 when the text is not such a time.
int64_t ParsePackageTime(const std::string& text, long biasSeconds);

// The tool's version as the manifest records it.
std::string PackageToolVersion();

} // namespace tv::evidence
