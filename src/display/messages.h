#pragma once

// Posted window messages as Qt events; the numbers are the platform's.

#include "platform/window_messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <cstdint>

namespace tv {

// A posted window message: the event type is the message number.
class CPostedMessage : public QEvent {
public:
    CPostedMessage(int message, intptr_t wParam = 0, intptr_t lParam = 0)
        : QEvent(static_cast<QEvent::Type>(message)), m_wParam(wParam), m_lParam(lParam) {}

    int Message() const { return static_cast<int>(type()); }
    intptr_t WParam() const { return m_wParam; }
    intptr_t LParam() const { return m_lParam; }

private:
    intptr_t m_wParam;
    intptr_t m_lParam;
};

// Queues the message for the receiver's thread; safe from any thread. A null
// receiver drops it, as a message to a window that does not exist would be.
inline void PostWindowMessage(QObject* receiver, int message, intptr_t wParam = 0,
                              intptr_t lParam = 0) {
    if (receiver != nullptr) {
        QCoreApplication::postEvent(receiver, new CPostedMessage(message, wParam, lParam));
    }
}

} // namespace tv
