#include "net/net_client.h"

#include "net/net_message.h"
#include "platform/clock.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tv {

namespace {

std::atomic<int> g_mouseRemoteMode{kMouseRemoteHiddenCursor};

// Size of one receive while waiting for a login or dynamic-IP answer.
constexpr size_t kAnswerReceiveSize = 32768;
// Poll slice while waiting for an answer, so that a stop is seen at once.
constexpr int kAnswerPollMs = 50;
// Poll slice of the connect loop.
constexpr int kConnectPollMs = 100;
// One pass of the receive loop waits this long for data.
constexpr int kReceivePollMs = 4;

uint64_t ThreadCpuMicros() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

bool SetBlocking(int fd, bool blocking) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(fd, F_SETFL, wanted) == 0;
}

void CloseSocket(int& fd) {
    if (fd >= 0) {
        shutdown(fd, SHUT_RDWR);
        close(fd);
        fd = -1;
    }
}

} // namespace

void CNetMouseRecord::Record(const NetMouseEvent& event) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_event = event;
    m_pending = true;
}

int CNetMouseRecord::TakeMouseEvent(NetMouseEvent& event) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_pending) {
        return 0;
    }
    event = m_event;
    m_pending = false;
    return 1;
}

bool CNetMouseRecord::IsPending() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pending;
}

CNetClient::CNetClient()
    : m_receiveBuffer(new uint8_t[kReceiveSize]), m_demuxer(static_cast<IDemuxSink*>(this)) {
    m_videoQueue.Allocate(kVideoRecordSize, kQueueRecords);
    m_audioQueue.Allocate(kAudioRecordSize, kQueueRecords);
}

CNetClient::~CNetClient() {
    StopFull();
}

void CNetClient::SetMouseRemoteMode(int mode) {
    g_mouseRemoteMode.store(mode);
}

int CNetClient::GetMouseRemoteMode() {
    return g_mouseRemoteMode.load();
}

int CNetClient::Connect(const std::string& host, uint16_t port, const std::string& /*user*/,
                        const std::string& password) {
    if (HasThread()) {
        SetError("Already Connected");
        return 0;
    }
    uint32_t addr = 0;
    if (!ParseIpv4(host, addr)) {
        SetError("Invalid IP address");
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_errorLock);
    // What went wrong with an earlier session says nothing about this one.
    m_lastError.clear();
    m_dynamic = 0;
    m_host = host;
    m_port = port;
    m_password = password;
    m_addressReceived = 0;
    return 1;
}

int CNetClient::ConnectDynamic(const std::string& serverAddress, uint16_t serverPort,
                               const std::string& recorderName, const std::string& password) {
    if (HasThread()) {
        SetError("Already Connected");
        return 0;
    }
    uint32_t addr = 0;
    if (!ParseIpv4(serverAddress, addr)) {
        SetError("Invalid IP address");
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_errorLock);
    m_lastError.clear();
    m_dynamic = 1;
    m_ddnsAddress = serverAddress;
    m_ddnsPort = serverPort;
    m_recorderName = recorderName;
    m_password = password;
    m_addressReceived = 0;
    return 1;
}

int CNetClient::Disconnect() {
    return StopFull();
}

void CNetClient::SetTimeout(uint32_t ms) {
    m_timeout.store(ms == 0 ? kDefaultTimeout : ms);
}

std::string CNetClient::GetLastErrorText() const {
    std::lock_guard<std::mutex> lock(m_errorLock);
    return m_lastError;
}

std::string CNetClient::GetRecorderHost() const {
    std::lock_guard<std::mutex> lock(m_errorLock);
    return m_host;
}

uint16_t CNetClient::GetRecorderPort() const {
    std::lock_guard<std::mutex> lock(m_errorLock);
    return m_port;
}

void CNetClient::GetStatusValues(uint16_t values[5]) const {
    for (int i = 0; i < 5; ++i) {
        values[i] = m_statusValues[i].load();
    }
}

