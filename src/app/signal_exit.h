#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace tv {

// Turns SIGTERM, SIGINT and SIGHUP into a call on the user interface's
// thread, so that a viewer told to end by the session or the system ends as
// if its window were closed: a recording is padded and closed, an AVI gets
// its index, the settings are saved. The handler only writes a byte to a
// socket pair; the rest happens in the event loop. A second signal while the
// first is being handled ends the process at once (the default action).
class CSignalExit : public QObject {
    Q_OBJECT
public:
    explicit CSignalExit(std::function<void(int signal)> onSignal);
    ~CSignalExit() override;
    CSignalExit(const CSignalExit&) = delete;
    CSignalExit& operator=(const CSignalExit&) = delete;

    // False when the socket pair or the handlers could not be set up.
    bool IsInstalled() const { return m_installed; }

private:
    void OnReadable();

    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
    bool m_installed = false;
};

} // namespace tv
