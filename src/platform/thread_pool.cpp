#include "platform/thread_pool.h"

namespace tv {

int CThreadPool::DefaultThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : int(n);
}

CThreadPool::CThreadPool(int threads) {
    if (threads <= 0)
        threads = DefaultThreads();
    for (int i = 1; i < threads; ++i)
        m_workers.emplace_back([this] { Work(); });
}

CThreadPool::~CThreadPool() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_workers)
        t.join();
}

void CThreadPool::Drain(std::unique_lock<std::mutex>& lock) {
    while (m_next < m_count) {
        const int i = m_next++;
        ++m_running;
        lock.unlock();
        (*m_task)(i);
        lock.lock();
        if (--m_running == 0 && m_next >= m_count)
            m_done.notify_all();
    }
}

void CThreadPool::Work() {
    std::unique_lock<std::mutex> lock(m_lock);
    unsigned seen = 0;
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || (m_batch != seen && m_next < m_count); });
        if (m_stop)
            return;
        seen = m_batch;
        Drain(lock);
    }
}

void CThreadPool::Run(int count, const std::function<void(int)>& task) {
    if (count <= 0)
        return;
    if (m_workers.empty() || count == 1) {
        for (int i = 0; i < count; ++i)
            task(i);
        return;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    m_task = &task;
    m_count = count;
    m_next = 0;
    ++m_batch;
    m_wake.notify_all();
    Drain(lock);
    m_done.wait(lock, [&] { return m_running == 0; });
    m_task = nullptr;
    m_count = 0;
}

} // namespace tv