NetStats CNetClient::GetStats() const {
    NetStats s;
    s.bytesReceived = m_bytesReceived.load();
    s.videoPackets = m_videoPackets.load();
    s.videoDropped = m_videoDropped.load();
    s.audioPackets = m_audioPackets.load();
    s.audioDropped = m_audioDropped.load();
    s.controlMessages = m_controlMessages.load();
    s.logins = m_logins.load();
    s.mouseEventsSent = m_mouseEventsSent.load();
    s.threadCpuMicros = m_threadCpuMicros.load();
    s.bytesAfterAnswer = m_bytesAfterAnswer.load();
    return s;
}

void CNetClient::SetError(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_errorLock);
    m_lastError = text;
}

void CNetClient::SetSystemError(int err) {
    SetError(std::strerror(err));
}

void CNetClient::Post(int msg) {
    if (INetNotifier* n = m_notifier.load()) {
        n->PostNetMessage(msg, 0, 0);
    }
}

bool CNetClient::StopRequested() const {
    return m_stopEvent.IsSet() || m_running.load() == 0;
}

bool CNetClient::PauseOrStop(uint32_t ms) {
    if (m_running.load() == 0) {
        return true;
    }
    return m_stopEvent.Wait(ms);
}

int CNetClient::ConnectSocket(const std::string& host, uint16_t port, bool ddnsOptions) {
    uint32_t addr = 0;
    if (!ParseIpv4(host, addr)) {
        SetSystemError(EINVAL);
        return -1;
    }
    // The any address is no peer; a connect to it would reach this machine
    // and log in to whatever listens here on that port.
    if (addr == htonl(INADDR_ANY)) {
        SetSystemError(EADDRNOTAVAIL);
        return -1;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetSystemError(errno);
        return -1;
    }
    if (!SetBlocking(fd, false)) {
        SetSystemError(errno);
        CloseSocket(fd);
        return -1;
    }
    const uint32_t start = GetTickCount();
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr;
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (rc != 0 && errno != EINPROGRESS) {
        SetSystemError(errno);
        CloseSocket(fd);
        return -1;
    }
    if (ddnsOptions) {
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        const linger lg{1, 1};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }
    for (;;) {
        if (StopRequested()) {
            CloseSocket(fd);
            return -1;
        }
        pollfd pfd{fd, POLLIN | POLLOUT, 0};
        const int ready = poll(&pfd, 1, kConnectPollMs);
        if (ready < 0 && errno != EINTR) {
            SetSystemError(errno);
            CloseSocket(fd);
            return -1;
        }
        if (ready > 0) {
            int soError = 0;
            socklen_t len = sizeof soError;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) {
                SetSystemError(errno);
                CloseSocket(fd);
                return -1;
            }
            // A refused or unreachable peer also reports the socket ready.
            if (soError != 0) {
                SetSystemError(soError);
                CloseSocket(fd);
                return -1;
            }
            if (!SetBlocking(fd, true)) {
                SetSystemError(errno);
                CloseSocket(fd);
                return -1;
            }
            // A peer that stops reading must not hold a sender for ever.
            const uint32_t ms = m_timeout.load();
            const timeval tv{static_cast<time_t>(ms / 1000),
                             static_cast<suseconds_t>((ms % 1000) * 1000)};
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
            return fd;
        }
        if (GetTickCount() - start >= m_timeout.load()) {
            SetSystemError(ETIMEDOUT);
            CloseSocket(fd);
            return -1;
        }
    }
}

int CNetClient::ConnectRecorder() {
    {
        std::lock_guard<std::mutex> lock(m_sendLock);
        if (m_socket >= 0) {
            SetError("Already Connected");
            CloseSocket(m_socket);
            m_loggedIn.store(0);
            return 0;
        }
    }
    std::string host;
    uint16_t port = 0;
    {
        std::lock_guard<std::mutex> lock(m_errorLock);
        host = m_host;
        port = m_port;
    }
    const int fd = ConnectSocket(host, port, false);
    if (fd < 0) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_sendLock);
    m_socket = fd;
    return 1;
}

