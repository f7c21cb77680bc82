#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tv {

// A fixed set of worker threads for work that splits into independent tasks
// (the channels of a recording decode independently of one another). Run
// hands out task indexes to the workers and to the calling thread and returns
// when every task has finished, so the caller sees all their effects. One
// thread at a time calls Run.
class CThreadPool {
public:
    // threads: how many threads run tasks, the caller included; 0 or less
    // takes the number of processors. 1 runs every task on the caller.
    explicit CThreadPool(int threads);
    ~CThreadPool();
    CThreadPool(const CThreadPool&) = delete;
    CThreadPool& operator=(const CThreadPool&) = delete;

    int Threads() const { return int(m_workers.size()) + 1; }
    // Calls task(i) once for every i in 0..count-1, in no fixed order.
    void Run(int count, const std::function<void(int)>& task);

    // The number of processors, at least 1.
    static int DefaultThreads();

private:
    void Work();
    // Runs tasks of the current batch until none is left; the lock is held
    // on entry and on return.
    void Drain(std::unique_lock<std::mutex>& lock);

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const std::function<void(int)>* m_task = nullptr;
    int m_count = 0;
    int m_next = 0;
    int m_running = 0;
    unsigned m_batch = 0;
    bool m_stop = false;
    std::vector<std::thread> m_workers;
};

} // namespace tv
