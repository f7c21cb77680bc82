#include "dvrsim/dvr_sim.h"

#include "dvrsim/picture_source.h"
#include "net/net_message.h"
#include "platform/clock.h"
#include "platform/win_types.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tv {

namespace {

constexpr int kPollSliceMs = 50;
constexpr int kLoginReadTimeoutMs = 10000;

std::string JsonEscape(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string DigestHex(const std::string& password) {
    uint8_t digest[16];
    if (!PasswordDigest(password, digest)) {
        return {};
    }
    char hex[33];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(hex + 2 * i, 3, "%02X", digest[i]);
    }
    return std::string(hex, 32);
}

void AppendControl(std::vector<uint8_t>& out, uint16_t type, std::initializer_list<uint16_t> p) {
    uint8_t msg[kControlMaxSize];
    const std::vector<uint16_t> params(p);
    const uint32_t n = BuildControlMessage(msg, sizeof msg, type, params.data(),
                                           static_cast<uint32_t>(params.size()));
    out.insert(out.end(), msg, msg + n);
}

// Made-up bytes that never form a start code (no zero bytes at all).
void AppendFiller(std::vector<uint8_t>& out, size_t n, uint32_t& seed) {
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        out.push_back(static_cast<uint8_t>(0x10 + ((seed >> 24) % 0xE0)));
    }
}

} // namespace

CDvrSim::CDvrSim(DvrSimOptions options) : m_opt(std::move(options)) {}

CDvrSim::~CDvrSim() {
    Stop();
}

const char* CDvrSim::GetPictureKind() const {
    return PictureSourceKind(m_opt);
}

int CDvrSim::Listen(const std::string& address, uint16_t port, uint16_t& boundPort) {
    uint32_t addr = 0;
    if (!ParseIpv4(address, addr)) {
        m_error = "bad bind address: " + address;
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        m_error = std::strerror(errno);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 16) != 0) {
        m_error = std::string("cannot listen on ") + address + ":" + std::to_string(port) + ": " +
                  std::strerror(errno);
        close(fd);
        return -1;
    }
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    boundPort = ntohs(sa.sin_port);
    return fd;
}

int CDvrSim::Start() {
    if (!m_opt.source.empty()) {
        std::string why;
        if (!CheckPictureSource(m_opt, why)) {
            m_error = why;
            return 0;
        }
    }
    m_stop.store(false);
    if (UsesPictureCache(m_opt) && !m_cache) {
        m_cache = std::make_unique<CPictureCache>(m_opt);
    }
    m_listenFd = Listen(m_opt.bind, m_opt.port, m_port);
    if (m_listenFd < 0) {
        return 0;
    }
    if (m_opt.ddns) {
        m_ddnsFd = Listen(m_opt.bind, m_opt.ddnsPort, m_ddnsPort);
        if (m_ddnsFd < 0) {
            close(m_listenFd);
            m_listenFd = -1;
            return 0;
        }
    }
    m_acceptThreads.emplace_back([this] { AcceptLoop(m_listenFd, false); });
    if (m_ddnsFd >= 0) {
        m_acceptThreads.emplace_back([this] { AcceptLoop(m_ddnsFd, true); });
    }
    return 1;
}

void CDvrSim::PreparePictures() {
    if (UsesPictureCache(m_opt)) {
        if (!m_cache) {
            m_cache = std::make_unique<CPictureCache>(m_opt);
        }
        m_cache->PrepareAll();
    }
}