int CNetClient::WaitReadable(int fd, uint32_t since) {
    for (;;) {
        if (StopRequested()) {
            return -1;
        }
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, kAnswerPollMs);
        if (ready > 0) {
            return 1;
        }
        if (ready < 0 && errno != EINTR) {
            SetSystemError(errno);
            return -1;
        }
        if (GetTickCount() - since > m_timeout.load()) {
            return 0;
        }
    }
}

int CNetClient::Login() {
    uint8_t message[kLoginMessageSize];
    std::string password;
    {
        std::lock_guard<std::mutex> lock(m_errorLock);
        password = m_password;
    }
    if (!BuildLoginMessage(password, message)) {
        SetError("LOGIN ERROR");
        CloseRecorderSocket();
        return 0;
    }
    if (!SendWhole(message, sizeof message)) {
        SetSystemError(errno);
        CloseRecorderSocket();
        return 0;
    }
    const uint32_t sent = GetTickCount();
    uint8_t* buf = m_receiveBuffer.get();
    size_t have = 0;
    for (;;) {
        const int wait = WaitReadable(m_socket, sent);
        if (wait == 0) {
            SetError("No response from server.");
        }
        if (wait <= 0) {
            CloseRecorderSocket();
            return 0;
        }
        const ssize_t n = recv(m_socket, buf + have, kAnswerReceiveSize - have, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            if (n < 0) {
                SetSystemError(errno);
            } else {
                SetError("LOGIN ERROR");
            }
            CloseRecorderSocket();
            return 0;
        }
        have += static_cast<size_t>(n);
        const LoginAnswerResult r = TakeLoginAnswer(buf, have);
        switch (r.answer) {
        case LoginAnswer::NeedMore:
        case LoginAnswer::Pending:
            if (have >= kAnswerReceiveSize) {
                SetError("LOGIN ERROR");
                CloseRecorderSocket();
                return 0;
            }
            break;
        case LoginAnswer::Accepted:
            // The rest of this receive is not looked at.
            m_bytesAfterAnswer.fetch_add(have > kControlHeaderSize ? have - kControlHeaderSize : 0);
            m_loggedIn.store(1);
            m_logins.fetch_add(1);
            return 1;
        case LoginAnswer::Refused:
            SetError(RefusalText(r.reason));
            CloseRecorderSocket();
            return 0;
        case LoginAnswer::Error:
            SetError("LOGIN ERROR");
            CloseRecorderSocket();
            return 0;
        }
    }
}

int CNetClient::ConnectDdns() {
    if (m_ddnsSocket >= 0) {
        SetError("Already Connected");
        CloseDdnsSocket();
        return 0;
    }
    std::string address;
    uint16_t port = 0;
    {
        std::lock_guard<std::mutex> lock(m_errorLock);
        address = m_ddnsAddress;
        port = m_ddnsPort;
    }
    m_ddnsSocket = ConnectSocket(address, port, true);
    return m_ddnsSocket >= 0 ? 1 : 0;
}

int CNetClient::ExchangeDdns() {
    uint8_t request[kDdnsRequestSize];
    {
        std::lock_guard<std::mutex> lock(m_errorLock);
        BuildDdnsRequest(m_recorderName, request);
    }
    size_t off = 0;
    while (off < sizeof request) {
        const ssize_t n = send(m_ddnsSocket, request + off, sizeof request - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            SetSystemError(errno);
            CloseDdnsSocket();
            return 0;
        }
        off += static_cast<size_t>(n);
    }
    const uint32_t sent = GetTickCount();
    uint8_t* buf = m_receiveBuffer.get();
    size_t have = 0;
    for (;;) {
        const int wait = WaitReadable(m_ddnsSocket, sent);
        if (wait == 0) {
            SetError("No response from server.");
        }
        if (wait <= 0) {
            CloseDdnsSocket();
            return 0;
        }
        const ssize_t n = recv(m_ddnsSocket, buf + have, kAnswerReceiveSize - have, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            if (n < 0) {
                SetSystemError(errno);
            } else {
                SetError("DDNS LOGIN ERROR");
            }
            CloseDdnsSocket();
            return 0;
        }
        have += static_cast<size_t>(n);
        std::string host;
        uint16_t port = 0;
        const DdnsAnswer a = ParseDdnsAnswer(buf, have, host, port);
        if (a == DdnsAnswer::NeedMore) {
            continue;
        }
        CloseDdnsSocket();
        if (a == DdnsAnswer::Error) {
            SetError("DDNS LOGIN ERROR");
            return 0;
        }
        std::lock_guard<std::mutex> lock(m_errorLock);
        m_host = host;
        m_port = port;
        m_addressReceived = 1;
        return 1;
    }
}

