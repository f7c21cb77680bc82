// A live stream in its steady state must not allocate per packet: every
// allocation of the process is counted while the client demultiplexes
// thousands of pictures, sound packets and status messages.

#include "net/hostile_peer.h"
#include "net/net_client.h"
#include "net/net_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

namespace {
std::atomic<uint64_t> g_allocations{0};
} // namespace

// Counting replacements of the global allocation functions, for this test
// binary only. GCC sees malloc's memory freed by a replaced operator delete
// and warns of a mismatch that is none here.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n == 0 ? 1 : n)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace tv {
namespace {

using namespace tv::test;

TEST(SteadyStream, AllocatesNothingPerPacket) {
    {
        // The counter sees this binary's allocations at all.
        const uint64_t probe = g_allocations.load();
        volatile size_t n = 100;
        std::vector<uint8_t> v(n);
        ASSERT_GT(g_allocations.load(), probe);
    }
    // One second's worth of an eight-channel stream, built once: pictures of
    // every channel, sound, a status message.
    Bytes second;
    for (int i = 0; i < 200; ++i) {
        const Bytes head{0x00, 0x00, 0x01, 0xF8, static_cast<uint8_t>(i % 8), 0x10, 0x20};
        second.insert(second.end(), head.begin(), head.end());
        second.insert(second.end(), 3000 + (i % 7) * 100, static_cast<uint8_t>(0x40 + i % 50));
        if (i % 8 == 0) {
            const Bytes audio{0x00, 0x00, 0x01, 0xFA, 0x01, 0x40};
            second.insert(second.end(), audio.begin(), audio.end());
            second.insert(second.end(), 320, 0xD5);
        }
    }
    const Bytes status = Msg("00100007BEEF");
    second.insert(second.end(), status.begin(), status.end());
    constexpr int kSeconds = 10;
    std::atomic<int> sent{0};
    HostilePeer peer([&](int fd, const std::atomic<bool>& done) {
        if (!ReadLogin(fd) || !SendAll(fd, kAccept)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (int i = 0; i < kSeconds && !done.load(); ++i) {
            // In slices, as a recorder paces its stream.
            const size_t slice = second.size() / 20 + 1;
            for (size_t at = 0; at < second.size(); at += slice) {
                if (!SendAll(fd, second.data() + at, std::min(slice, second.size() - at))) {
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
            sent.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        HoldUntilClosed(fd, done);
    });
    CNetClient client;
    client.SetTimeout(5000);
    ASSERT_EQ(client.Connect("127.0.0.1", peer.Port(), "", ""), 1);
    ASSERT_EQ(client.Start(), 1);
    // The consumer's records are made before counting starts.
    FrameRecord video(CNetClient::kVideoRecordSize);
    FrameRecord audio(CNetClient::kVideoRecordSize);
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> taken{0};
    std::thread consumer([&] {
        while (!stop.load()) {
            bool any = false;
            while (client.GetVideoQueue().Get(video) == 1 ||
                   client.GetAudioQueue().Get(audio) == 1) {
                taken.fetch_add(1);
                any = true;
            }
            if (!any) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
    // Warm-up: the first second through.
    ASSERT_TRUE(WaitUntil([&] { return sent.load() >= 2; }));
    const auto demultiplexed = [](const NetStats& s) {
        return s.videoPackets + s.audioPackets + s.videoDropped + s.audioDropped;
    };
    const uint64_t packetsBefore = demultiplexed(client.GetStats());
    const uint64_t before = g_allocations.load();
    ASSERT_TRUE(WaitUntil([&] { return sent.load() >= kSeconds; }, 30000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const uint64_t allocations = g_allocations.load() - before;
    const NetStats stats = client.GetStats();
    const uint64_t packets = demultiplexed(stats) - packetsBefore;
    stop.store(true);
    consumer.join();
    client.Disconnect();
    std::printf("%llu packets, %llu of them dropped, %llu allocations in the whole process\n",
                static_cast<unsigned long long>(packets),
                static_cast<unsigned long long>(stats.videoDropped + stats.audioDropped),
                static_cast<unsigned long long>(allocations));
    EXPECT_GT(packets, 1000u);
    EXPECT_GT(taken.load(), 1000u);
    // A few for the test's own waiting are allowed; one per packet is not.
    EXPECT_LT(allocations, packets / 20);
}

} // namespace
} // namespace tv
