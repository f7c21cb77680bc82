#include "dvrsim/dvr_sim.h"
#include "media/block_writer.h"
#include "net/net_client.h"
#include "net/net_message.h"
#include "net_test_util.h"
#include "synth/test_pattern.h"
#include "synth/video_encoder.h"
#include "video/video_decoder.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace tv {
namespace {

using namespace tv::test;
using Clock = std::chrono::steady_clock;

constexpr char kPassword[] = "s3cret";

DvrSimOptions SimOptions() {
    DvrSimOptions o;
    o.password = kPassword;
    o.statusEveryMs = 150;
    o.pictureBytes = 4000;
    return o;
}

int CountEvents(const CDvrSim& sim, const std::string& fragment) {
    const auto log = sim.GetLog();
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& l) {
        return l.find(fragment) != std::string::npos;
    }));
}

class NetClientTest : public ::testing::Test {
protected:
    void StartSim(const DvrSimOptions& o) {
        m_sim = std::make_unique<CDvrSim>(o);
        ASSERT_EQ(m_sim->Start(), 1) << m_sim->GetError();
    }
    void StartClient(uint32_t timeoutMs, const std::string& password = kPassword) {
        m_client.SetNotifier(&m_notes);
        m_client.SetTimeout(timeoutMs);
        ASSERT_EQ(m_client.Connect("127.0.0.1", m_sim->GetPort(), "admin", password), 1);
        ASSERT_EQ(m_client.Start(), 1);
    }
    bool WaitLoggedIn() {
        return WaitUntil([&] { return m_client.GetNetworkState() == kNetLoggedIn; });
    }
    bool WaitThreadEnd() {
        return WaitUntil([&] { return !m_client.HasThread(); });
    }
    void TearDown() override {
        m_client.Disconnect();
        if (m_sim) {
            m_sim->Stop();
        }
        CNetClient::SetMouseRemoteMode(1);
    }

    std::unique_ptr<CDvrSim> m_sim;
    RecordingNotifier m_notes;
    CNetMouseRecord m_mouse; // outlives the client's thread
    CNetClient m_client;
};

TEST_F(NetClientTest, LoggedInClientQueuesPicturesSoundAndStatus) {
    StartSim(SimOptions());
    StartClient(5000);
    ASSERT_TRUE(WaitLoggedIn()) << m_client.GetLastErrorText();
    EXPECT_EQ(m_client.IsConnected(), 1);

    FrameRecord video(CNetClient::kVideoRecordSize);
    ASSERT_TRUE(WaitUntil([&] { return m_client.GetVideoSource()->Get(video) == 1; }));
    ASSERT_GT(video.length, 7u);
    EXPECT_EQ(video.data[0], 0x00);
    EXPECT_EQ(video.data[2], 0x01);
    EXPECT_EQ(video.data[3], 0xF8);
    // Whole pictures: the header and the 17 slice start codes, nothing more.
    int slices = 0;
    for (uint32_t i = 5; i + 3 < video.length; ++i) {
        if (video.data[i] == 0 && video.data[i + 1] == 0 && video.data[i + 2] == 1) {
            EXPECT_LT(video.data[i + 3], 0xF0) << "a start code of another packet at " << i;
            ++slices;
        }
    }
    EXPECT_EQ(slices, 17);
    EXPECT_EQ(GetLe16(video.metadata), 2008);
    // The live layout decodes as the engine will decode it.
    ASSERT_STREQ(m_sim->GetPictureKind(), "synth");
    CVideoDecoder decoder;
    decoder.SetMode(2);
    std::vector<uint8_t> picture(CVideoDecoder::kMaxPictureBytes);
    ASSERT_GT(decoder.ParseHeader(video.data, static_cast<int>(video.length)), 0);
    EXPECT_EQ(decoder.Decode(video.data, static_cast<int>(video.length), picture.data()), 1);
    EXPECT_EQ(decoder.GetWidth(), 640);
    EXPECT_EQ(decoder.GetHeight(), 272);

    FrameRecord audio(CNetClient::kAudioRecordSize);
    ASSERT_TRUE(WaitUntil([&] { return m_client.GetAudioSource()->Get(audio) == 1; }));
    EXPECT_EQ(audio.length, 320u);

    ASSERT_TRUE(WaitUntil([&] { return m_notes.Count(kMsgRecorderStatus) >= 5; }));
    EXPECT_GT(m_client.GetStatusValue(), 0);
    uint16_t five[5];
    m_client.GetStatusValues(five);
    EXPECT_EQ(five[1], 1);
    EXPECT_EQ(five[4], 4);

    m_client.Disconnect();
    EXPECT_EQ(m_client.GetNetworkState(), kNetIdle);
    EXPECT_EQ(m_client.IsConnected(), 0);
    ASSERT_TRUE(WaitUntil([&] { return CountEvents(*m_sim, "\"logout\"") == 1; }));
    EXPECT_EQ(m_notes.Count(kMsgLoginRefused), 0);
    EXPECT_EQ(m_notes.Count(kMsgNoResponse), 0);
}

