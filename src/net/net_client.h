#pragma once

// The session with a recorder: optional dynamic-IP look-up, connection, login,
// the live stream split into two frame queues, status messages, remote keys,
// mouse remote control, reconnection and logout. The thread body runs the
// whole life of a connection; remote keys come from the user-interface thread.

#include "net/stream_demuxer.h"
#include "platform/window_messages.h"
#include "worker/frame_queue.h"
#include "worker/worker_thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace tv {

// Mouse remote modes: off, or mouse events sent to the recorder with its
// cursor hidden, or shown (the codes then carry 0x100).
constexpr int kMouseRemoteOff = 0;
constexpr int kMouseRemoteHiddenCursor = 1;
constexpr int kMouseRemoteShownCursor = 2;

// Network states read by GetNetworkState.
enum NetState {
    kNetIdle = 0,
    kNetConnecting = 1,
    kNetLoggingIn = 2,
    kNetLoggedIn = 3,
    kNetDdnsConnecting = 4,
    kNetDdnsAsking = 5,
    kNetDdnsReceived = 6,
};

// The application turns these into posted events for the main window. Called
// on the client's thread.
class INetNotifier {
public:
    virtual ~INetNotifier() = default;
    virtual void PostNetMessage(int msg, intptr_t wParam, intptr_t lParam) = 0;
};

// One mouse event of the video window, in its client coordinates.
struct NetMouseEvent {
    int code =
        0; // 0 move/release, 1 left down or drag, 2 right drag, 3 left and 4 right double-click
    int x = 0;
    int y = 0;
    int width = 0; // client width and height
    int height = 0;
};

// Where the client takes the video window's latest mouse event from.
class INetMouseSource {
public:
    virtual ~INetMouseSource() = default;
    // 1 and the event when one is pending (it is then no longer pending), else 0.
    virtual int TakeMouseEvent(NetMouseEvent& event) = 0;
};

// A ready-made mouse record for the video window: the user-interface thread
// records, the client's thread takes, under a small lock so that the client
// never sends a half-written event.
class CNetMouseRecord : public INetMouseSource {
public:
    void Record(const NetMouseEvent& event);
    int TakeMouseEvent(NetMouseEvent& event) override;
    bool IsPending() const;

private:
    mutable std::mutex m_lock;
    NetMouseEvent m_event;
    bool m_pending = false;
};

// Counters of the client's thread, for tests and the load benchmark.
struct NetStats {
    uint64_t bytesReceived = 0;
    uint64_t videoPackets = 0; // queued
    uint64_t videoDropped = 0; // the queue was full
    uint64_t audioPackets = 0;
    uint64_t audioDropped = 0;
    uint64_t controlMessages = 0;
    uint64_t logins = 0;
    uint64_t mouseEventsSent = 0;
    uint64_t threadCpuMicros = 0;  // CPU time of the client's thread, updated as data arrives
    uint64_t bytesAfterAnswer = 0; // stream bytes that shared a receive with the login answer
};

class CNetClient : public CWorkerThread, private IDemuxSink {
public:
    static constexpr uint32_t kDefaultTimeout = 5000;
    static constexpr uint32_t kVideoRecordSize = 131072;
    static constexpr uint32_t kAudioRecordSize = 4096;
    static constexpr uint32_t kQueueRecords = 16;
    static constexpr uint32_t kReceiveSize = 131072;
    static constexpr uint32_t kMouseIntervalMs = 250;
    static constexpr uint32_t kReconnectPauseMs = 1000;

    CNetClient();
    ~CNetClient() override;

    // Store the session settings for the thread (started by the engine with
    // Start). Refused with "Already Connected" while the thread runs, and with
    // "Invalid IP address" for a host that is not a dotted IPv4 address.
    int Connect(const std::string& host, uint16_t port, const std::string& user,
                const std::string& password);
    int ConnectDynamic(const std::string& serverAddress, uint16_t serverPort,
                       const std::string& recorderName, const std::string& password);
    // Signals the thread to stop (it logs out when logged in) and waits for it.
    int Disconnect();
    // 1 when the whole 16-byte message was sent; 0 when not logged in or the
    // send failed (the connection is then dropped and made again).
    int SendRemoteKey(int code);

    // A time-out of 0 stands for the default: with no time at all the client
    // could neither connect nor keep a connection.
    void SetTimeout(uint32_t ms);
    uint32_t GetTimeout() const { return m_timeout.load(); }
    int GetNetworkState() const { return m_state.load(); }
    int IsConnected() const { return m_loggedIn.load(); }
    std::string GetLastErrorText() const;

