// The network client against recorders that misbehave on purpose: a stream
// with no start code at all, a packet that never ends, a control message
// claiming 0xFFFF bytes, everything one byte per segment, and a crowd of
// sessions at once. The client must stay logged in or report, keep every
// packet inside its record, and stop promptly when told.

#include "net/hostile_peer.h"
#include "net/net_client.h"
#include "net/net_message.h"
#include "net/net_test_util.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tv {
namespace {

using namespace tv::test;

TEST(HostilePeer, EndlessBytesWithoutAStartCodeQueueNothingAndStopPromptly) {
    // Bytes with no 00 00 01 in them, megabytes of them, then a real picture is
    // never reached: the client must neither queue nor grow anything, and
    // Disconnect must end the flood from the client's side.
    HostilePeer peer([](int fd, const std::atomic<bool>& done) {
        if (!ReadLogin(fd) || !SendAll(fd, kAccept)) {
            return;
        }
        Flood(fd, done, Bytes(65536, 0x5A));
    });
    CNetClient client;
    client.SetTimeout(5000);
    ASSERT_EQ(client.Connect("127.0.0.1", peer.Port(), "", ""), 1);
    ASSERT_EQ(client.Start(), 1);
    ASSERT_TRUE(WaitUntil([&] { return client.GetStats().bytesReceived > 8u << 20; }));
    const NetStats s = client.GetStats();
    EXPECT_EQ(s.videoPackets, 0u);
    EXPECT_EQ(s.audioPackets, 0u);
    EXPECT_EQ(s.controlMessages, 0u);
    EXPECT_EQ(client.IsConnected(), 1);
    EXPECT_EQ(client.Disconnect(), 1);
    EXPECT_FALSE(client.HasThread());
}

TEST(HostilePeer, PictureThatNeverEndsIsCutAtItsRecordAndTheStreamGoesOn) {
    // One start code, then megabytes of picture bytes with no end, then a
    // status message and a closing picture: each queued record stays within
    // its size and the status behind the flood still arrives.
    std::atomic<bool> flooded{false};
    HostilePeer peer([&](int fd, const std::atomic<bool>& done) {
        if (!ReadLogin(fd) || !SendAll(fd, kAccept)) {
            return;
        }
        // Apart from the acceptance, or the start code would be dropped with it.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        SendAll(fd, Bytes{0x00, 0x00, 0x01, 0xF8});
        const Bytes chunk(65536, 0x11);
        for (int i = 0; i < 64 && !done.load(); ++i) {
            if (!SendAll(fd, chunk)) {
                return;
            }
        }
        flooded.store(true);
        SendAll(fd, Msg("0010000700ab"));
        SendAll(fd, Bytes{0x00, 0x00, 0x01, 0xF8, 0x22, 0x00, 0x00, 0x01, 0xF8});
        HoldUntilClosed(fd, done);
    });
    RecordingNotifier notes;
    CNetClient client;
    client.SetNotifier(&notes);
    client.SetTimeout(5000);
    ASSERT_EQ(client.Connect("127.0.0.1", peer.Port(), "", ""), 1);
    ASSERT_EQ(client.Start(), 1);
    // Drain the queue as a consumer would, checking every record.
    FrameRecord rec(CNetClient::kVideoRecordSize);
    bool sawSmall = false;
    uint32_t longest = 0;
    ASSERT_TRUE(WaitUntil([&] {
        while (client.GetVideoQueue().Get(rec) == 1) {
            EXPECT_LE(rec.length, CNetClient::kVideoRecordSize);
            EXPECT_GE(rec.length, 4u);
            longest = std::max(longest, rec.length);
            if (rec.length == 5 && rec.data[4] == 0x22) {
                sawSmall = true;
            }
        }
        return sawSmall;
    })) << client.GetLastErrorText();
    EXPECT_TRUE(flooded.load());
    EXPECT_EQ(longest, CNetClient::kVideoRecordSize); // the flood was cut, not dropped whole
    EXPECT_EQ(notes.Count(kMsgRecorderStatus), 1);
    EXPECT_EQ(client.GetStatusValue(), 0xAB);
    client.Disconnect();
}

TEST(HostilePeer, ControlLength0xFFFFAndEveryByteAlone) {
    // A control message that claims 0xFFFF bytes, then a picture, a status
    // message and a closing start code sent one byte per segment: the bogus
    // message is dropped, and the rest arrives whole however it is cut.
    Bytes tail = {0x00, 0x00, 0x01, 0xF8, 0x33, 0x00, 0x00, 0x00, 0x01, 0x02};
    const Bytes status = Msg("00100007BEEF");
    tail.insert(tail.end(), status.begin(), status.end());
    tail.insert(tail.end(), {0x00, 0x00, 0x01, 0xF8, 0x44, 0x00, 0x00, 0x01, 0xF9});
    HostilePeer peer([&](int fd, const std::atomic<bool>& done) {
        if (!ReadLogin(fd) || !SendAll(fd, kAccept)) {
            return;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // What shares a receive with the acceptance is not looked at: let the
        // client take the acceptance alone first.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        SendAll(fd, Msg("FFFF0007"));
        for (uint8_t b : tail) {
            if (done.load() || !SendAll(fd, &b, 1)) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        HoldUntilClosed(fd, done);
    });
    RecordingNotifier notes;
    CNetClient client;
    client.SetNotifier(&notes);
    client.SetTimeout(20000); // one session only: no reconnect while bytes trickle
    ASSERT_EQ(client.Connect("127.0.0.1", peer.Port(), "", ""), 1);
    ASSERT_EQ(client.Start(), 1);
    std::vector<Bytes> got;
    FrameRecord rec(CNetClient::kVideoRecordSize);
    ASSERT_TRUE(WaitUntil([&] {
        while (client.GetVideoQueue().Get(rec) == 1) {
            got.emplace_back(rec.data, rec.data + rec.length);
        }
        return got.size() >= 2;
    })) << client.GetLastErrorText();
    ASSERT_TRUE(WaitUntil([&] { return notes.Count(kMsgRecorderStatus) == 1; })) << [&] {
        std::string t = "controls " + std::to_string(client.GetStats().controlMessages) + ":";
        for (const auto& g : got) {
            t += " [";
            for (uint8_t b : g) {
                t += std::to_string(b) + ",";
            }
            t += "]";
        }
        return t;
    }();
    EXPECT_EQ(client.GetStatusValue(), 0xBEEF);
    // The picture that followed the bogus message, and the one after the status.
    const Bytes last = got.back();
    EXPECT_EQ(last, (Bytes{0x00, 0x00, 0x01, 0xF8, 0x44}));
    bool sawFirst = false;
    for (const auto& g : got) {
        sawFirst |= g == Bytes({0x00, 0x00, 0x01, 0xF8, 0x33, 0x00, 0x00, 0x00, 0x01, 0x02});
    }
    EXPECT_TRUE(sawFirst);
    EXPECT_EQ(client.IsConnected(), 1);
    EXPECT_EQ(client.GetStats().logins, 1u);
    client.Disconnect();
}

TEST(HostilePeer, ThousandsOfSessionsCutAtEveryStageLeaveNothingBehind) {
    // One client, 2,000 sessions one after another; the recorder ends each at
    // a different stage (before the answer, inside it, with a refusal, with a
    // burst of pictures and garbage) and the client is told to stop at a
    // different moment of each. Every stop returns promptly, and afterwards
    // no descriptor, thread or memory is left over.
    static const Bytes kRefuse = Msg("001000020002");
    static const Bytes kBurst = [] {
        Bytes b = kAccept;
        for (int i = 0; i < 40; ++i) {
            const Bytes picture{0x00, 0x00, 0x01, 0xF8, static_cast<uint8_t>(i & 7), 1, 2, 3};
            b.insert(b.end(), picture.begin(), picture.end());
            b.insert(b.end(), 300, static_cast<uint8_t>(0x10 + i));
        }
        const Bytes garbage(2000, 0xFF);
        b.insert(b.end(), garbage.begin(), garbage.end());
        return b;
    }();
    std::atomic<int> turn{0};
    HostilePeer peer([&](int fd, const std::atomic<bool>& done) {
        const int t = turn.fetch_add(1);
        if (t % 5 == 0) {
            return; // dropped before the login arrives
        }
        if (!ReadLogin(fd)) {
            return;
        }
        switch (t % 5) {
        case 1:
            SendAll(fd, kAccept.data(), 5); // half an answer, then gone
            return;
        case 2:
            SendAll(fd, kRefuse);
            return;
        case 3:
            SendAll(fd, kBurst);
            return;
        default:
            SendAll(fd, kAccept);
            HoldUntilClosed(fd, done);
            return;
        }
    });
    constexpr int kSessions = 2000;
    CNetClient client;
    client.SetTimeout(2000);
    const int fdsBefore = OpenFdCount();
    const int threadsBefore = ThreadCount();
    long kbAfterWarmUp = 0;
    int64_t slowestStop = 0;
    for (int i = 0; i < kSessions; ++i) {
        if (i == 200) {
            kbAfterWarmUp = ResidentKb();
        }
        const int accepted = peer.Accepted();
        ASSERT_EQ(client.Connect("127.0.0.1", peer.Port(), "", ""), 1);
        ASSERT_EQ(client.Start(), 1);
        ASSERT_TRUE(WaitUntil([&] { return peer.Accepted() > accepted; }));
        if (i % 3 != 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(300 * (i % 7)));
        }
        const auto stop = std::chrono::steady_clock::now();
        ASSERT_EQ(client.Disconnect(), 1);
        slowestStop = std::max(slowestStop, ElapsedMs(stop));
        ASSERT_FALSE(client.HasThread());
    }
    EXPECT_GE(peer.Accepted(), kSessions);
    // The bound on a stop is the time-out; a logged-in client also says goodbye.
    EXPECT_LT(slowestStop, 2000) << "a stop waited out the time-out";
    // The peer's end of the last session is this process's too; its thread
    // closes it a moment after the client has gone.
    EXPECT_TRUE(WaitUntil([&] { return OpenFdCount() == fdsBefore; }))
        << OpenFdCount() << " descriptors, " << fdsBefore << " before";
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= threadsBefore + 1; }))
        << ThreadCount() << " threads, " << threadsBefore << " before";
    const long kbAfter = ResidentKb();
    std::printf("%d sessions: slowest stop %lld ms, resident %ld kB after 200, %ld kB after all\n",
                kSessions, static_cast<long long>(slowestStop), kbAfterWarmUp, kbAfter);
