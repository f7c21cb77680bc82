// A loopback "recorder" that misbehaves on purpose, for the tests of the
// network client and of the windows that show its pictures: it runs a script
// on every connection it accepts, each on its own thread, until the test ends.
#pragma once

#include "net/net_message.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tv::test {

using Bytes = std::vector<uint8_t>;

// Sessions that have ended are joined as new ones arrive, so a test may open
// thousands of them.
class HostilePeer {
public:
    explicit HostilePeer(std::function<void(int fd, const std::atomic<bool>& done)> script)
        : m_script(std::move(script)) {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listen, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        listen(m_listen, 128);
        socklen_t len = sizeof sa;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&sa), &len);
        m_port = ntohs(sa.sin_port);
        m_acceptor = std::thread([this] { AcceptLoop(); });
    }
    ~HostilePeer() {
        m_done.store(true);
        m_acceptor.join();
        close(m_listen);
        std::lock_guard<std::mutex> lock(m_lock);
        for (auto& t : m_sessions) {
            t.thread.join();
        }
    }
    uint16_t Port() const { return m_port; }
    int Accepted() const { return m_accepted.load(); }

private:
    void AcceptLoop() {
        while (!m_done.load()) {
            pollfd pfd{m_listen, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0) {
                continue;
            }
            const int fd = accept(m_listen, nullptr, nullptr);
            if (fd < 0) {
                continue;
            }
            m_accepted.fetch_add(1);
            std::lock_guard<std::mutex> lock(m_lock);
            Reap();
            auto finished = std::make_shared<std::atomic<bool>>(false);
            m_sessions.push_back({std::thread([this, fd, finished] {
                                      m_script(fd, m_done);
                                      close(fd);
                                      finished->store(true);
                                  }),
                                  finished});
        }
    }
    // Joins the sessions that have ended, so thousands of them need not wait
    // for the end of the test. Called with m_lock held.
    void Reap() {
        for (auto it = m_sessions.begin(); it != m_sessions.end();) {
            if (it->finished->load()) {
                it->thread.join();
                it = m_sessions.erase(it);
            } else {
                ++it;
            }
        }
    }

    struct Session {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    std::function<void(int, const std::atomic<bool>&)> m_script;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_done{false};
    std::atomic<int> m_accepted{0};
    std::mutex m_lock;
    std::list<Session> m_sessions;
    std::thread m_acceptor;
};

inline bool ReadLogin(int fd) {
    uint8_t buf[kLoginMessageSize];
    size_t have = 0;
    while (have < sizeof buf) {
        const ssize_t r = recv(fd, buf + have, sizeof buf - have, 0);
        if (r <= 0) {
            return false;
        }
        have += static_cast<size_t>(r);
    }
    return true;
}

inline bool SendAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t r = send(fd, p, n, MSG_NOSIGNAL);
        if (r <= 0) {
            return false;
        }
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

inline bool SendAll(int fd, const Bytes& b) {
    return SendAll(fd, b.data(), b.size());
}

inline Bytes Msg(const std::string& fields) {
    const std::string all = std::string("\0\0\1\xFE", 4) + fields;
    return Bytes(all.begin(), all.end());
}

inline const Bytes kAccept = Msg("000C0003");

// Holds the connection until the client closes it or the test ends.
inline void HoldUntilClosed(int fd, const std::atomic<bool>& done) {
    char buf[256];
    while (!done.load()) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 20) > 0 && recv(fd, buf, sizeof buf, 0) <= 0) {
            return;
        }
    }
}

// Sends bytes that never form a start code until the client goes away.
inline void Flood(int fd, const std::atomic<bool>& done, const Bytes& chunk) {
    while (!done.load()) {
        pollfd pfd{fd, POLLOUT, 0};
        if (poll(&pfd, 1, 20) <= 0) {
            continue;
        }
        if (send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
            errno != EAGAIN) {
            return;
        }
    }
}

inline int OpenFdCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) {
            ++n;
        }
        closedir(d);
    }
    return n;
}

inline long ResidentKb() {
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

inline int ThreadCount() {
    int n = -2; // . and ..
    if (DIR* d = opendir("/proc/self/task")) {
        while (readdir(d) != nullptr) {
            ++n;
        }
        closedir(d);
    }
    return n;
}

} // namespace tv::test