bool CNetClient::SendWhole(const uint8_t* p, size_t n) {
    std::lock_guard<std::mutex> lock(m_sendLock);
    if (m_socket < 0) {
        errno = ENOTCONN;
        return false;
    }
    size_t off = 0;
    while (off < n) {
        const ssize_t sent = send(m_socket, p + off, n - off, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            const int err = errno;
            // Half a message would corrupt the recorder's framing: drop the
            // connection; the client's thread sees it and connects again.
            shutdown(m_socket, SHUT_RDWR);
            errno = err;
            return false;
        }
        off += static_cast<size_t>(sent);
    }
    return true;
}

int CNetClient::SendRemoteKey(int code) {
    if (!m_loggedIn.load()) {
        return 0;
    }
    uint8_t message[kRemoteKeyMessageSize];
    BuildRemoteKeyMessage(code, message);
    return SendWhole(message, sizeof message) ? 1 : 0;
}

void CNetClient::SendMouseEvent(const NetMouseEvent& event) {
    const int mode = g_mouseRemoteMode.load();
    if (mode == kMouseRemoteOff || !m_loggedIn.load()) {
        return;
    }
    const int code = mode == kMouseRemoteShownCursor ? event.code + 0x100 : event.code;
    uint8_t message[kMouseMessageSize];
    BuildMouseMessage(code, event.width, event.height, event.x, event.y, message);
    if (SendWhole(message, sizeof message)) {
        m_mouseEventsSent.fetch_add(1);
    }
}

void CNetClient::SendLogout() {
    uint8_t message[kLogoutMessageSize];
    BuildLogoutMessage(message);
    SendWhole(message, sizeof message);
}

void CNetClient::CloseRecorderSocket() {
    std::lock_guard<std::mutex> lock(m_sendLock);
    CloseSocket(m_socket);
    m_loggedIn.store(0);
}

void CNetClient::CloseDdnsSocket() {
    CloseSocket(m_ddnsSocket);
}

void CNetClient::OnVideoPacket(const FrameRecord& packet) {
    if (m_videoQueue.Put(packet)) {
        m_videoPackets.fetch_add(1);
    } else {
        m_videoDropped.fetch_add(1);
    }
}

void CNetClient::OnAudioPacket(const FrameRecord& packet) {
    if (m_audioQueue.Put(packet)) {
        m_audioPackets.fetch_add(1);
    } else {
        m_audioDropped.fetch_add(1);
    }
}

void CNetClient::OnControlMessage(const uint8_t* message, uint32_t length) {
    m_controlMessages.fetch_add(1);
    switch (GetHex16(message + 8)) {
    case kMsgStatusValue:
        if (length >= 16) {
            m_statusValue.store(GetHex16(message + 12));
        }
        Post(kMsgRecorderStatus);
        break;
    case kMsgStatusValues:
        for (uint32_t i = 0; i < 5 && 16 + 4 * i <= length; ++i) {
            m_statusValues[i].store(GetHex16(message + 12 + 4 * i));
        }
        Post(kMsgRecorderStatus);
        break;
    case kMsgDisconnect:
        Post(kMsgDisconnected);
        break;
    default:
        break;
    }
}

