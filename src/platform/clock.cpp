#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace tv {

namespace {

uint64_t MonotonicMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The counter is derived from the monotonic clock rather than advanced by a
// periodic timer thread: same readings, no timer thread to start or kill.
std::atomic<bool> g_clockRunning{false};
std::atomic<uint32_t> g_clockBase{0};   // counter value when the clock started
std::atomic<uint64_t> g_clockOrigin{0}; // monotonic ms when the clock started
std::atomic<uint32_t> g_clockFrozen{0}; // counter value when the clock stopped

} // namespace

void Sleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint32_t GetTickCount() {
    return static_cast<uint32_t>(MonotonicMs());
}

uint32_t TimeGetTime() {
    return static_cast<uint32_t>(MonotonicMs());
}

void StartMediaClock() {
    if (g_clockRunning.load()) {
        return;
    }
    g_clockBase.store(TimeGetTime());
    g_clockOrigin.store(MonotonicMs());
    g_clockRunning.store(true);
}

void StopMediaClock() {
    if (!g_clockRunning.load()) {
        return;
    }
    g_clockFrozen.store(MediaClockNow());
    g_clockRunning.store(false);
}

bool IsMediaClockRunning() {
    return g_clockRunning.load();
}

uint32_t MediaClockNow() {
    if (!g_clockRunning.load()) {
        return g_clockFrozen.load();
    }
    return g_clockBase.load() + static_cast<uint32_t>(MonotonicMs() - g_clockOrigin.load());
}

} // namespace tv
