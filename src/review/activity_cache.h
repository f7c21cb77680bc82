#pragma once

// The activity index kept between runs, under $XDG_CACHE_HOME/tessavin-viewer/
// (~/.cache/tessavin-viewer/ without it), a folder that must be the user's
// own and closed to others (otherwise nothing is cached). An index belongs to one recording as
// it was: its path, size, time of change and the hashes of its first and last
// blocks. Reopening the same recording costs two block reads; a recording that
// grew since (a local recording in progress) is scanned from where the index
// ended; anything else is scanned anew.

#include "review/activity_index.h"
#include "review/activity_scanner.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace tv {

struct RecordingIdentity {
    std::string path;
    uint64_t size = 0;
    int64_t changeTime = 0;
    uint64_t firstHash = 0;
    uint64_t lastHash = 0; // of the last whole block
    int format = VF_QZB2;
    bool disk = false;
};

int ReadRecordingIdentity(const std::string& path, const ActivityScanOptions& options,
                          RecordingIdentity* out, std::string* error);
// Empty when the user has no home folder.
std::string ActivityCacheDir();
std::string ActivityCachePath(const std::string& path, const ActivityScanOptions& options);

enum class ActivityCacheUse { kBuilt, kLoaded, kExtended };

// The cached index of the recording: 1 with *current true when it belongs
// to the recording as it is now, with *current false when it was made of an
// earlier state (the recording has grown or changed since); 0 when none.
int FindCachedActivityIndex(const std::string& path, const ActivityScanOptions& options,
                            CActivityIndex* index, bool* current);

// The index of the recording: from the cache, extended, or scanned (and then
// saved). progress and cancel as for CActivityScanner::Scan; *scanner, when
// given, is the one that scans, so that a caller can take snapshots from the
// progress callback. Result 1, or 0 with *error (a cancelled scan saves nothing).
// *cacheNote, when given, says why the index could not be cached (empty
// when it was).
int LoadActivityIndex(const std::string& path, const ActivityScanOptions& options,
                      CActivityIndex* index, const std::atomic<bool>* cancel,
                      const CActivityScanner::Progress& progress, ActivityCacheUse* use,
                      std::string* error, CActivityScanner* scanner = nullptr,
                      std::string* cacheNote = nullptr);

} // namespace tv