void CNetClient::ReceivePass(uint32_t& lastReceive, bool& noResponsePosted) {
    INetMouseSource* mouse = m_mouseSource.load();
    if (mouse && static_cast<int32_t>(TimeGetTime() - m_nextMouseTime) >= 0) {
        NetMouseEvent event;
        if (mouse->TakeMouseEvent(event)) {
            SendMouseEvent(event);
            m_nextMouseTime = TimeGetTime() + kMouseIntervalMs;
        }
    }
    if (GetTickCount() - lastReceive > m_timeout.load()) {
        if (m_loggedIn.load() && m_socket >= 0) {
            CloseRecorderSocket();
            PauseOrStop(kReconnectPauseMs);
            return;
        }
        if (!noResponsePosted) {
            Post(kMsgNoResponse);
            noResponsePosted = true;
        }
    }
    if (m_socket < 0) {
        PauseOrStop(kReceivePollMs);
        return;
    }
    pollfd pfd{m_socket, POLLIN, 0};
    const int ready = poll(&pfd, 1, kReceivePollMs);
    if (ready <= 0) {
        return;
    }
    const ssize_t n = recv(m_socket, m_receiveBuffer.get(), kReceiveSize, 0);
    if (n > 0) {
        m_bytesReceived.fetch_add(static_cast<uint64_t>(n));
        m_demuxer.Feed(m_receiveBuffer.get(), static_cast<size_t>(n));
        m_threadCpuMicros.store(ThreadCpuMicros());
        lastReceive = GetTickCount();
        noResponsePosted = false;
        return;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    // The recorder closed the connection or it broke: connect again as after a
    // time-out rather than spin until the time-out passes.
    CloseRecorderSocket();
    PauseOrStop(kReconnectPauseMs);
}

int CNetClient::Run() {
    uint32_t lastReceive = GetTickCount();
    bool noResponsePosted = false;
    m_nextMouseTime = TimeGetTime();
    while (m_running.load()) {
        if (StopRequested()) {
            if (m_loggedIn.load() && m_socket >= 0) {
                SendLogout();
            }
            break;
        }
        int dynamic = 0;
        {
            std::lock_guard<std::mutex> lock(m_errorLock);
            dynamic = m_dynamic && !m_addressReceived;
        }
        if (dynamic) {
            m_state.store(kNetDdnsConnecting);
            const uint32_t start = GetTickCount();
            if (!ConnectDdns()) {
                m_state.store(kNetIdle);
                // A refused connection fails at once; keep to one attempt per time-out.
                const uint32_t spent = GetTickCount() - start;
                const uint32_t timeout = m_timeout.load();
                PauseOrStop(spent < timeout ? timeout - spent : 0);
                continue;
            }
            m_state.store(kNetDdnsAsking);
            if (!ExchangeDdns()) {
                m_state.store(kNetIdle);
                if (!StopRequested()) {
                    Post(kMsgLoginRefused);
                }
                break;
            }
            m_state.store(kNetDdnsReceived);
            lastReceive = GetTickCount();
        }
        if (!m_loggedIn.load()) {
            m_state.store(kNetConnecting);
            const uint32_t start = GetTickCount();
            if (!ConnectRecorder()) {
                m_state.store(kNetIdle);
                const uint32_t spent = GetTickCount() - start;
                const uint32_t timeout = m_timeout.load();
                PauseOrStop(spent < timeout ? timeout - spent : 0);
                continue;
            }
            m_state.store(kNetLoggingIn);
            if (!Login()) {
                m_state.store(kNetIdle);
                if (!StopRequested()) {
                    Post(kMsgLoginRefused);
                }
                break;
            }
            m_state.store(kNetLoggedIn);
            m_demuxer.Reset();
            lastReceive = GetTickCount();
            noResponsePosted = false;
        }
        ReceivePass(lastReceive, noResponsePosted);
    }
    CloseRecorderSocket();
    CloseDdnsSocket();
    {
        std::lock_guard<std::mutex> lock(m_errorLock);
        m_addressReceived = 0;
    }
    m_state.store(kNetIdle);
    m_threadCpuMicros.store(ThreadCpuMicros());
    return 1;
}

} // namespace tv