TEST_F(NetClientTest, RefusalsEndTheThreadWithTheirTexts) {
    struct Case {
        SimLoginReply reply;
        int reason;
        int maxClients;
        const char* password;
        const char* text;
    };
    const Case cases[] = {
        {SimLoginReply::Accept, 0, 4, "wrong", "Incorrect password."},
        {SimLoginReply::Accept, 0, 0, kPassword, "Too many client."},
        {SimLoginReply::Refuse, 3, 4, kPassword, "Bad network"},
        {SimLoginReply::Refuse4, 9, 4, kPassword, "Unkown error."},
        {SimLoginReply::Garbage, 0, 4, kPassword, "LOGIN ERROR"},
    };
    for (const Case& c : cases) {
        DvrSimOptions o = SimOptions();
        o.loginReply = c.reply;
        o.refuseReason = c.reason;
        o.maxClients = c.maxClients;
        CDvrSim sim(o);
        ASSERT_EQ(sim.Start(), 1);
        RecordingNotifier notes;
        CNetClient client;
        client.SetNotifier(&notes);
        client.SetTimeout(5000);
        ASSERT_EQ(client.Connect("127.0.0.1", sim.GetPort(), "", c.password), 1);
        ASSERT_EQ(client.Start(), 1);
        ASSERT_TRUE(WaitUntil([&] { return !client.HasThread(); })) << c.text;
        EXPECT_EQ(client.GetLastErrorText(), c.text);
        EXPECT_EQ(notes.Count(kMsgLoginRefused), 1) << c.text;
        EXPECT_EQ(client.GetNetworkState(), kNetIdle);
        EXPECT_EQ(client.IsConnected(), 0);
        EXPECT_EQ(client.SendRemoteKey(1), 0);
        EXPECT_EQ(sim.GetStats().logins, 0u);
    }
}

TEST_F(NetClientTest, PendingAnswerThenAcceptance) {
    DvrSimOptions o = SimOptions();
    o.pendingMs = 400;
    StartSim(o);
    StartClient(5000);
    ASSERT_TRUE(WaitLoggedIn()) << m_client.GetLastErrorText();
    EXPECT_EQ(CountEvents(*m_sim, "\"pending\""), 1);
}

TEST_F(NetClientTest, SilentRecorderIsNoResponse) {
    DvrSimOptions o = SimOptions();
    o.loginReply = SimLoginReply::None;
    StartSim(o);
    StartClient(300);
    ASSERT_TRUE(WaitThreadEnd());
    EXPECT_EQ(m_client.GetLastErrorText(), "No response from server.");
    EXPECT_EQ(m_notes.Count(kMsgLoginRefused), 1);
}

