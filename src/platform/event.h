#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tv {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
// Result of a wait that ran out of time.
constexpr int kWaitTimeout = -1;

struct EventWaiter;

// Manual-reset event: stays set until someone resets it; every waiter wakes.
class Event {
public:
    explicit Event(bool initiallySet = false) : m_set(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // True when the event was set within timeoutMs (kInfinite waits for ever).
    bool Wait(uint32_t timeoutMs);

private:
    friend int WaitAny(Event* const* events, int count, uint32_t timeoutMs);
    void AddWaiter(EventWaiter* waiter);
    void RemoveWaiter(EventWaiter* waiter);

    mutable std::mutex m_mutex;
    bool m_set;
    std::vector<EventWaiter*> m_waiters;
};

// Waits until one of the events is set. Returns the lowest index of a set event,
// or kWaitTimeout. The events are not reset.
int WaitAny(Event* const* events, int count, uint32_t timeoutMs);

inline int WaitAny(std::initializer_list<Event*> events, uint32_t timeoutMs) {
    return WaitAny(events.begin(), static_cast<int>(events.size()), timeoutMs);
}

} // namespace tv
