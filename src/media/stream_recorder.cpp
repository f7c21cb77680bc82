#include "media/stream_recorder.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace tv {

namespace {

// Often enough that a power cut loses about a second; each sync costs a
// journal commit, so not after every packet.
constexpr auto kSyncInterval = std::chrono::milliseconds(500);

uint64_t WholeBlocks(uint64_t bytes) {
    return bytes / kQzfBlockSize * kQzfBlockSize;
}

} // namespace

// Shared by the recording and its sync thread; the thread keeps it alive
// until it has ended.
struct CStreamRecorder::SyncState {
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    uint64_t written = 0; // bytes handed to the file so far
    std::atomic<uint64_t> durable{0};
    std::atomic<int> error{0}; // errno of a failed sync
};

CStreamRecorder::CStreamRecorder() = default;

CStreamRecorder::~CStreamRecorder() {
    Close();
}

int CStreamRecorder::Configure(int inputKind, int videoFormat, int slotCount) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_inputKind = inputKind;
    m_format = videoFormat;
    m_slots = slotCount;
    return 1;
}

void CStreamRecorder::SyncLoop(std::shared_ptr<SyncState> s, int fd) {
    std::unique_lock<std::mutex> lock(s->lock);
    for (;;) {
        s->wake.wait_for(lock, kSyncInterval, [&] { return s->stop; });
        const bool last = s->stop;
        const uint64_t target = s->written;
        // A part block reads as the end of the file, so it is not worth a sync
        // of its own; the last sync takes the padded file whole.
        if (s->error.load() == 0 &&
            (last ? target > s->durable.load() : WholeBlocks(target) > s->durable.load())) {
            lock.unlock();
            int rc;
            do {
                rc = ::fdatasync(fd);
            } while (rc != 0 && errno == EINTR);
            const int err = rc == 0 ? 0 : errno;
            lock.lock();
            if (err != 0) {
                s->error.store(err);
            } else {
                s->durable.store(last ? target : WholeBlocks(target));
            }
        }
        if (last) {
            break;
        }
    }
    lock.unlock();
    ::close(fd);
}

void CStreamRecorder::EndSync(std::shared_ptr<SyncState> s, std::thread t) {
    if (!t.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(s->lock);
        s->stop = true;
    }
    s->wake.notify_all();
    t.join();
}

int CStreamRecorder::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_open) {
        return 0;
    }
    m_started = 0;
    m_haveSequence = false;
    m_error.clear();
    m_lastBytes = 0;
    m_lastDurable = 0;
    m_writer = std::make_unique<CQzfBlockWriter>();
    m_writer->SetFormat(m_format);
    m_writer->SetChannelMask(0x0001);
    if (!m_writer->OpenFile(path)) {
        m_error = m_writer->GetErrorText();
        m_writer.reset();
        return 0;
    }
    // The sync thread has a descriptor of its own, so that closing the
    // recording never pulls one from under a sync in progress.
    const int syncFd = ::fcntl(m_writer->GetFd(), F_DUPFD_CLOEXEC, 0);
    if (syncFd < 0) {
        m_error = path + ": " + std::strerror(errno);
        m_writer->Close();
        m_writer.reset();
        return 0;
    }
    m_sync = std::make_shared<SyncState>();
    try {
        m_syncThread = std::thread(SyncLoop, m_sync, syncFd);
    } catch (const std::system_error& e) {
        // Recording with nothing to put it on the disk would lose it all to
        // a power cut: refuse instead.
        m_error = path + ": " + e.what();
        ::close(syncFd);
        m_sync.reset();
        m_writer->Close();
        m_writer.reset();
        return 0;
    }
    m_path = path;
    m_open = 1;
    return 1;
}

void CStreamRecorder::Close() {
    std::shared_ptr<SyncState> sync;
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_open) {
            return;
        }
        // Every format ends on a whole block, or a reader would take the last
        // part for the end of the file.
        const bool empty = m_writer->GetBytesWritten() == 0;
        if ((!empty && !m_writer->Finish()) || !m_writer->Close()) {
            m_error = "Recording stopped: " + m_path + ": " + m_writer->GetErrorText();
        }
        m_lastBytes = m_writer->GetBytesWritten();
        {
            std::lock_guard<std::mutex> syncLock(m_sync->lock);
            m_sync->written = m_lastBytes;
        }
        m_writer.reset();
        m_open = 0;
        sync = std::move(m_sync);
        thread = std::move(m_syncThread);
    }
    // The last sync runs without the lock: a new recording may start meanwhile.
    EndSync(sync, std::move(thread));
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_open) {
        return;
    }
    m_lastDurable = sync->durable.load();
    if (sync->error.load() != 0 && m_error.empty()) {
        m_error = "Recording stopped: " + m_path + ": " + std::strerror(sync->error.load());
    }
}

