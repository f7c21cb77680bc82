#pragma once

// Private messages posted to the main window. They keep the numbers the
// system's windows have always used, so both ends agree without a registry.
// Defined here, below both the network client that posts some of them and
// the window that receives them; the event class that carries them is the
// display's (display/messages.h).

namespace tv {

constexpr int kMsgSliderMoving = 10449; // wParam control id, lParam position
constexpr int kMsgSliderSet = 10450;    // wParam control id, lParam position
// From the network client, wParam and lParam 0.
constexpr int kMsgRecorderStatus = 10856; // a status message (type 7 or 8) arrived
constexpr int kMsgDisconnected = 10857;   // the recorder sent the disconnect message
constexpr int kMsgNoResponse = 10858;     // the receive time-out passed while not logged in
constexpr int kMsgLoginRefused = 10859;   // the login or the dynamic-IP exchange failed
constexpr int kMsgSplitChanged = 10966;   // the video window changed its split

} // namespace tv
