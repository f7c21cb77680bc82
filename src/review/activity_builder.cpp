#include "review/activity_builder.h"

#include "media/qzf_block.h"
#include "review/activity_cache.h"
#include "review/source_file.h"

#include <algorithm>
#include <chrono>

namespace tv {

CActivityBuilder::~CActivityBuilder() {
    Stop();
}

void CActivityBuilder::Start(const std::string& path, const ActivityScanOptions& options) {
    Stop();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_index = CActivityIndex{};
        m_exact = false;
        ++m_version;
    }
    m_path = path;
    m_options = options;
    m_cancel = false;
    m_done = false;
    m_progress = 0;
    m_thread = std::thread(&CActivityBuilder::Run, this, path, options);
}

void CActivityBuilder::Refresh() {
    Stop();
    m_cancel = false;
    m_done = false;
    m_thread = std::thread(&CActivityBuilder::Run, this, m_path, m_options);
}

void CActivityBuilder::Stop() {
    m_cancel = true;
    if (m_thread.joinable())
        m_thread.join();
}

bool CActivityBuilder::Fetch(CActivityIndex* out, uint64_t* version, bool* exact) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (*version == m_version)
        return false;
    *out = m_index;
    *version = m_version;
    if (exact != nullptr)
        *exact = m_exact;
    return true;
}

void CActivityBuilder::Publish(const CActivityIndex& index, bool exact) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_index = index;
    m_exact = exact;
    ++m_version;
}

void CActivityBuilder::Run(std::string path, ActivityScanOptions options) {
    std::string error;
    CActivityIndex index;
    bool current = false;
    const bool cached = FindCachedActivityIndex(path, options, &index, &current) != 0;
    if (cached) {
        // A recording that grew keeps what it had while the rest is scanned.
        Publish(index, true);
        if (current) {
            m_progress = 1;
            m_done = true;
            return;
        }
    }
    CSourceFile f;
    uint64_t size = 0;
    if (f.Open(path))
        size = f.GetSize();
    f.Close();
    // Coarse: short stretches spread over the recording, a few megabytes apart.
    const uint64_t step =
        std::max<uint64_t>(4u << 20, size / kMaxSamples) / kQzfBlockSize * kQzfBlockSize;
    if (!cached && size > 4 * step) {
        CActivityIndex coarse;
        CActivityScanner sampler;
        for (uint64_t at = 0; at < size && !m_cancel; at += step)
            sampler.Scan(path, options, at, &coarse, &m_cancel, nullptr, &error, at + kSampleBytes);
        if (m_cancel)
            return;
        Publish(coarse, false);
    }
    CActivityScanner scanner;
    auto last = std::chrono::steady_clock::now();
    auto progress = [&](uint64_t done, uint64_t total) {
        m_progress = total ? double(done) / double(total) : 1.0;
        const auto now = std::chrono::steady_clock::now();
        if (now - last > std::chrono::milliseconds(400)) {
            last = now;
            CActivityIndex partial;
            scanner.Snapshot(&partial);
            Publish(partial, true);
        }
    };
    ActivityCacheUse use;
    if (LoadActivityIndex(path, options, &index, &m_cancel, progress, &use, &error, &scanner))
        Publish(index, true);
    m_progress = 1;
    m_done = true;
}

} // namespace tv
