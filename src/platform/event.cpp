#include "platform/event.h"

#include <algorithm>
#include <chrono>

namespace tv {

// A waiter registers with every event it waits on; a Set wakes it through its
// own flag, so a Set that lands between the waiter's check and its sleep is never lost.
struct EventWaiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool signalled = false;
};

void Event::Set() {
    std::lock_guard lock(m_mutex);
    m_set = true;
    for (EventWaiter* w : m_waiters) {
        std::lock_guard wl(w->mutex);
        w->signalled = true;
        w->cv.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard lock(m_mutex);
    m_set = false;
}

bool Event::IsSet() const {
    std::lock_guard lock(m_mutex);
    return m_set;
}

bool Event::Wait(uint32_t timeoutMs) {
    Event* self = this;
    return WaitAny(&self, 1, timeoutMs) == 0;
}

void Event::AddWaiter(EventWaiter* waiter) {
    std::lock_guard lock(m_mutex);
    m_waiters.push_back(waiter);
}

void Event::RemoveWaiter(EventWaiter* waiter) {
    std::lock_guard lock(m_mutex);
    auto it = std::find(m_waiters.begin(), m_waiters.end(), waiter);
    if (it != m_waiters.end()) {
        m_waiters.erase(it);
    }
}

int WaitAny(Event* const* events, int count, uint32_t timeoutMs) {
    auto firstSet = [&]() {
        for (int i = 0; i < count; ++i) {
            if (events[i]->IsSet()) {
                return i;
            }
        }
        return kWaitTimeout;
    };
    int found = firstSet();
    if (found != kWaitTimeout || timeoutMs == 0) {
        return found;
    }

    EventWaiter waiter;
    for (int i = 0; i < count; ++i) {
        events[i]->AddWaiter(&waiter);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        found = firstSet();
        if (found != kWaitTimeout) {
            break;
        }
        std::unique_lock wl(waiter.mutex);
        if (timeoutMs == kInfinite) {
            waiter.cv.wait(wl, [&] { return waiter.signalled; });
        } else if (!waiter.cv.wait_until(wl, deadline, [&] { return waiter.signalled; })) {
            wl.unlock();
            found = firstSet();
            break;
        }
        waiter.signalled = false;
    }
    for (int i = 0; i < count; ++i) {
        events[i]->RemoveWaiter(&waiter);
    }
    return found;
}

} // namespace tv
