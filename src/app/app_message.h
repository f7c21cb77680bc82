#pragma once

// The application's posted window messages. The video window's header owns the
// numbers and the event class once the display library is in the tree.
#if __has_include("display/messages.h")
#include "display/messages.h"
#else
#include <QCoreApplication>
#include <QEvent>
#include <cstdint>

namespace tv {

constexpr int kMsgSliderMoving = 10449;
constexpr int kMsgSliderSet = 10450;
constexpr int kMsgRecorderStatus = 10856;
constexpr int kMsgDisconnected = 10857;
constexpr int kMsgNoResponse = 10858;
constexpr int kMsgLoginRefused = 10859;
constexpr int kMsgSplitChanged = 10966;

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

inline void PostWindowMessage(QObject* receiver, int message, intptr_t wParam = 0,
                              intptr_t lParam = 0) {
    if (receiver != nullptr) {
        QCoreApplication::postEvent(receiver, new CPostedMessage(message, wParam, lParam));
    }
}

} // namespace tv
#endif
