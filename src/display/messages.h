#pragma once

// Private messages posted to the main window. They keep the numbers the
// system's windows have always used, so both ends agree without a registry.

#include <QCoreApplication>
#include <QEvent>
#include <cstdint>

namespace tv {

constexpr int kMsgSliderMoving = 10449;   // wParam control id, lParam position
constexpr int kMsgSliderSet = 10450;      // wParam control id, lParam position
constexpr int kMsgRecorderStatus = 10856; // from the network client
constexpr int kMsgDisconnected = 10857;   // the recorder closed the session
constexpr int kMsgNoResponse = 10858;     // the recorder stopped answering
constexpr int kMsgLoginRefused = 10859;
constexpr int kMsgSplitChanged = 10966; // the video window changed its split

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