#if !defined(__SANITIZE_ADDRESS__)
    // (AddressSanitizer holds freed memory back on purpose; there its leak
    // check at exit is the verdict.)
    EXPECT_LT(kbAfter - kbAfterWarmUp, 8 * 1024) << "memory grows with every session";
#endif
}

TEST(HostilePeer, ManySessionsAtOnceLeaveNoDescriptorsOrThreadsBehind) {
    // Two hundred clients against one peer that accepts every login and then either
    // streams, drops the connection, or sends garbage; every client stops
    // when told and nothing stays open afterwards.
    std::atomic<int> turn{0};
    HostilePeer peer([&](int fd, const std::atomic<bool>& done) {
        if (!ReadLogin(fd) || !SendAll(fd, kAccept)) {
            return;
        }
        switch (turn.fetch_add(1) % 3) {
        case 0:
            for (int i = 0; i < 200 && !done.load(); ++i) {
                if (!SendAll(fd, Bytes{0x00, 0x00, 0x01, 0xF8, 0x01, 0x02, 0x03})) {
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            HoldUntilClosed(fd, done);
            return;
        case 1:
            return; // dropped at once: the client comes back
        default:
            Flood(fd, done, Bytes(4096, 0xFF));
            return;
        }
    });
    const int fdsBefore = OpenFdCount();
    constexpr int kClients = 200;
    std::vector<std::unique_ptr<CNetClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<CNetClient>());
        clients.back()->SetTimeout(3000);
        ASSERT_EQ(clients.back()->Connect("127.0.0.1", peer.Port(), "", ""), 1);
        ASSERT_EQ(clients.back()->Start(), 1);
    }
    ASSERT_TRUE(WaitUntil([&] {
        uint64_t logins = 0;
        for (const auto& c : clients) {
            logins += c->GetStats().logins;
        }
        return logins >= static_cast<uint64_t>(kClients);
    }));
    for (auto& c : clients) {
        EXPECT_EQ(c->Disconnect(), 1);
        EXPECT_FALSE(c->HasThread());
    }
    EXPECT_GE(peer.Accepted(), kClients);
    clients.clear();
    // The peer closes its ends as it notices; the client's are closed already.
    EXPECT_TRUE(WaitUntil([&] { return OpenFdCount() == fdsBefore; }))
        << OpenFdCount() << " open, " << fdsBefore << " before";
}

} // namespace
} // namespace tv