void CDvrSim::Stop() {
    m_stop.store(true);
    for (auto& t : m_acceptThreads) {
        t.join();
    }
    m_acceptThreads.clear();
    ReapSessions(true);
    for (int* fd : {&m_listenFd, &m_ddnsFd}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

void CDvrSim::ReapSessions(bool all) {
    std::vector<SessionThread> finished;
    {
        std::lock_guard<std::mutex> lock(m_sessionLock);
        for (auto it = m_sessions.begin(); it != m_sessions.end();) {
            if (all || it->done->load()) {
                finished.push_back(std::move(*it));
                it = m_sessions.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& s : finished) {
        s.thread.join();
    }
}

void CDvrSim::AcceptLoop(int listenFd, bool ddns) {
    while (!m_stop.load()) {
        pollfd pfd{listenFd, POLLIN, 0};
        if (poll(&pfd, 1, kPollSliceMs) <= 0) {
            continue;
        }
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        // A long demonstration with many reconnections must not pile up
        // finished threads.
        ReapSessions(false);
        const int id = m_nextId.fetch_add(1);
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard<std::mutex> lock(m_sessionLock);
        SessionThread s;
        s.done = done;
        s.thread = std::thread([this, fd, id, done, ddns] {
            if (ddns) {
                ServeDdns(fd, id);
            } else {
                ServeRecorder(fd, id);
            }
            done->store(true);
        });
        m_sessions.push_back(std::move(s));
    }
}

void CDvrSim::Log(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_logLock);
    m_log.push_back(line);
    if (m_logFile) {
        std::fprintf(m_logFile, "%s\n", line.c_str());
        std::fflush(m_logFile);
    }
}

void CDvrSim::SetLogFile(FILE* f) {
    std::lock_guard<std::mutex> lock(m_logLock);
    m_logFile = f;
    if (f) {
        for (const auto& line : m_log) {
            std::fprintf(f, "%s\n", line.c_str());
        }
        std::fflush(f);
    }
}

std::vector<std::string> CDvrSim::GetLog() const {
    std::lock_guard<std::mutex> lock(m_logLock);
    return m_log;
}

DvrSimStats CDvrSim::GetStats() const {
    std::lock_guard<std::mutex> lock(m_statsLock);
    return m_stats;
}

bool CDvrSim::ReadExactly(int fd, uint8_t* buf, size_t n, int timeoutMs) {
    size_t have = 0;
    const uint32_t start = GetTickCount();
    while (have < n) {
        if (m_stop.load() || static_cast<int>(GetTickCount() - start) > timeoutMs) {
            return false;
        }
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, kPollSliceMs) <= 0) {
            continue;
        }
        const ssize_t r = recv(fd, buf + have, n - have, 0);
        if (r <= 0) {
            return false;
        }
        have += static_cast<size_t>(r);
    }
    return true;
}

bool CDvrSim::SendAll(int fd, const uint8_t* p, size_t n) {
    size_t off = 0;
    while (off < n) {
        if (m_stop.load()) {
            return false;
        }
        const ssize_t r = send(fd, p + off, n - off, MSG_NOSIGNAL);
        if (r < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (r <= 0) {
            return false;
        }
        off += static_cast<size_t>(r);
    }
    std::lock_guard<std::mutex> lock(m_statsLock);
    m_stats.bytesSent += n;
    return true;
}

void CDvrSim::HandleIncoming(int id, std::vector<uint8_t>& pending) {
    size_t pos = 0;
    const std::string sid = std::to_string(id);
    while (pending.size() - pos >= kControlHeaderSize) {
        const uint8_t* p = pending.data() + pos;
        if (!(p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == kControlStartByte)) {
            ++pos; // resynchronise on the next start code
            continue;
        }
        const uint16_t length = GetHex16(p + 4);
        if (length < kControlHeaderSize || length > kControlMaxSize) {
            Log("{\"event\":\"bad-message\",\"session\":" + sid + "}");
            pos += 4;
            continue;
        }
        if (pending.size() - pos < length) {
            break;
        }
        const uint16_t type = GetHex16(p + 8);
        auto param = [&](int i) {
            return 12 + 4 * i + 4 <= length ? std::to_string(GetHex16(p + 12 + 4 * i))
                                            : std::string("null");
        };
        std::lock_guard<std::mutex> lock(m_statsLock);
        switch (type) {
        case kMsgRemoteKey:
            ++m_stats.keys;
            Log("{\"event\":\"key\",\"session\":" + sid + ",\"code\":" + param(0) + "}");
            break;
        case kMsgMouse:
            ++m_stats.mouseEvents;
            Log("{\"event\":\"mouse\",\"session\":" + sid + ",\"code\":" + param(0) +
                ",\"width\":" + param(1) + ",\"height\":" + param(2) + ",\"x\":" + param(3) +
                ",\"y\":" + param(4) + "}");
            break;
        case kMsgLogout:
            ++m_stats.logouts;
            Log("{\"event\":\"logout\",\"session\":" + sid + "}");
            break;
        default:
            Log("{\"event\":\"message\",\"session\":" + sid + ",\"type\":" + std::to_string(type) +
                ",\"length\":" + std::to_string(length) + "}");
            break;
        }
        pos += length;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(pos));
}

void CDvrSim::ServeRecorder(int fd, int id) {
    const std::string sid = std::to_string(id);
    {
        std::lock_guard<std::mutex> lock(m_statsLock);
        ++m_stats.connections;
    }
    Log("{\"event\":\"connect\",\"session\":" + sid + "}");
    timeval tv{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    bool counted = false;
    auto finish = [&](const char* why) {
        Log(std::string("{\"event\":\"close\",\"session\":") + sid + ",\"why\":\"" + why + "\"}");
        if (counted) {
            m_activeSessions.fetch_sub(1);
        }
        shutdown(fd, SHUT_RDWR);
        close(fd);
    };

    uint8_t login[kLoginMessageSize];
    if (!ReadExactly(fd, login, sizeof login, kLoginReadTimeoutMs)) {
        finish("no login");
        return;
    }
    const bool framed = login[0] == 0 && login[1] == 0 && login[2] == 1 &&
                        login[3] == kControlStartByte && GetHex16(login + 8) == kMsgLogin &&
                        GetHex16(login + 4) == kLoginMessageSize;
    const std::string expected = DigestHex(m_opt.password);
    const bool passwordOk =
        framed && strncasecmp(reinterpret_cast<const char*>(login + 12), expected.c_str(), 32) == 0;

    std::vector<uint8_t> out;
    std::vector<uint8_t> incoming;
    auto waitAndLog = [&](int ms) {
        // Keeps reading (and logging) while waiting; false when the peer left.
        const uint32_t start = GetTickCount();
        while (!m_stop.load() && (ms < 0 || static_cast<int>(GetTickCount() - start) < ms)) {
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, kPollSliceMs) <= 0) {
                continue;
            }
            uint8_t buf[4096];
            const ssize_t r = recv(fd, buf, sizeof buf, 0);
            if (r <= 0) {
                return false;
            }
            incoming.insert(incoming.end(), buf, buf + r);
            HandleIncoming(id, incoming);
        }
        return true;
    };

    int refuse = 0;
    switch (m_opt.loginReply) {
    case SimLoginReply::Garbage: {
        Log("{\"event\":\"login\",\"session\":" + sid + ",\"reply\":\"garbage\"}");
        static const char kJunk[] = "HTTP/1.0 400 Bad Request\r\n\r\n";
        SendAll(fd, reinterpret_cast<const uint8_t*>(kJunk), sizeof kJunk - 1);
        waitAndLog(-1);
        finish("garbage");
        return;
    }
    case SimLoginReply::None:
        Log("{\"event\":\"login\",\"session\":" + sid + ",\"reply\":\"none\"}");
        waitAndLog(-1);
        finish("no answer");
        return;
    case SimLoginReply::Refuse:
    case SimLoginReply::Refuse4:
        refuse = m_opt.refuseReason;
        break;
    case SimLoginReply::Accept:
        if (!passwordOk) {
            refuse = 2;
        } else if (m_activeSessions.fetch_add(1) >= m_opt.maxClients) {
            m_activeSessions.fetch_sub(1);
            refuse = 1;
        } else {
            counted = true;
        }
        break;
    }
    if (refuse != 0) {
        const uint16_t type = m_opt.loginReply == SimLoginReply::Refuse4 ? kMsgTypeLoginRefused2
                                                                         : kMsgTypeLoginRefused;
        Log("{\"event\":\"login\",\"session\":" + sid +
            ",\"ok\":false,\"reason\":" + std::to_string(refuse) + "}");
        AppendControl(out, type, {static_cast<uint16_t>(refuse)});
        SendAll(fd, out.data(), out.size());
        waitAndLog(1000); // let the viewer read the answer before the close
        finish("refused");
        return;
    }
    if (m_opt.pendingMs >= 0) {
        AppendControl(out, kMsgLoginPending, {});
        SendAll(fd, out.data(), out.size());
        out.clear();
        Log("{\"event\":\"login\",\"session\":" + sid + ",\"reply\":\"pending\"}");
        if (!waitAndLog(m_opt.pendingMs)) {
            finish("peer closed");
            return;
        }
    }
    AppendControl(out, kMsgLoginAccepted, {});
    if (!SendAll(fd, out.data(), out.size())) {
        finish("send failed");
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_statsLock);
        ++m_stats.logins;
    }
    Log("{\"event\":\"login\",\"session\":" + sid + ",\"ok\":true}");
    // A viewer looks only at the answer in the receive that brings it; let it
    // arrive alone so that the first pictures are not thrown away with it.
    if (!waitAndLog(250)) {
        finish("peer closed");
        return;
    }

    std::unique_ptr<PictureSource> pictures = MakePictureSource(m_opt, m_cache.get());
    const uint32_t period = static_cast<uint32_t>(1000 / (m_opt.fps > 0 ? m_opt.fps : 25));
    const uint32_t start = GetTickCount();
    uint32_t nextFrame = start;
    uint32_t nextStatus = start + static_cast<uint32_t>(m_opt.statusEveryMs);
    uint32_t statusCount = 0;
    uint32_t garbageSeed = 12345u + static_cast<uint32_t>(id);
    bool disconnectSent = false;
    std::vector<uint16_t> sequence(static_cast<size_t>(m_opt.channels > 0 ? m_opt.channels : 1));
    uint64_t frame = 0;
    SimPicture picture;
    std::vector<uint8_t> samples;

    while (!m_stop.load()) {
        const uint32_t now = GetTickCount();
        const int wait = static_cast<int32_t>(nextFrame - now) > 0 ? nextFrame - now : 0;
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, wait) > 0) {
            uint8_t buf[4096];
            const ssize_t r = recv(fd, buf, sizeof buf, 0);
            if (r <= 0) {
                finish("peer closed");
                return;
            }
            incoming.insert(incoming.end(), buf, buf + r);
            HandleIncoming(id, incoming);
            continue;
        }
        const uint32_t elapsed = GetTickCount() - start;
        if (m_opt.dropAfterMs >= 0 && elapsed >= static_cast<uint32_t>(m_opt.dropAfterMs)) {
            finish("drop");
            return;
        }
        out.clear();
        if (m_opt.disconnectAfterMs >= 0 && !disconnectSent &&
            elapsed >= static_cast<uint32_t>(m_opt.disconnectAfterMs)) {
            AppendControl(out, kMsgDisconnect, {});
            disconnectSent = true;
            Log("{\"event\":\"disconnect-sent\",\"session\":" + sid + "}");
        }
        const bool stalled =
            m_opt.stallAfterMs >= 0 && elapsed >= static_cast<uint32_t>(m_opt.stallAfterMs);
        uint32_t videoSent = 0;
        uint32_t audioSent = 0;
        uint32_t statusSent = 0;
        if (m_opt.stream && !stalled && static_cast<int32_t>(GetTickCount() - nextFrame) >= 0) {
            for (size_t ch = 0; ch < sequence.size(); ++ch) {
                const bool key = m_opt.keyInterval <= 1 || frame % m_opt.keyInterval == 0;
                if (!pictures->NextPicture(static_cast<int>(ch), key, picture)) {
                    continue;
                }
                const uint16_t seq = sequence[ch]++;
                out.insert(out.end(), {0x00, 0x00, 0x01, 0xF8});
                out.push_back(static_cast<uint8_t>((picture.key ? 0x80 : 0) |
                                                   ((picture.quant & 0x0F) << 3) | (ch & 7)));
                out.push_back(static_cast<uint8_t>(seq >> 8));
                out.push_back(static_cast<uint8_t>(seq));
                out.insert(out.end(), picture.payload.begin(), picture.payload.end());
                ++videoSent;
            }
            if (m_opt.audio && pictures->NextAudio(m_opt.audioBytes, samples)) {
                out.insert(out.end(), {0x00, 0x00, 0x01, 0xFA});
                out.push_back(static_cast<uint8_t>(samples.size() >> 8));
                out.push_back(static_cast<uint8_t>(samples.size()));
                out.insert(out.end(), samples.begin(), samples.end());
                ++audioSent;
            }
            if (static_cast<int32_t>(GetTickCount() - nextStatus) >= 0) {
                ++statusCount;
                if (statusCount % 5 == 0) {
                    AppendControl(out, kMsgStatusValues,
                                  {static_cast<uint16_t>(statusCount), 1, 2, 3, 4});
                } else {
                    AppendControl(out, kMsgStatusValue, {static_cast<uint16_t>(statusCount)});
                }
                ++statusSent;
                nextStatus += static_cast<uint32_t>(m_opt.statusEveryMs);
            }
            if (m_opt.garbage) {
                // Stray bytes, a start code of no known kind and a control
                // message with an impossible length.
                AppendFiller(out, 61, garbageSeed);
                out.insert(out.end(), {0x00, 0x00, 0x01, 0xF3, 0x00, 0x00, 0x01, 0xFE, 'F', 'F',
                                       'F', 'F', '0', '0', '0', '7'});
            }
            ++frame;
        }
        nextFrame += period;
        if (static_cast<int32_t>(GetTickCount() - nextFrame) > 1000) {
            nextFrame = GetTickCount(); // fell far behind: do not burst to catch up
        }
        if (!out.empty() && !SendAll(fd, out.data(), out.size())) {
            finish("send failed");
            return;
        }
        std::lock_guard<std::mutex> lock(m_statsLock);
        m_stats.videoPackets += videoSent;
        m_stats.audioPackets += audioSent;
        m_stats.statusMessages += statusSent;
    }
    finish("stopped");
}

