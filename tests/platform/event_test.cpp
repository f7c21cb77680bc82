#include "platform/clock.h"
#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace tv;

TEST(Event, ManualResetStaysSetUntilReset) {
    Event e;
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(10)); // a wait does not consume the signal
    e.Reset();
    EXPECT_FALSE(e.IsSet());
    const uint32_t t0 = GetTickCount();
    EXPECT_FALSE(e.Wait(30));
    EXPECT_GE(GetTickCount() - t0, 25u);
}

TEST(Event, WaitAnyReportsLowestSetIndexOrTimeout) {
    Event a, b, c;
    EXPECT_EQ(WaitAny({&a, &b, &c}, 0), kWaitTimeout);
    EXPECT_EQ(WaitAny({&a, &b, &c}, 20), kWaitTimeout);
    c.Set();
    EXPECT_EQ(WaitAny({&a, &b, &c}, 0), 2);
    b.Set();
    EXPECT_EQ(WaitAny({&a, &b, &c}, kInfinite), 1);
    a.Set();
    EXPECT_EQ(WaitAny({&a, &b, &c}, 100), 0);
}

TEST(Event, WaitAnyWakesWhenAnotherThreadSets) {
    Event a, b;
    std::thread setter([&] {
        Sleep(20);
        b.Set();
    });
    EXPECT_EQ(WaitAny({&a, &b}, 5000), 1);
    setter.join();
}

// A setter racing a waiter over many rounds: every Set must wake the waiter,
// whether it lands before, during or after the waiter's registration.
TEST(Event, NoLostWakeUpUnderContention) {
    constexpr int kRounds = 5000;
    Event request, reply, other;
    std::atomic<int> served{0};
    std::thread worker([&] {
        for (int i = 0; i < kRounds; ++i) {
            Event* evs[] = {&other, &request};
            ASSERT_EQ(WaitAny(evs, 2, 10000), 1) << "round " << i;
            request.Reset();
            served.fetch_add(1);
            reply.Set();
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        request.Set();
        ASSERT_TRUE(reply.Wait(10000)) << "round " << i;
        reply.Reset();
    }
    worker.join();
    EXPECT_EQ(served.load(), kRounds);
}

TEST(Event, ManyWaitersAllWake) {
    Event e;
    std::atomic<int> woke{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            if (e.Wait(5000)) {
                woke.fetch_add(1);
            }
        });
    }
    Sleep(20);
    e.Set();
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(woke.load(), 8);
}

TEST(MediaClock, RunsBetweenStartAndStop) {
    StartMediaClock();
    EXPECT_TRUE(IsMediaClockRunning());
    const uint32_t a = MediaClockNow();
    Sleep(30);
    const uint32_t b = MediaClockNow();
    EXPECT_GE(b - a, 25u);
    StopMediaClock();
    EXPECT_FALSE(IsMediaClockRunning());
    const uint32_t c = MediaClockNow();
    Sleep(20);
    EXPECT_EQ(MediaClockNow(), c);
}