TEST_F(NetClientTest, StalledStreamReconnectsWithoutTellingTheWindow) {
    DvrSimOptions o = SimOptions();
    o.stallAfterMs = 300;
    StartSim(o);
    StartClient(500);
    ASSERT_TRUE(WaitUntil([&] { return m_sim->GetStats().logins >= 2; }, 30000));
    ASSERT_TRUE(WaitLoggedIn());
    EXPECT_GE(m_client.GetStats().logins, 2u);
    EXPECT_EQ(m_notes.Count(kMsgNoResponse), 0);
    EXPECT_EQ(m_notes.Count(kMsgLoginRefused), 0);
    EXPECT_EQ(m_notes.Count(kMsgDisconnected), 0);
    // The stalled connection was closed by the client, not left behind.
    EXPECT_TRUE(WaitUntil([&] { return m_sim->ActiveSessions() <= 1; }));
}

TEST_F(NetClientTest, ClosedConnectionReconnectsBeforeTheTimeOut) {
    DvrSimOptions o = SimOptions();
    o.dropAfterMs = 300;
    StartSim(o);
    // With a 60 s time-out only the closed connection itself can explain a
    // quick second login.
    StartClient(60000);
    ASSERT_TRUE(WaitUntil([&] { return m_sim->GetStats().logins >= 2; }, 20000));
    EXPECT_EQ(m_notes.Total(), m_notes.Count(kMsgRecorderStatus) + 0u);
}

TEST_F(NetClientTest, DisconnectMessageIsPosted) {
    DvrSimOptions o = SimOptions();
    o.disconnectAfterMs = 200;
    StartSim(o);
    StartClient(5000);
    ASSERT_TRUE(WaitUntil([&] { return m_notes.Count(kMsgDisconnected) == 1; }));
}

TEST_F(NetClientTest, RemoteKeysReachTheRecorderWhole) {
    DvrSimOptions o = SimOptions();
    o.garbage = true; // the stream's junk must not disturb sending
    StartSim(o);
    EXPECT_EQ(m_client.SendRemoteKey(132), 0); // not logged in
    StartClient(5000);
    ASSERT_TRUE(WaitLoggedIn());
    // Keys from several threads at once, mixed with mouse events: every message
    // arrives whole.
    CNetMouseRecord& mouse = m_mouse;
    m_client.SetMouseSource(&mouse);
    std::vector<std::thread> senders;
    for (int t = 0; t < 3; ++t) {
        senders.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                EXPECT_EQ(m_client.SendRemoteKey(132), 1);
                mouse.Record({1, i, i, 640, 480});
            }
        });
    }
    for (auto& t : senders) {
        t.join();
    }
    ASSERT_TRUE(WaitUntil([&] { return CountEvents(*m_sim, "\"code\":132") == 150; }));
    EXPECT_EQ(CountEvents(*m_sim, "bad-message"), 0);
    EXPECT_EQ(CountEvents(*m_sim, "\"event\":\"message\""), 0);
}

