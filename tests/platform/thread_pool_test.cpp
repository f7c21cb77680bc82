#include "platform/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace tv;

TEST(ThreadPool, EveryTaskRunsOnceInEveryRun) {
    for (int threads : {1, 2, 5}) {
        CThreadPool pool(threads);
        EXPECT_EQ(pool.Threads(), threads);
        for (int count : {0, 1, 3, 40}) {
            for (int round = 0; round < 20; ++round) {
                std::vector<std::atomic<int>> hits(size_t(count) + 1);
                pool.Run(count, [&](int i) { ++hits[size_t(i)]; });
                // Run returns only when every task is done.
                for (int i = 0; i < count; ++i)
                    ASSERT_EQ(hits[size_t(i)].load(), 1) << threads << " " << count << " " << i;
                ASSERT_EQ(hits[size_t(count)].load(), 0);
            }
        }
    }
    EXPECT_GE(CThreadPool(0).Threads(), 1);
}

TEST(ThreadPool, TasksRunAtTheSameTime) {
    // Each task waits for the other to start: a pool that ran them one after
    // the other would time out.
    CThreadPool pool(2);
    std::mutex m;
    std::condition_variable cv;
    int started = 0;
    bool together = true;
    pool.Run(2, [&](int) {
        std::unique_lock<std::mutex> lock(m);
        ++started;
        cv.notify_all();
        if (!cv.wait_for(lock, std::chrono::seconds(10), [&] { return started == 2; }))
            together = false;
    });
    EXPECT_TRUE(together);
}