    // Status values of the recorder's messages 7 and 8.
    uint16_t GetStatusValue() const { return m_statusValue.load(); }
    void GetStatusValues(uint16_t values[5]) const;

    // Both are used from the client's thread: they must outlive it.
    void SetNotifier(INetNotifier* notifier) { m_notifier.store(notifier); }
    void SetMouseSource(INetMouseSource* source) { m_mouseSource.store(source); }

    // Process-wide mouse remote mode, one of kMouseRemote*.
    static void SetMouseRemoteMode(int mode);
    static int GetMouseRemoteMode();

    CFrameQueue& GetVideoQueue() { return m_videoQueue; }
    CFrameQueue& GetAudioQueue() { return m_audioQueue; }
    IFrameSource* GetVideoSource() { return &m_videoQueue; }
    IFrameSource* GetAudioSource() { return &m_audioQueue; }

    // The recorder's address as used by the thread (after a dynamic-IP answer,
    // the address received). Meant for the thread's owner once it has ended.
    std::string GetRecorderHost() const;
    uint16_t GetRecorderPort() const;

    NetStats GetStats() const;

    int Run() override;

private:
    void OnVideoPacket(const FrameRecord& packet) override;
    void OnAudioPacket(const FrameRecord& packet) override;
    void OnControlMessage(const uint8_t* message, uint32_t length) override;

    bool StopRequested() const;
    void SetError(const std::string& text);
    void SetSystemError(int err);
    void Post(int msg);

    // Connects a fresh socket to host:port; -1 on failure (error text set).
    int ConnectSocket(const std::string& host, uint16_t port, bool ddnsOptions);
    int ConnectRecorder();
    int Login();
    int ConnectDdns();
    int ExchangeDdns();
    // Waits for readability; 1 readable, 0 time-out since `since`, -1 stop or error.
    int WaitReadable(int fd, uint32_t since);
    // Sends all bytes on the recorder socket under the send lock; a partial send
    // is completed or the connection is dropped.
    bool SendWhole(const uint8_t* p, size_t n);
    void SendMouseEvent(const NetMouseEvent& event);
    void SendLogout();
    void CloseRecorderSocket();
    void CloseDdnsSocket();
    // Waits on the stop event; true when a stop was requested.
    bool PauseOrStop(uint32_t ms);
    void ReceivePass(uint32_t& lastReceive, bool& noResponsePosted);

    // Configuration, written by Connect/ConnectDynamic before the thread starts.
    std::string m_host;
    uint16_t m_port = 0;
    std::string m_password;
    int m_dynamic = 0;
    std::string m_ddnsAddress;
    std::string m_recorderName;
    uint16_t m_ddnsPort = 0;
    int m_addressReceived = 0;

    std::atomic<int> m_loggedIn{0};
    std::atomic<int> m_state{kNetIdle};
    std::atomic<uint32_t> m_timeout{kDefaultTimeout};
    std::atomic<INetNotifier*> m_notifier{nullptr};
    std::atomic<INetMouseSource*> m_mouseSource{nullptr};

    // The recorder socket is closed only under the send lock, so a remote key
    // sent from the user-interface thread never lands on a closed descriptor.
    mutable std::mutex m_sendLock;
    int m_socket = -1;
    int m_ddnsSocket = -1;

    mutable std::mutex m_errorLock;
    std::string m_lastError;

    std::atomic<uint16_t> m_statusValue{0};
    std::atomic<uint16_t> m_statusValues[5] = {};

    std::unique_ptr<uint8_t[]> m_receiveBuffer;
    CStreamDemuxer m_demuxer;
    CFrameQueue m_videoQueue{"Default"};
    CFrameQueue m_audioQueue{"Default"};
    uint32_t m_nextMouseTime = 0;

    std::atomic<uint64_t> m_bytesReceived{0};
    std::atomic<uint64_t> m_videoPackets{0};
    std::atomic<uint64_t> m_videoDropped{0};
    std::atomic<uint64_t> m_audioPackets{0};
    std::atomic<uint64_t> m_audioDropped{0};
    std::atomic<uint64_t> m_controlMessages{0};
    std::atomic<uint64_t> m_logins{0};
    std::atomic<uint64_t> m_mouseEventsSent{0};
    std::atomic<uint64_t> m_threadCpuMicros{0};
    std::atomic<uint64_t> m_bytesAfterAnswer{0};
};

} // namespace tv
