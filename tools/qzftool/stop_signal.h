#pragma once

// Ctrl+C, SIGTERM and SIGHUP, taken alike from the first line of main: a
// command that can stop at a clean point (closing its output whole) polls
// StopRequested(); a signal that came while it was still starting up is not
// lost. Commands with nothing to finish get the default action back before
// they run (a signal already received then ends the process at once).

#include <csignal>

namespace tv::qzf {

// The number of the first stop signal received, 0 while none came.
inline volatile std::sig_atomic_t g_stopSignal = 0;

inline void OnStopSignal(int sig) {
    if (g_stopSignal == 0) {
        g_stopSignal = sig;
    }
}

inline constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

inline void InstallStopHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    // Library calls in progress (file writes, encoders) go on; the command
    // stops at its next check.
    sa.sa_flags = SA_RESTART;
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kStopSignals) {
        sigaction(sig, &sa, nullptr);
        sigaddset(&set, sig);
    }
    // A parent may start the tool with them blocked (and one pending): they
    // must still stop it.
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

inline void RestoreDefaultStopHandlers() {
    for (const int sig : kStopSignals) {
        std::signal(sig, SIG_DFL);
    }
    if (g_stopSignal != 0) {
        std::raise(g_stopSignal);
    }
}

inline bool StopRequested() {
    return g_stopSignal != 0;
}

} // namespace tv::qzf