TEST_F(NetClientTest, MouseEventsAreLimitedToFourPerSecond) {
    StartSim(SimOptions());
    CNetMouseRecord& mouse = m_mouse;
    m_client.SetMouseSource(&mouse);
    StartClient(5000);
    ASSERT_TRUE(WaitLoggedIn());

    const auto start = Clock::now();
    for (int i = 0; ElapsedMs(start) < 1500; ++i) {
        mouse.Record({1, i % 640, i % 480, 640, 480});
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int64_t dragged = ElapsedMs(start);
    // The last pending event goes out within one interval.
    ASSERT_TRUE(WaitUntil([&] { return !mouse.IsPending(); }));
    ASSERT_TRUE(WaitUntil([&] {
        return CountEvents(*m_sim, "\"mouse\"") ==
               static_cast<int>(m_client.GetStats().mouseEventsSent);
    }));
    const int sent = CountEvents(*m_sim, "\"mouse\"");
    EXPECT_GE(sent, 2);
    EXPECT_LE(sent, dragged / 250 + 2);
    EXPECT_EQ(CountEvents(*m_sim, "\"mouse\",\"session\":1,\"code\":1,\"width\":640"), sent);

    // Mode 2 asks the recorder to show its cursor: 0x100 on the code.
    CNetClient::SetMouseRemoteMode(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    mouse.Record({1, 10, 20, 640, 480});
    ASSERT_TRUE(WaitUntil([&] { return CountEvents(*m_sim, "\"code\":257") == 1; }));

    // Mode 0 sends nothing, though the event is taken.
    CNetClient::SetMouseRemoteMode(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int before = CountEvents(*m_sim, "\"mouse\"");
    mouse.Record({3, 10, 20, 640, 480});
    ASSERT_TRUE(WaitUntil([&] { return !mouse.IsPending(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(CountEvents(*m_sim, "\"mouse\""), before);
}

TEST_F(NetClientTest, DynamicIpLooksUpTheRecorderOnce) {
    DvrSimOptions o = SimOptions();
    o.ddns = true;
    o.name = "LOBBY-CAM-7"; // travels as its first 8 bytes
    o.stallAfterMs = 300;   // forces a reconnection, which must not ask again
    StartSim(o);
    m_client.SetNotifier(&m_notes);
    m_client.SetTimeout(500);
    ASSERT_EQ(m_client.ConnectDynamic("127.0.0.1", m_sim->GetDdnsPort(), "LOBBY-CAM-7", kPassword),
              1);
    ASSERT_EQ(m_client.Start(), 1);
    ASSERT_TRUE(WaitUntil([&] { return m_sim->GetStats().logins >= 2; }, 30000))
        << m_client.GetLastErrorText();
    EXPECT_EQ(CountEvents(*m_sim, "\"name\":\"LOBBY-CA\",\"known\":true"), 1);
    EXPECT_EQ(m_sim->GetStats().ddnsRequests, 1u);
    EXPECT_EQ(m_client.GetRecorderPort(), m_sim->GetPort());
    EXPECT_EQ(m_notes.Count(kMsgLoginRefused), 0);
}

TEST_F(NetClientTest, DynamicIpFailures) {
    struct Case {
        SimDdnsReply reply;
        const char* askFor;
        const char* text;
    };
    const Case cases[] = {
        {SimDdnsReply::Answer, "OTHER", "DDNS LOGIN ERROR"},
        {SimDdnsReply::Garbage, "DVR1", "DDNS LOGIN ERROR"},
        {SimDdnsReply::None, "DVR1", "No response from server."},
    };
    for (const Case& c : cases) {
        DvrSimOptions o = SimOptions();
        o.ddns = true;
        o.name = "DVR1";
        o.ddnsReply = c.reply;
        CDvrSim sim(o);
        ASSERT_EQ(sim.Start(), 1);
        RecordingNotifier notes;
        CNetClient client;
        client.SetNotifier(&notes);
        client.SetTimeout(400);
        ASSERT_EQ(client.ConnectDynamic("127.0.0.1", sim.GetDdnsPort(), c.askFor, kPassword), 1);
        ASSERT_EQ(client.Start(), 1);
        ASSERT_TRUE(WaitUntil([&] { return !client.HasThread(); })) << c.text;
        EXPECT_EQ(client.GetLastErrorText(), c.text);
        EXPECT_EQ(notes.Count(kMsgLoginRefused), 1);
        EXPECT_EQ(sim.GetStats().connections, 0u);
    }
}

TEST_F(NetClientTest, TheAnyAddressIsNoRecorder) {
    // Connecting to 0.0.0.0 reaches this machine here: an address that came
    // out as it (a name that did not resolve, a dynamic-IP answer) must not
    // log in to whatever listens on the port.
    StartSim(SimOptions());
    m_client.SetNotifier(&m_notes);
    m_client.SetTimeout(200);
    ASSERT_EQ(m_client.Connect("0.0.0.0", m_sim->GetPort(), "", kPassword), 1);
    ASSERT_EQ(m_client.Start(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(m_sim->GetStats().connections, 0u);
    EXPECT_EQ(m_client.GetLastErrorText(), std::strerror(EADDRNOTAVAIL));
    EXPECT_EQ(m_notes.Total(), 0u); // retried quietly, as any refused connection
}

TEST_F(NetClientTest, UnreachablePeersAreRetriedQuietly) {
    m_client.SetNotifier(&m_notes);
    m_client.SetTimeout(200);
    ASSERT_EQ(m_client.ConnectDynamic("127.0.0.1", UnusedPort(), "DVR1", kPassword), 1);
    ASSERT_EQ(m_client.Start(), 1);
    // A refused connection is a failed attempt, tried again, never a success.
    ASSERT_TRUE(WaitUntil([&] { return !m_client.GetLastErrorText().empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_TRUE(m_client.HasThread());
    EXPECT_EQ(m_client.GetLastErrorText(), std::strerror(ECONNREFUSED));
    const int state = m_client.GetNetworkState();
    EXPECT_TRUE(state == kNetIdle || state == kNetDdnsConnecting) << state;
    EXPECT_EQ(m_notes.Total(), 0u);
    m_client.Disconnect();

    // The same for the recorder itself: never "Already Connected".
    ASSERT_EQ(m_client.Connect("127.0.0.1", UnusedPort(), "", kPassword), 1);
    ASSERT_EQ(m_client.Start(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(m_client.GetLastErrorText(), std::strerror(ECONNREFUSED));
    EXPECT_EQ(m_notes.Total(), 0u);
}

TEST_F(NetClientTest, StopIsPromptWhileConnectingAndLoggingIn) {
    // Connecting: attempts to a closed port with a long time-out between them.
    m_client.SetNotifier(&m_notes);
    m_client.SetTimeout(30000);
    ASSERT_EQ(m_client.Connect("127.0.0.1", UnusedPort(), "", kPassword), 1);
    ASSERT_EQ(m_client.Start(), 1);
    ASSERT_TRUE(WaitUntil([&] { return !m_client.GetLastErrorText().empty(); }));
    auto t0 = Clock::now();
    m_client.Disconnect();
    EXPECT_LT(ElapsedMs(t0), 4000);

    // Logging in: a recorder that never answers.
    DvrSimOptions o = SimOptions();
    o.loginReply = SimLoginReply::None;
    StartSim(o);
    StartClient(30000);
    ASSERT_TRUE(WaitUntil([&] { return m_client.GetNetworkState() == kNetLoggingIn; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    t0 = Clock::now();
    m_client.Disconnect();
    EXPECT_LT(ElapsedMs(t0), 4000);
    EXPECT_EQ(m_client.GetNetworkState(), kNetIdle);
    // The user's own stop is no refused login, and nobody was logged in to log out.
    EXPECT_EQ(m_notes.Total(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return CountEvents(*m_sim, "\"close\"") == 1; }));
    EXPECT_EQ(CountEvents(*m_sim, "\"logout\""), 0);
}

TEST_F(NetClientTest, ConnectChecksItsInput) {
    EXPECT_EQ(m_client.Connect("dvr.example", 9000, "", ""), 0);
    EXPECT_EQ(m_client.GetLastErrorText(), "Invalid IP address");
    EXPECT_EQ(m_client.ConnectDynamic("300.1.1.1", 9000, "x", ""), 0);

    m_client.SetTimeout(0);
    EXPECT_EQ(m_client.GetTimeout(), CNetClient::kDefaultTimeout);
    m_client.SetTimeout(7000);
    EXPECT_EQ(m_client.GetTimeout(), 7000u);

    StartSim(SimOptions());
    StartClient(5000);
    ASSERT_TRUE(WaitLoggedIn());
    // Settings cannot change under a running session.
    EXPECT_EQ(m_client.Connect("127.0.0.1", 1, "", ""), 0);
    EXPECT_EQ(m_client.GetLastErrorText(), "Already Connected");
    EXPECT_EQ(m_client.GetNetworkState(), kNetLoggedIn);
    // A second session after the first ended.
    m_client.Disconnect();
    StartClient(5000);
    ASSERT_TRUE(WaitLoggedIn());
    EXPECT_EQ(m_sim->GetStats().logins, 2u);
}

TEST_F(NetClientTest, RecordingIsStreamedInTheLiveLayout) {
    // A small QZF recording in format 4 (key flag in the start code, quantiser
    // in the top bits of byte 4), pictures of two channels and sound.
    char path[] = "/tmp/tv_net_sourceXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    {
        CQzfBlockWriter w;
        w.SetFormat(4);
        w.AttachFd(fd);
        w.SetTime(static_cast<time_t>(1700000000));
        w.SetChannelMask(0x0003);
        w.SetFrameGap(1);
        synth::CVideoEncoder encoder;
        std::vector<uint8_t> yuv(640 * 224 * 3 / 2);
        std::vector<uint8_t> packet;
        const std::vector<uint8_t> samples(200, 0x90);
        for (int i = 0; i < 6; ++i) {
            synth::DrawTestPattern(yuv.data(), 640, 224, i % 2, i, nullptr);
            synth::PictureHeader h;
            h.format = 4;
            h.channel = i % 2;
            h.quantScale = 5;
            h.key = i < 2;
            ASSERT_GT(encoder.EncodePicture(yuv.data(), 224, h, nullptr, packet), 0u);
            ASSERT_EQ(w.Write(packet.data(), packet.size()), 1);
            ASSERT_EQ(w.WriteAudioPacket(0, samples.data(), samples.size()), 1);
        }
        ASSERT_EQ(w.Finish(), 1);
    }
    close(fd);

    DvrSimOptions o = SimOptions();
    o.source = path;
    o.sourceFormat = 4;
    StartSim(o);
    EXPECT_STREQ(m_sim->GetPictureKind(), "file");
    StartClient(5000);
    CVideoDecoder decoder;
    decoder.SetMode(2);
    std::vector<uint8_t> picture(CVideoDecoder::kMaxPictureBytes);
    FrameRecord video(CNetClient::kVideoRecordSize);
    int decoded = 0;
    std::vector<int> keys;
    ASSERT_TRUE(WaitUntil([&] {
        while (m_client.GetVideoSource()->Get(video)) {
            if (decoder.ParseHeader(video.data, static_cast<int>(video.length)) > 0 &&
                decoder.Decode(video.data, static_cast<int>(video.length), picture.data()) == 1) {
                ++decoded;
                keys.push_back((video.data[4] & 0x80) != 0);
                EXPECT_EQ(decoder.GetHeight(), 224);
                EXPECT_EQ((video.data[4] >> 3) & 0x0F, 5);
            }
        }
        return decoded >= 12; // the file runs round
    }));
    // The file's key pictures stay key pictures: two in every six, round after round.
    for (size_t i = 0; i + 6 <= keys.size(); ++i) {
        EXPECT_EQ(std::accumulate(keys.begin() + static_cast<long>(i),
                                  keys.begin() + static_cast<long>(i) + 6, 0),
                  2)
            << "window at " << i;
    }
    FrameRecord audio(CNetClient::kAudioRecordSize);
    ASSERT_TRUE(WaitUntil([&] { return m_client.GetAudioSource()->Get(audio) == 1; }));
    EXPECT_EQ(audio.length, 200u);
    EXPECT_EQ(audio.data[0], 0x90);
    unlink(path);

    DvrSimOptions missing = SimOptions();
    missing.source = "/nonexistent/file.qzf";
    CDvrSim bad(missing);
    EXPECT_EQ(bad.Start(), 0);
    EXPECT_NE(bad.GetError().find("cannot open"), std::string::npos);
}

TEST_F(NetClientTest, QueuesDropWhenTheConsumerFallsBehind) {
    DvrSimOptions o = SimOptions();
    o.fps = 50;
    StartSim(o);
    StartClient(5000);
    ASSERT_TRUE(WaitLoggedIn());
    ASSERT_TRUE(WaitUntil([&] { return m_client.GetStats().videoDropped > 0; }));
    EXPECT_EQ(m_client.GetVideoQueue().GetReadyCount(), CNetClient::kQueueRecords);
    // The session goes on; a consumer that catches up gets packets again.
    FrameRecord rec(CNetClient::kVideoRecordSize);
    while (m_client.GetVideoQueue().Get(rec)) {
    }
    ASSERT_TRUE(WaitUntil([&] { return m_client.GetVideoQueue().GetReadyCount() > 0; }));
    EXPECT_EQ(m_client.GetNetworkState(), kNetLoggedIn);
}

} // namespace
} // namespace tv
