#include "worker/worker_thread.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace tv;

namespace {

class StopEventWorker : public CWorkerThread {
public:
    ~StopEventWorker() override { StopFull(); }
    int Run() override {
        runs.fetch_add(1);
        m_stopEvent.Wait(kInfinite);
        return 1;
    }
    std::atomic<int> runs{0};
};

class ShortWorker : public CWorkerThread {
public:
    ~ShortWorker() override { StopFull(); }
    int Run() override {
        Sleep(10);
        return 1;
    }
};

// Ignores both the running flag and the stop event until released.
class StubbornWorker : public CWorkerThread {
public:
    ~StubbornWorker() override { StopFull(); }
    int Run() override {
        while (!release.load()) {
            Sleep(5);
        }
        return 1;
    }
    std::atomic<bool> release{false};
};

class FlagWorker : public CWorkerThread {
public:
    ~FlagWorker() override { StopFull(); }
    int Run() override {
        while (m_running.load()) {
            Sleep(2);
        }
        return 1;
    }
};

} // namespace

TEST(WorkerThread, StartTwiceStartsOneThreadAndStopFullWaits) {
    StopEventWorker w;
    EXPECT_EQ(w.Start(), 1);
    EXPECT_EQ(w.Start(), 0);
    EXPECT_TRUE(w.IsRunning());
    EXPECT_EQ(w.StopFull(), 1);
    EXPECT_FALSE(w.HasThread());
    EXPECT_FALSE(w.IsRunning());
    EXPECT_EQ(w.runs.load(), 1);
    // Restartable after a full stop: the stop event is reset by Start.
    EXPECT_EQ(w.Start(), 1);
    EXPECT_EQ(w.StopFull(), 1);
    EXPECT_EQ(w.runs.load(), 2);
}

TEST(WorkerThread, BodyThatEndsClearsRunningAndHandle) {
    ShortWorker w;
    ASSERT_EQ(w.Start(), 1);
    for (int i = 0; i < 500 && w.HasThread(); ++i) {
        Sleep(2);
    }
    EXPECT_FALSE(w.HasThread());
    EXPECT_FALSE(w.IsRunning());
    EXPECT_EQ(w.Start(), 1); // a finished thread does not block a new start
}

TEST(WorkerThread, StopBoundedEndsAFlagPollingBody) {
    FlagWorker w;
    ASSERT_EQ(w.Start(), 1);
    w.StopBounded();
    EXPECT_FALSE(w.HasThread());
}

TEST(WorkerThread, StopBoundedGivesUpAfterItsBound) {
    StubbornWorker w;
    ASSERT_EQ(w.Start(), 1);
    const uint32_t t0 = TimeGetTime();
    w.StopBounded(150);
    const uint32_t took = TimeGetTime() - t0;
    EXPECT_GE(took, 140u);
    EXPECT_TRUE(w.HasThread()); // still running: the bound was reached
    w.release.store(true);
    w.StopFull();
    EXPECT_FALSE(w.HasThread());
}