int CStreamRecorder::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_open;
}

std::string CStreamRecorder::GetErrorText() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_error;
}

uint64_t CStreamRecorder::GetBytesWritten() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_writer ? m_writer->GetBytesWritten() : m_lastBytes;
}

uint64_t CStreamRecorder::GetDurableBytes() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_sync ? m_sync->durable.load() : m_lastDurable;
}

time_t CStreamRecorder::Now() const {
    return m_fixedTime != 0 ? m_fixedTime : time(nullptr);
}

bool CStreamRecorder::NoteWritten() {
    if (m_sync->error.load() != 0) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_sync->lock);
        m_sync->written = m_writer->GetBytesWritten();
    }
    return true;
}

void CStreamRecorder::StopOnFailure(const std::string& why) {
    m_error = "Recording stopped: " + m_path + ": " + why;
    m_lastBytes = m_writer->GetBytesWritten();
    m_writer->Close();
    m_writer.reset();
    m_open = 0;
    // Rare and already on the failing path: the wait for the thread's end
    // is accepted here.
    std::shared_ptr<SyncState> sync = std::move(m_sync);
    EndSync(sync, std::move(m_syncThread));
    m_lastDurable = sync->durable.load();
}

int CStreamRecorder::WriteVideo(uint8_t* p, int n) {
    std::lock_guard<std::mutex> lock(m_lock);
    // Bytes 4 to 6 carry the key flag and the sequence number.
    if (!m_open || p == nullptr || n < 7) {
        return 0;
    }
    if (p[4] & 0x80) {
        m_started = 1;
    }
    m_prevSeq = m_curSeq;
    m_curSeq = static_cast<uint16_t>(p[5] * 256 + p[6]);
    // The first packet of a recording is measured against nothing: a gap to
    // the last packet of an earlier recording (or to 0) would hold its first
    // picture on screen for up to 128 frame periods when it is played.
    const int d = m_haveSequence ? static_cast<uint16_t>(m_curSeq - m_prevSeq) : 1;
    m_haveSequence = true;
    m_frameGap = d <= 1 ? 1 : d;
    if (m_format == VF_QZE || m_format == VF_QZB || m_format == VF_QZB2 || m_format == VF_QZB3 ||
        m_format == VF_QZA) {
        if (p[4] & 0x80) {
            p[3] = kKeyVideoCode;
        }
        p[4] = static_cast<uint8_t>(p[4] * 2);
    }
    if (m_slots == 16) {
        p[4] = static_cast<uint8_t>(p[4] & 0xF0);
        p[5] = static_cast<uint8_t>(p[5] & 0x07);
    }
    if (!m_started) {
        return 0;
    }
    m_writer->SetTime(Now());
    m_writer->SetFrameGap(m_frameGap);
    m_writer->SetAudioBlock(false);
    if (!m_writer->Write(p, static_cast<size_t>(n)) || !m_writer->Flush()) {
        StopOnFailure(m_writer->GetErrorText());
        return 0;
    }
    if (!NoteWritten()) {
        StopOnFailure(std::strerror(m_sync->error.load()));
        return 0;
    }
    return 1;
}

int CStreamRecorder::WriteAudio(const uint8_t* s, int n) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_open || !m_started || n < 0 || (s == nullptr && n > 0)) {
        return 0;
    }
    m_writer->SetTime(Now());
    m_writer->SetFrameGap(m_frameGap);
    m_writer->SetAudioBlock(true);
    if (!m_writer->WriteAudioPacket(0, s, static_cast<size_t>(n)) || !m_writer->Flush()) {
        StopOnFailure(m_writer->GetErrorText());
        return 0;
    }
    if (!NoteWritten()) {
        StopOnFailure(std::strerror(m_sync->error.load()));
        return 0;
    }
    return 1;
}

} // namespace tv
