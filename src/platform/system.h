#pragma once

#include <cstdint>
#include <thread>

namespace tv {

// Thread priorities with the values the system passes around.
constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

// Best effort: an unprivileged process may be refused a higher priority, and
// that is not an error. Call from the thread whose priority changes.
void SetCurrentThreadPriority(int priority);

// Seconds: UTC minus local standard time (daylight saving ignored), from the C library.
long GetTimeZoneBias();

struct CpuFeatures {
    bool mmx = false;
    bool cmov = false;
    bool sse = false;
    bool sse2 = false;
};
// The processor's features on x86-64; all false elsewhere.
CpuFeatures GetCpuFeatures();

} // namespace tv
