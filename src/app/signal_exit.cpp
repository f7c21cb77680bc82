#include "app/signal_exit.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tv {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_pipe[2] = {-1, -1}; // [0] read by the event loop, [1] written by the handler

void OnSignal(int sig) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    // Non-blocking: with the pipe full a signal is already waiting anyway.
    (void)!::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void RestoreDefaults() {
    for (int sig : kSignals) {
        std::signal(sig, SIG_DFL);
    }
}

} // namespace

CSignalExit::CSignalExit(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
    if (g_pipe[0] >= 0) {
        return; // one per process
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { OnReadable(); });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    m_installed = true;
    for (int sig : kSignals) {
        if (::sigaction(sig, &sa, nullptr) != 0) {
            m_installed = false;
        }
    }
}

CSignalExit::~CSignalExit() {
    if (m_notifier == nullptr) {
        return;
    }
    RestoreDefaults();
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void CSignalExit::OnReadable() {
    unsigned char byte = 0;
    if (::read(g_pipe[0], &byte, 1) != 1) {
        return;
    }
    // From here on a second signal is not waited for.
    RestoreDefaults();
    m_notifier->setEnabled(false);
    if (m_onSignal) {
        m_onSignal(byte);
    }
}

} // namespace tv
