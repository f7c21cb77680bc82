#pragma once

// CStreamRecorder: writes the live stream into a QZF file during network live
// view. Recording starts at the first key picture; every packet goes through
// one block writer, so headers sit at every 4096-byte boundary and a reader
// gets back each packet as written. Open and Close come from the user's
// thread, writes from the engine's: one lock serialises them.
//
// A thread of the recording's own puts the file's whole blocks on the disk
// (fdatasync) twice a second, so a power cut costs about a second of
// recording, and the thread that receives the stream never waits for the
// disk. A write or sync failure stops the recording with the reason.

#include "media/block_writer.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tv {

class CStreamRecorder {
public:
    CStreamRecorder();
    virtual ~CStreamRecorder();
    CStreamRecorder(const CStreamRecorder&) = delete;
    CStreamRecorder& operator=(const CStreamRecorder&) = delete;

    int Configure(int inputKind, int videoFormat, int slotCount);
    // Creates (truncates) the file; result 0 when already open or it cannot be created.
    int Open(const std::string& path);
    // Ends the recording on a whole block.
    void Close();
    int IsOpen() const;
    // A whole video packet (start code first). May change bytes 3 to 5 of it
    // (the stored form). Result 1 when written.
    int WriteVideo(uint8_t* packet, int length);
    // The samples of an audio packet, without its start code.
    int WriteAudio(const uint8_t* samples, int length);

    // Why the last Open failed or why a recording stopped; empty otherwise.
    std::string GetErrorText() const;
    uint64_t GetBytesWritten() const;
    // Whole blocks known to be on the disk, from the start of the file; the
    // whole file once Close has returned.
    uint64_t GetDurableBytes() const;
    int GetFrameGap() const { return m_frameGap; }
    // Header time for tests and tools; 0 goes back to the clock.
    void SetFixedTime(time_t t) { m_fixedTime = t; }

private:
    struct SyncState;
    static void SyncLoop(std::shared_ptr<SyncState> state, int fd);
    time_t Now() const;
    void StopOnFailure(const std::string& why);
    // Hands the written length to the sync thread; false when a sync failed.
    bool NoteWritten();
    // Ends the sync thread after a last sync; call without m_lock.
    static void EndSync(std::shared_ptr<SyncState> state, std::thread thread);

    mutable std::mutex m_lock;
    int m_inputKind = 2;
    int m_format = VF_QZE;
    int m_slots = 8;
    uint16_t m_prevSeq = 0;
    uint16_t m_curSeq = 0;
    bool m_haveSequence = false; // a packet of this recording has been seen
    int m_frameGap = 1;
    int m_open = 0;
    int m_started = 0;
    std::string m_path;
    std::string m_error;
    std::unique_ptr<CQzfBlockWriter> m_writer;
    uint64_t m_lastBytes = 0;
    uint64_t m_lastDurable = 0;
    time_t m_fixedTime = 0;
    std::shared_ptr<SyncState> m_sync;
    std::thread m_syncThread;
};

} // namespace tv
