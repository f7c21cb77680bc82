// The client against hand-written peers: byte layouts and splits that the
// simulator never produces, and the installed simulator binary itself.

#include "net/net_client.h"
#include "net/net_message.h"
#include "net_test_util.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

extern char** environ;

namespace tv {

namespace test {

uint16_t UnusedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    close(fd);
    return ntohs(sa.sin_port);
}

} // namespace test

namespace {

using namespace tv::test;
using Bytes = std::vector<uint8_t>;

// One connection on a loopback port, served by a test-supplied script.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::function<void(int fd)> script) : m_script(std::move(script)) {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listen, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        listen(m_listen, 4);
        socklen_t len = sizeof sa;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&sa), &len);
        m_port = ntohs(sa.sin_port);
        m_thread = std::thread([this] {
            pollfd pfd{m_listen, POLLIN, 0};
            if (poll(&pfd, 1, 15000) <= 0) {
                return;
            }
            const int fd = accept(m_listen, nullptr, nullptr);
            // One connection only: later attempts are refused.
            close(m_listen);
            m_listen = -1;
            m_script(fd);
            // Hold the connection until the client leaves.
            char buf[256];
            pollfd cfd{fd, POLLIN, 0};
            while (!m_done.load() && poll(&cfd, 1, 20) >= 0) {
                if ((cfd.revents & POLLIN) && recv(fd, buf, sizeof buf, 0) <= 0) {
                    m_closedByClient.store(true);
                    break;
                }
            }
            close(fd);
        });
    }
    ~ScriptedPeer() {
        m_done.store(true);
        m_thread.join();
        if (m_listen >= 0) {
            close(m_listen);
        }
    }
    uint16_t Port() const { return m_port; }
    bool ClosedByClient() const { return m_closedByClient.load(); }

private:
    std::function<void(int)> m_script;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_closedByClient{false};
    std::thread m_thread;
};

Bytes ReadBytes(int fd, size_t n) {
    Bytes b(n);
    size_t have = 0;
    while (have < n) {
        const ssize_t r = recv(fd, b.data() + have, n - have, 0);
        if (r <= 0) {
            b.resize(have);
            break;
        }
        have += static_cast<size_t>(r);
    }
    return b;
}

void SendText(int fd, const Bytes& b) {
    send(fd, b.data(), b.size(), MSG_NOSIGNAL);
}