void CDvrSim::ServeDdns(int fd, int id) {
    const std::string sid = std::to_string(id);
    uint8_t req[kDdnsRequestSize];
    if (!ReadExactly(fd, req, sizeof req, kLoginReadTimeoutMs)) {
        Log("{\"event\":\"ddns\",\"session\":" + sid + ",\"request\":false}");
        close(fd);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_statsLock);
        ++m_stats.ddnsRequests;
    }
    const std::string name(reinterpret_cast<const char*>(req + 4),
                           strnlen(reinterpret_cast<const char*>(req + 4), kDdnsNameSize));
    uint8_t known[kDdnsRequestSize];
    BuildDdnsRequest(m_opt.name, known);
    const bool magicOk = GetLe32(req) == kDdnsMagic;
    const bool nameOk = magicOk && std::memcmp(req + 4, known + 4, kDdnsNameSize) == 0;
    Log("{\"event\":\"ddns\",\"session\":" + sid + ",\"name\":\"" + JsonEscape(name) +
        "\",\"known\":" + (nameOk ? "true" : "false") + "}");
    uint8_t answer[kDdnsAnswerSize] = {};
    bool send = true;
    switch (m_opt.ddnsReply) {
    case SimDdnsReply::None:
        send = false;
        break;
    case SimDdnsReply::Garbage:
        std::memcpy(answer, "NOT-DDNS!!", kDdnsAnswerSize);
        break;
    case SimDdnsReply::Answer:
        if (nameOk) {
            std::string host = m_opt.ddnsAnswer.empty() ? m_opt.bind : m_opt.ddnsAnswer;
            if (host == "0.0.0.0") {
                host = "127.0.0.1";
            }
            uint32_t addr = 0;
            ParseIpv4(host, addr);
            PutLe32(answer, kDdnsMagic);
            std::memcpy(answer + 4, &addr, 4); // already in network order
            PutLe16(answer + 8, m_port);
        } // an unknown name gets an answer without the magic
        break;
    }
    if (send) {
        SendAll(fd, answer, sizeof answer);
    }
    // Wait for the viewer to close first, so that it reads the whole answer.
    uint8_t buf[64];
    const uint32_t start = GetTickCount();
    const uint32_t bound = send ? 2000u : 30000u;
    while (!m_stop.load() && GetTickCount() - start < bound) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, kPollSliceMs) > 0 && recv(fd, buf, sizeof buf, 0) <= 0) {
            break;
        }
    }
    close(fd);
}

} // namespace tv
