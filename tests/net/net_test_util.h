#pragma once

#include "net/net_client.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tv::test {

// Polls cond until it holds or the (generous) limit passes.
inline bool WaitUntil(const std::function<bool()>& cond, int limitMs = 15000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return cond();
}

inline int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}

class RecordingNotifier : public INetNotifier {
public:
    void PostNetMessage(int msg, intptr_t, intptr_t) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_messages.push_back(msg);
    }
    int Count(int msg) const {
        std::lock_guard<std::mutex> lock(m_lock);
        int n = 0;
        for (int m : m_messages) {
            n += m == msg;
        }
        return n;
    }
    size_t Total() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_messages.size();
    }

private:
    mutable std::mutex m_lock;
    std::vector<int> m_messages;
};

// A loopback port nobody listens on.
uint16_t UnusedPort();

} // namespace tv::test