Bytes Msg(const std::string& fields) {
    const std::string all = std::string("\0\0\1\xFE", 4) + fields;
    return Bytes(all.begin(), all.end());
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TEST(NetClientWire, LoginBytesAndAnswersSplitOrJoined) {
    // The pending and the accepted answer in one segment, the acceptance itself
    // split in two; lower-case digits in a status and a disconnect message.
    Bytes login;
    ScriptedPeer peer([&](int fd) {
        login = ReadBytes(fd, kLoginMessageSize);
        const Bytes both = Cat({Msg("000C0001"), Msg("000c0003")});
        SendText(fd, Bytes(both.begin(), both.begin() + 18));
        Pause(100);
        SendText(fd, Bytes(both.begin() + 18, both.end()));
        Pause(100);
        SendText(fd, Cat({{0x00, 0x00, 0x01, 0xF8, 0x01},
                          Msg("0010000700ab"),
                          {0x02, 0x03},
                          Msg("000c000b"),
                          {0x00, 0x00, 0x01, 0xF8}}));
    });
    RecordingNotifier notes;
    CNetClient client;
    client.SetNotifier(&notes);
    client.SetTimeout(5000);
    ASSERT_EQ(client.Connect("127.0.0.1", peer.Port(), "", "pw"), 1);
    ASSERT_EQ(client.Start(), 1);
    ASSERT_TRUE(WaitUntil([&] { return notes.Count(kMsgDisconnected) == 1; }))
        << client.GetLastErrorText();
    EXPECT_EQ(notes.Count(kMsgRecorderStatus), 1);
    EXPECT_EQ(client.GetStatusValue(), 0xAB);
    FrameRecord rec(CNetClient::kVideoRecordSize);
    ASSERT_EQ(client.GetVideoQueue().Get(rec), 1);
    EXPECT_EQ(Bytes(rec.data, rec.data + rec.length),
              (Bytes{0x00, 0x00, 0x01, 0xF8, 0x01, 0x02, 0x03}));

    uint8_t want[kLoginMessageSize];
    BuildLoginMessage("pw", want);
    EXPECT_EQ(login, Bytes(want, want + kLoginMessageSize));
    client.Disconnect();
}

TEST(NetClientWire, DataBehindTheAcceptanceIsDropped) {
    ScriptedPeer peer([&](int fd) {
        ReadBytes(fd, kLoginMessageSize);
        // The first picture shares the acceptance's segment and is not looked at;
        // the second picture is whole.
        SendText(fd, Cat({Msg("000C0003"), {0x00, 0x00, 0x01, 0xF8, 0x11}}));
        Pause(200);
        SendText(fd, {0x00, 0x00, 0x01, 0xF8, 0x22, 0x00, 0x00, 0x01, 0xF8});
    });
    CNetClient client;
    client.SetTimeout(5000);
    ASSERT_EQ(client.Connect("127.0.0.1", peer.Port(), "", ""), 1);
    ASSERT_EQ(client.Start(), 1);
    FrameRecord rec(CNetClient::kVideoRecordSize);
    ASSERT_TRUE(WaitUntil([&] { return client.GetVideoQueue().Get(rec) == 1; }));
    EXPECT_EQ(Bytes(rec.data, rec.data + rec.length), (Bytes{0x00, 0x00, 0x01, 0xF8, 0x22}));
    EXPECT_EQ(client.GetStats().bytesAfterAnswer, 5u);
    client.Disconnect();
}

TEST(NetClientWire, SilentSessionIsDroppedAndTriedAgainQuietly) {
    // A peer that accepts the login and then sends nothing. The client closes
    // the connection after the time-out and tries again (the peer serves one
    // connection, so the next attempts are refused); the main window hears
    // nothing of it.
    ScriptedPeer peer([&](int fd) {
        ReadBytes(fd, kLoginMessageSize);
        SendText(fd, Msg("000C0003"));
    });
    RecordingNotifier notes;
    CNetClient client;
    client.SetNotifier(&notes);
    client.SetTimeout(300);
    ASSERT_EQ(client.Connect("127.0.0.1", peer.Port(), "", ""), 1);
    ASSERT_EQ(client.Start(), 1);
    ASSERT_TRUE(WaitUntil([&] { return client.GetStats().logins == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return peer.ClosedByClient(); }));
    ASSERT_TRUE(
        WaitUntil([&] { return client.GetLastErrorText() == std::strerror(ECONNREFUSED); }));
    EXPECT_TRUE(client.HasThread());
    client.Disconnect();
    EXPECT_EQ(notes.Total(), 0u);
}

// The build tree's tool, found from this test's own place in it.
std::string DvrSimPath() {
    if (const char* bin = std::getenv("TV_BINARY_DIR")) {
        return std::string(bin) + "/tools/dvrsim/dvrsim";
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        return "";
    }
    std::string dir(self);
    dir = dir.substr(0, dir.rfind('/')); // tests/net
    dir = dir.substr(0, dir.rfind('/')); // tests
    return dir.substr(0, dir.rfind('/')) + "/tools/dvrsim/dvrsim";
}

// Runs dvrsim to its end; returns the exit status and what went to stderr.
int RunDvrSim(const std::string& args, std::string* err) {
    FILE* p = popen((DvrSimPath() + " " + args + " 2>&1 >/dev/null").c_str(), "r");
    if (p == nullptr) {
        return -1;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
        err->append(buf, n);
    }
    const int st = pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(DvrSimBinary, ABadCommandLineIsRefusedInOneLine) {
    for (const char* args : {"--fps 0", "--bogus", "--port", "--login-reply maybe", "--ddns-port 0",
                             "--channels 4 5"}) {
        std::string err;
        EXPECT_EQ(RunDvrSim(args, &err), 2) << args;
        EXPECT_EQ(err.rfind("dvrsim: ", 0), 0u) << args << "\n" << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << args << "\n" << err;
    }
    std::string err;
    EXPECT_EQ(RunDvrSim("--help", &err), 0);
    EXPECT_EQ(err, "");
}

TEST(DvrSimBinary, ServesTheClientAndStopsOnSigterm) {
    const std::string exe = DvrSimPath();
    ASSERT_EQ(access(exe.c_str(), X_OK), 0) << exe;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::vector<std::string> args = {exe,          "--port", "0",     "--password", "pw",
                                     "--channels", "2",      "--fps", "10"};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    FILE* f = fdopen(out[0], "r");
    char line[512] = {};
    ASSERT_NE(fgets(line, sizeof line, f), nullptr);
    const char* p = std::strstr(line, "\"port\":");
    ASSERT_NE(p, nullptr) << line;
    const int port = std::atoi(p + 7);
    ASSERT_GT(port, 0);

    CNetClient client;
    client.SetTimeout(5000);
    ASSERT_EQ(client.Connect("127.0.0.1", static_cast<uint16_t>(port), "", "pw"), 1);
    ASSERT_EQ(client.Start(), 1);
    FrameRecord rec(CNetClient::kVideoRecordSize);
    ASSERT_TRUE(WaitUntil([&] { return client.GetVideoQueue().Get(rec) == 1; }));
    EXPECT_EQ(client.SendRemoteKey(12), 1);
    client.Disconnect();

    // The log shows the key and the logout; SIGTERM ends it cleanly.
    std::string log;
    while (log.find("\"logout\"") == std::string::npos && fgets(line, sizeof line, f)) {
        log += line;
    }
    EXPECT_NE(log.find("\"event\":\"key\",\"session\":1,\"code\":12}"), std::string::npos) << log;
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    fclose(f);
}

} // namespace
} // namespace tv
