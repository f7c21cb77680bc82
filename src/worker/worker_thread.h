#pragma once

#include "platform/event.h"
#include "platform/system.h"
#include "platform/win_types.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace tv {

// One thread, a running flag and a manual-reset stop event. Derived classes
// put the thread body in Run and poll the running flag or the stop event.
class CWorkerThread {
public:
    CWorkerThread() = default;
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    virtual int Run() = 0;

    // 1 when a thread was started, 0 when one already runs, or the HRESULT form
    // of the system error when the thread could not be created.
    int Start(int priority = THREAD_PRIORITY_NORMAL);
    // Clears the running flag and waits for the body to return, giving up after boundMs.
    void StopBounded(uint32_t boundMs = 5000);
    // Signals the stop event and waits for the thread without limit.
    int StopFull();

    bool IsRunning() const { return m_running.load() != 0; }
    bool HasThread() const { return m_hasThread.load(); }

protected:
    std::atomic<int> m_running{0};
    Event m_stopEvent;

private:
    void ThreadRoutine();
    void JoinFinished();

    std::thread m_thread;
    // Stands for the thread handle field: set by Start, cleared by the routine
    // when the body returns.
    std::atomic<bool> m_hasThread{false};
};

} // namespace tv
