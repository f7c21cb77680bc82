#pragma once

// CQzfBlockWriter: the one way QZF data is written (stream recorder, sample
// maker, recorder simulator). The caller hands it stream bytes; the writer
// lays them into 4096-byte blocks and puts an 8-byte block header at every
// block boundary, so no stream byte ever lands on a header position. A packet
// may run across any number of boundaries; a reader joins the stream bytes of
// consecutive blocks back into one sequence.
//
// Header fields apply to the blocks to come: a block's header is made when its
// first stream byte arrives, from the fields set at that moment.
//
// Output goes to a file descriptor, to an in-memory vector, or both. Whole
// blocks are written as they fill; Flush() also writes the filled part of the
// current block (the recorder calls it after every packet), Pad() fills the
// current block with zero bytes and writes it. After a failed write every
// later call returns 0 and GetErrorText() says what happened; what reached the
// output before the failure is left as it is.
//
// Typical use:
//   CQzfBlockWriter w;
//   w.SetFormat(4);
//   w.AttachFd(fd);
//   w.SetTime(time(nullptr)); w.SetChannelMask(0x0001); w.SetFrameGap(1);
//   w.WritePacket(0xF9, payload, n);          // 00 00 01 F9 + payload
//   w.WriteAudioPacket(0, samples, m);        // 00 00 01 FA FF FF samples
//   w.Finish();                               // end mark, whole block

#include "media/qzf_block.h"
#include "platform/win_types.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace tv {

class CQzfBlockWriter {
public:
    CQzfBlockWriter();
    ~CQzfBlockWriter();
    CQzfBlockWriter(const CQzfBlockWriter&) = delete;
    CQzfBlockWriter& operator=(const CQzfBlockWriter&) = delete;

    // Video format code 0..6: 6 writes big-endian headers, 0 the calendar form
    // (local date and time bytes, month bit 7 for audio blocks), the others
    // little-endian seconds since 1970.
    void SetFormat(int videoFormat);
    int GetFormat() const { return m_format; }
    // Swap every 16-bit word of each block on output, as on a recorder's disk.
    void SetDiskByteOrder(bool swapWords) { m_swap = swapWords; }
    // Bias used between local and UTC time (UTC minus local standard time);
    // taken from the platform at construction.
    void SetTimeZoneBias(long biasSeconds) { m_bias = biasSeconds; }

    // Header fields for the blocks to come.
    void SetTime(time_t utcSeconds);
    void SetTime(const SYSTEMTIME& local); // local standard time
    void SetChannelMask(uint16_t mask) { m_mask = mask; }
    void SetFrameGap(int gap) { m_gap = static_cast<uint8_t>(gap & 0x7F); }
    // Format 0 only: marks the blocks to come as audio blocks (month bit 7).
    void SetAudioBlock(bool audio) { m_audioBlock = audio; }

    // Output. The descriptor is not owned and must be open for writing; writes
    // go to its current offset. The vector, if given, receives every byte too.
    void AttachFd(int fd) { m_fd = fd; }
    int GetFd() const { return m_fd; }
    // Creates (or truncates) a file and owns its descriptor; result 1 or 0.
    int OpenFile(const std::string& path);
    void AttachVector(std::vector<uint8_t>* out) { m_vec = out; }
    // Flushes, then closes an owned descriptor; result 0 when anything failed.
    int Close();

    // Stream bytes; result 1, or 0 after a failure (nothing more is written).
    int Write(const uint8_t* data, size_t n);
    // 00 00 01 code followed by the payload.
    int WritePacket(uint8_t code, const uint8_t* payload, size_t n);
    // 00 00 01 (FA + channel), two bytes FF FF (skipped by readers), samples.
    int WriteAudioPacket(int channel, const uint8_t* samples, size_t n);
    // Writes the filled part of the current block (headers already in place).
    int Flush();
    // Fills the current block with zero bytes and writes it; nothing to do at
    // a block boundary.
    int Pad();

    // Ends a recording: writes an end mark (00 00 01 FA and its two bytes, a
    // packet with no samples) so that readers see where the last packet ends,
    // pads to a whole block and flushes.
    int Finish();

    // Bytes produced so far, headers and padding included (file length once
    // flushed).
    uint64_t GetBytesWritten() const { return m_blockStart + m_fill; }
    bool AtBlockBoundary() const { return m_fill == 0; }
    bool HasFailed() const { return m_failed; }
    const std::string& GetErrorText() const { return m_error; }

private:
    void StartBlock();
    int Emit(size_t end);
    int WriteFd(const uint8_t* p, size_t n);

    uint8_t m_block[kQzfBlockSize];
    uint8_t m_swapped[kQzfBlockSize];
    size_t m_fill = 0;    // bytes of the current block made so far
    size_t m_emitted = 0; // bytes of the current block already output
    uint64_t m_blockStart = 0;
    int m_format = VF_QZB2;
    bool m_swap = false;
    long m_bias = 0;
    uint32_t m_time = 0;
    uint16_t m_mask = 0x0001;
    uint8_t m_gap = 1;
    bool m_audioBlock = false;
    int m_fd = -1;
    bool m_ownsFd = false;
    std::vector<uint8_t>* m_vec = nullptr;
    bool m_failed = false;
    std::string m_error;
};

} // namespace tv
