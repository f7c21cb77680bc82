#include "worker/frame_queue.h"
#include "platform/win_types.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace tv;

namespace {

void Fill(FrameRecord& r, uint32_t len, uint8_t seed) {
    for (uint32_t i = 0; i < len; ++i) {
        r.data[i] = static_cast<uint8_t>(seed + i);
    }
    r.length = len;
    std::memset(r.metadata, seed, kFrameMetadataSize);
    SYSTEMTIME st;
    st.wYear = static_cast<uint16_t>(2000 + seed);
    std::memcpy(r.metadata, &st, sizeof st);
}

} // namespace

TEST(FrameQueue, GetReturnsPacketsInOrderWithMetadata) {
    CFrameQueue q;
    ASSERT_EQ(q.Allocate(4096, 16), 1);
    FrameRecord src(4096), dst(4096);
    for (uint8_t i = 0; i < 5; ++i) {
        Fill(src, 100u + i, i);
        ASSERT_EQ(q.Put(src), 1);
    }
    for (uint8_t i = 0; i < 5; ++i) {
        ASSERT_EQ(q.Get(dst), 1);
        EXPECT_EQ(dst.length, 100u + i);
        EXPECT_EQ(dst.data[0], i);
        EXPECT_EQ(dst.data[99], static_cast<uint8_t>(i + 99));
        SYSTEMTIME st;
        std::memcpy(&st, dst.metadata, sizeof st);
        EXPECT_EQ(st.wYear, 2000 + i);
        EXPECT_EQ(dst.metadata[31], i);
    }
    EXPECT_EQ(q.Get(dst), 0);
}

TEST(FrameQueue, FullQueueRefusesAndRecoversAfterOneGet) {
    CFrameQueue q;
    ASSERT_EQ(q.Allocate(4096, 16), 1);
    FrameRecord src(4096), dst(4096);
    EXPECT_TRUE(q.GetSpaceEvent()->IsSet());
    for (int i = 0; i < 16; ++i) {
        Fill(src, 10, static_cast<uint8_t>(i));
        ASSERT_EQ(q.Put(src), 1);
    }
    EXPECT_FALSE(q.GetSpaceEvent()->IsSet());
    Fill(src, 10, 99);
    EXPECT_EQ(q.Put(src), 0);
    EXPECT_EQ(q.GetReadyCount(), 16u);
    ASSERT_EQ(q.Get(dst), 1);
    EXPECT_EQ(dst.data[0], 0); // the oldest, not the refused one
    EXPECT_TRUE(q.GetSpaceEvent()->IsSet());
    EXPECT_EQ(q.Put(src), 1);
    // The refused packet never entered: after 15 older ones comes the one put last.
    for (int i = 1; i < 16; ++i) {
        ASSERT_EQ(q.Get(dst), 1);
        EXPECT_EQ(dst.data[0], i);
    }
    ASSERT_EQ(q.Get(dst), 1);
    EXPECT_EQ(dst.data[0], 99);
}

TEST(FrameQueue, OversizePacketLeavesTheFreeRecordFree) {
    CFrameQueue q;
    ASSERT_EQ(q.Allocate(4096, 16), 1);
    FrameRecord big(8192), dst(4096);
    Fill(big, 5000, 1);
    EXPECT_EQ(q.Put(big), 0);
    EXPECT_EQ(q.GetFreeCount(), 16u);
    EXPECT_EQ(q.GetReadyCount(), 0u);
    EXPECT_FALSE(q.GetReadyEvent()->IsSet());
    Fill(big, 4096, 2);
    EXPECT_EQ(q.Put(big), 1);
    ASSERT_EQ(q.Get(dst), 1);
    EXPECT_EQ(dst.length, 4096u);
}

TEST(FrameQueue, ReadyEventFollowsTheReadyList) {
    CFrameQueue q;
    ASSERT_EQ(q.Allocate(64, 4), 1);
    FrameRecord src(64), dst(64);
    EXPECT_FALSE(q.GetReadyEvent()->IsSet());
    Fill(src, 8, 1);
    q.Put(src);
    EXPECT_TRUE(q.GetReadyEvent()->IsSet());
    q.Put(src);
    q.Get(dst);
    EXPECT_TRUE(q.GetReadyEvent()->IsSet());
    q.Get(dst);
    EXPECT_FALSE(q.GetReadyEvent()->IsSet());
    q.Put(src);
    EXPECT_TRUE(q.GetReadyEvent()->IsSet());
}

TEST(FrameQueue, SmallCapacityIsRoundedUpToSixteen) {
    CFrameQueue q;
    ASSERT_EQ(q.Allocate(10, 2), 1);
    EXPECT_EQ(q.GetRecordCapacity(), 16u);
    EXPECT_EQ(q.GetRecordCount(), 2u);
    EXPECT_EQ(q.GetName(), "Default");
    FrameRecord src(32);
    Fill(src, 16, 0);
    EXPECT_EQ(q.Put(src), 1);
    Fill(src, 17, 0);
    EXPECT_EQ(q.Put(src), 0);
}

// One producer, one consumer, as in live view: nothing is lost or reordered
// while the consumer keeps up, and drops happen only when the pool is full.
TEST(FrameQueue, ProducerConsumerThroughTheReadyEvent) {
    CFrameQueue q;
    ASSERT_EQ(q.Allocate(256, 16), 1);
    constexpr int kPackets = 20000;
    std::thread producer([&] {
        FrameRecord src(256);
        for (int i = 0; i < kPackets;) {
            std::memcpy(src.data, &i, sizeof i);
            src.length = sizeof i;
            if (q.Put(src)) {
                ++i;
            } else {
                q.GetSpaceEvent()->Wait(1000);
            }
        }
    });
    FrameRecord dst(256);
    IFrameSource* source = &q;
    int expected = 0;
    while (expected < kPackets) {
        ASSERT_TRUE(source->GetReadyEvent()->Wait(5000));
        while (source->Get(dst)) {
            int v;
            std::memcpy(&v, dst.data, sizeof v);
            ASSERT_EQ(v, expected);
            ++expected;
        }
    }
    producer.join();
}
