#pragma once

#include <QEvent>
#include <cstdint>

namespace tv {

// Window messages private to the application, posted to the main window.
constexpr int kMsgSliderMoving = 10449;
constexpr int kMsgSliderSet = 10450;

// A posted window message: its number is the event type, with the two words
// the message carries.
class CAppMessage : public QEvent {
public:
    CAppMessage(int message, intptr_t wParam, intptr_t lParam)
        : QEvent(static_cast<QEvent::Type>(message)), m_wParam(wParam), m_lParam(lParam) {}
    intptr_t WParam() const { return m_wParam; }
    intptr_t LParam() const { return m_lParam; }

private:
    intptr_t m_wParam;
    intptr_t m_lParam;
};

} // namespace tv
