#pragma once

// A recorder and dynamic-IP service on TCP for tests and demonstrations: it
// checks logins, streams live pictures and sound in the recorder's live
// layout, embeds status messages, logs what the viewer sends as JSON lines,
// and can misbehave on request (stall, drop, disconnect, refuse, garbage).

#include "platform/audio_format.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tv {

enum class SimLoginReply {
    Accept,  // type 3 (or a refusal when the password or client count says so)
    Refuse,  // type 2 with refuseReason
    Refuse4, // type 4 with refuseReason
    Garbage, // bytes that are no control message
    None,    // never answers
};

enum class SimDdnsReply { Answer, Garbage, None };

struct DvrSimOptions {
    std::string bind = "127.0.0.1";
    uint16_t port = 0; // 0: any free port
    std::string password;
    int maxClients = 4;
    std::string source; // QZF file whose video and audio are streamed
    int channels = 1;
    int fps = 25;
    int keyInterval = 25;     // every n-th picture of a channel is a key picture
    int pictureBytes = 12000; // size of a made-up picture (--plain, or no encoder built in)
    bool plain = false;       // made-up pictures even when the encoder is built in
    int quant = 4;            // quantiser scale of encoded pictures (1 finest .. 14)
    int cycle = 25;           // encoded pictures per channel before the animation repeats
    // The audio format code of the tone, kAudioUpcm8 .. kAudioMlaw.
    int audioFormat = kAudioUpcm8;
    int sourceFormat = -1; // video format code of --source; -1 the reader's default
    bool audio = true;
    int audioBytes = 320; // samples per audio packet (8 kHz, 8-bit: 40 ms)
    int statusEveryMs = 1000;
    bool stream = true;

    SimLoginReply loginReply = SimLoginReply::Accept;
    int refuseReason = 2;
    int pendingMs = -1;         // >= 0: answer "pending" first, the real answer that much later
    int stallAfterMs = -1;      // stop sending, keep the connection
    int dropAfterMs = -1;       // close the connection
    int disconnectAfterMs = -1; // send the disconnect message
    bool garbage = false;       // random bytes between packets

    uint16_t ddnsPort = 0; // listened on only when ddns is set
    bool ddns = false;
    std::string name;       // the recorder name the dynamic-IP service knows
    std::string ddnsAnswer; // address given out; default the bind address
    SimDdnsReply ddnsReply = SimDdnsReply::Answer;
};

struct DvrSimStats {
    uint64_t connections = 0;
    uint64_t logins = 0; // accepted
    uint64_t videoPackets = 0;
    uint64_t audioPackets = 0;
    uint64_t statusMessages = 0;
    uint64_t bytesSent = 0;
    uint64_t keys = 0;
    uint64_t mouseEvents = 0;
    uint64_t logouts = 0;
    uint64_t ddnsRequests = 0;
};

class CPictureCache;

class CDvrSim {
public:
    explicit CDvrSim(DvrSimOptions options);
    ~CDvrSim();
    CDvrSim(const CDvrSim&) = delete;
    CDvrSim& operator=(const CDvrSim&) = delete;

    // Binds the listeners and starts serving; 0 with GetError on failure.
    int Start();
    // Encodes every picture of the animation cycle now instead of on first use,
    // so that a load run measures sending, not encoding.
    void PreparePictures();
    void Stop();

    uint16_t GetPort() const { return m_port; }
    uint16_t GetDdnsPort() const { return m_ddnsPort; }
    const std::string& GetError() const { return m_error; }
    // What kind of pictures are sent: "synth", "file" or "plain".
    const char* GetPictureKind() const;

    // Every event as a JSON line, in order; also written to the log file if set.
    std::vector<std::string> GetLog() const;
    // Events logged so far are written to it at once, then every new one.
    void SetLogFile(FILE* f);
    DvrSimStats GetStats() const;
    int ActiveSessions() const { return m_activeSessions.load(); }

private:
    void AcceptLoop(int listenFd, bool ddns);
    void ServeRecorder(int fd, int id);
    void ServeDdns(int fd, int id);
    // Reads until n bytes are in buf or the peer closes, stop or timeoutMs; true when complete.
    bool ReadExactly(int fd, uint8_t* buf, size_t n, int timeoutMs);
    bool SendAll(int fd, const uint8_t* p, size_t n);
    void HandleIncoming(int id, std::vector<uint8_t>& pending);
    void Log(const std::string& line);
    int Listen(const std::string& address, uint16_t port, uint16_t& boundPort);

    DvrSimOptions m_opt;
    std::atomic<bool> m_stop{false};
    int m_listenFd = -1;
    int m_ddnsFd = -1;
    uint16_t m_port = 0;
    uint16_t m_ddnsPort = 0;
    std::string m_error;
    std::vector<std::thread> m_acceptThreads;
    struct SessionThread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void ReapSessions(bool all);

    std::mutex m_sessionLock;
    std::vector<SessionThread> m_sessions;
    std::atomic<int> m_activeSessions{0};
    std::atomic<int> m_nextId{1};

    mutable std::mutex m_logLock;
    std::vector<std::string> m_log;
    FILE* m_logFile = nullptr;

    mutable std::mutex m_statsLock;
    DvrSimStats m_stats;
    std::unique_ptr<CPictureCache> m_cache;
};

// Parses dvrsim's command line into options. Returns -1 to go on; otherwise
// the exit status, after the help text (0) or one line saying what is wrong (2).
int ParseDvrSimArgs(int argc, char** argv, DvrSimOptions& opt);

} // namespace tv
