#include "worker/worker_thread.h"

#include "platform/clock.h"

#include <system_error>

namespace tv {

CWorkerThread::~CWorkerThread() {
    // A derived destructor should already have stopped the thread: by now its
    // Run override is gone. This is the last safety net.
    StopFull();
}

void CWorkerThread::JoinFinished() {
    if (m_thread.joinable() && !m_hasThread.load()) {
        m_thread.join();
    }
}

int CWorkerThread::Start(int priority) {
    m_running.store(1);
    if (m_hasThread.load()) {
        return 0;
    }
    JoinFinished();
    m_stopEvent.Reset();
    m_hasThread.store(true);
    try {
        m_thread = std::thread([this, priority] {
            SetCurrentThreadPriority(priority);
            ThreadRoutine();
        });
    } catch (const std::system_error& e) {
        m_hasThread.store(false);
        return HresultFromError(e.code().value());
    }
    return 1;
}

void CWorkerThread::ThreadRoutine() {
    Run();
    m_running.store(0);
    m_hasThread.store(false);
}

void CWorkerThread::StopBounded(uint32_t boundMs) {
    m_running.store(0);
    const uint32_t start = TimeGetTime();
    while (m_hasThread.load()) {
        if (TimeGetTime() - start >= boundMs) {
            return;
        }
        Sleep(10);
    }
    JoinFinished();
}

int CWorkerThread::StopFull() {
    m_stopEvent.Set();
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id()) {
            m_thread.detach(); // stopping from inside the body: nothing to wait for
        } else {
            m_thread.join();
        }
    }
    m_hasThread.store(false);
    return 1;
}

} // namespace tv
