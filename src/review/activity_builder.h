#pragma once

// CActivityBuilder: the activity index of an open recording, made on a
// thread of its own so that a window never waits for it. What it has is
// published as it goes: the cached index at once when there is one;
// otherwise first a coarse index from short stretches sampled every few
// megabytes, then the exact one, refreshed as the scan proceeds.

#include "review/activity_index.h"
#include "review/activity_scanner.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace tv {

class CActivityBuilder {
public:
    // Bytes sampled at each coarse point, and how many points at most.
    static constexpr uint64_t kSampleBytes = 256 * 1024;
    static constexpr int kMaxSamples = 400;

    CActivityBuilder() = default;
    ~CActivityBuilder();
    CActivityBuilder(const CActivityBuilder&) = delete;
    CActivityBuilder& operator=(const CActivityBuilder&) = delete;

    // Stops any build in progress and starts one for path.
    void Start(const std::string& path, const ActivityScanOptions& options);
    // Cancels and waits for the thread.
    void Stop();
    // Builds again for the same recording (one that grew) while what was
    // published stays until the new index replaces it.
    void Refresh();

    // Copies the index when it changed since *version (which is updated);
    // *exact tells the coarse index from the scanned one. False when nothing new.
    bool Fetch(CActivityIndex* out, uint64_t* version, bool* exact) const;
    // 0..1 of the exact scan.
    double GetProgress() const { return m_progress.load(); }
    bool IsDone() const { return m_done.load(); }
    const std::string& GetPath() const { return m_path; }

private:
    void Run(std::string path, ActivityScanOptions options);
    void Publish(const CActivityIndex& index, bool exact);

    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_done{false};
    std::atomic<double> m_progress{0};
    std::string m_path;
    ActivityScanOptions m_options;
    mutable std::mutex m_lock;
    CActivityIndex m_index;
    uint64_t m_version = 0;
    bool m_exact = false;
};

} // namespace tv
