#pragma once

#include <mutex>

namespace tv {

// Re-entrant lock in place of a critical section: the video window takes it
// again from inside its own drawing calls.
using CriticalSection = std::recursive_mutex;
using CsLock = std::lock_guard<std::recursive_mutex>;

} // namespace tv
