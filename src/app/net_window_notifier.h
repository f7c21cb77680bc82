#pragma once

#include <QObject>
#include <cstdint>
#include <mutex>

#include "app/app_message.h"
#include "net/net_client.h"

namespace tv {

// Hands the network client's notifications to the main window as posted
// messages; the client calls it on its own thread, so the message is queued
// for the window's thread.
class CNetWindowNotifier : public INetNotifier {
public:
    explicit CNetWindowNotifier(QObject* target = nullptr) : m_target(target) {}

    void PostNetMessage(int msg, intptr_t wParam, intptr_t lParam) override {
        std::lock_guard<std::mutex> lock(m_lock);
        PostWindowMessage(m_target, msg, wParam, lParam);
    }

    // Null stops the posting: the window is going away.
    void SetTarget(QObject* target) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_target = target;
    }

private:
    std::mutex m_lock;
    QObject* m_target;
};

} // namespace tv
