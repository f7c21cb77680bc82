#pragma once

// CStreamFile: the reader of recordings, from a QZF file or a recorder's disk
// (disk mode: every 16-bit word swapped, sized as a block device). One call
// hands over one frame packet, reading forward or backward; every block header
// is checked, and a block whose checksum fails is skipped whole.

#include "media/qzf_block.h"
#include "platform/win_types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tv {

// How Open reads its source: a QZF file as written, or a recorder disk (or
// an image of one), whose every 16-bit word is swapped.
constexpr int kFileMode = 0;
constexpr int kDiskMode = 1;

class CStreamFile {
public:
    CStreamFile();
    virtual ~CStreamFile();
    CStreamFile(const CStreamFile&) = delete;
    CStreamFile& operator=(const CStreamFile&) = delete;

    // Read-only; a regular file may be opened in disk mode too (a disk image).
    int Open(const std::string& path, int diskMode);
    void Close();
    int SetFormat(int videoFormat);

    // dst holds at least kMaxPacketSize bytes. Result the packet's length
    // (video: the whole packet; audio: its samples), 0 when none was read.
    int ReadForward(uint8_t* dst);
    int ReadBackward(uint8_t* dst);
    int SetSeekTarget(uint64_t offset);
    // The first video packet that starts at or after the seek target, from
    // the target's block on (a block's start: its first video packet).
    int ReadAtSeekTarget(uint8_t* dst);
    int SetPosition(uint64_t offset);
    // Places the reader so that the next ReadBackward delivers the packet
    // that ends where the packet starting at packetOffset begins.
    int SetPositionBefore(uint64_t packetOffset);

    uint64_t GetSize() const { return m_size; }
    uint64_t GetPosition() const { return m_position; }
    int IsOpen() const { return m_fd >= 0 ? 1 : 0; }
    const std::string& GetPath() const { return m_path; }
    int GetBlockTime(SYSTEMTIME* out) const;
    // Seconds since 1970 UTC of the last block read; 0 before any.
    uint32_t GetBlockTimeUtc() const { return m_blockTime; }
    int GetChannel() const { return m_channel; }
    int IsAudio() const { return m_isAudio; }
    int GetFrameGap() const { return m_frameGap; }
    int GetChannelMask() const { return m_channelMask; }
    int GetAudioChannelMask() const { return m_audioChannelMask; }
    int GetLength() const { return m_length; }
    // The last packet delivered: the file offset of the first byte of its
    // start code, and the time and frame gap of the block that start code
    // begins in (a packet's own block, whichever way it was read).
    uint64_t GetPacketOffset() const { return m_packetOffset; }
    uint32_t GetPacketTimeUtc() const { return m_packetTime; }
    int GetPacketFrameGap() const { return m_packetGap; }
    // The packet's block time as local standard time, as GetBlockTime gives it.
    SYSTEMTIME GetPacketTime() const;
    int GetFormat() const { return m_format; }
    int IsDiskMode() const { return m_diskMode; }

    // Kept for the engine's wrapper around ReadForward.
    int GetAudioSeen() const { return m_audioSeen; }
    void SetAudioSeen(int seen) { m_audioSeen = seen; }
    void ClearIsAudio() { m_isAudio = 0; }

    // Copies whole blocks covering [start, end] into a new QZF file in file
    // byte order. Refuses the open recording itself as destination; on a read
    // or write failure removes what it wrote. Result 1 or 0; on 0,
    // GetCopyError says why in words.
    int CopyRange(uint64_t start, uint64_t end, const std::string& path);
    const std::string& GetCopyError() const { return m_copyError; }
    // The errno of the last block read that failed, 0 when the last one
    // worked: tells a disk that cannot be read from a block that is corrupt.
    int GetReadError() const { return m_readError; }
    // After a forward read that failed at the end of the whole blocks: the
    // offset of a packet begun there and never ended (a recording cut off,
    // not closed with its end mark), or kNoCutPacket.
    static constexpr uint64_t kNoCutPacket = ~0ull;
    uint64_t GetCutPacketOffset() const { return m_cutPacket; }

    // The header of block n without moving the reader: 1 valid, 0 checksum
    // failed or unreadable, -1 past the last whole block.
    int ReadBlockHeaderAt(uint64_t block, QzfBlockHeader* h);
    uint64_t GetBlockCount() const { return m_size / kQzfBlockSize; }

    // A place where the recording reaches a time: the block's offset and time.
    struct TimeMatch {
        int64_t offset = -1;
        uint32_t time = 0;
    };
    // Time search on recordings whose block times need not rise from start to
    // end: a recorder disk used as a ring (newest blocks first), unwritten or
    // bad stretches, a clock that was set back. The first match is the block
    // with the earliest time at or after utcSeconds (equal times: the one
    // recorded first). The file is taken as stretches of steadily rising
    // time, and every other stretch that spans utcSeconds adds its first block
    // at or after it: more than one match means the time was recorded more
    // than once (a clock change). None when everything lies before the time.
    std::vector<TimeMatch> FindTimeAll(uint32_t utcSeconds);
    // The first of FindTimeAll: its byte offset, -1 when there is none.
    int64_t FindTime(uint32_t utcSeconds, uint32_t* foundTime = nullptr);
    // The same for a local standard time as shown by GetBlockTime.
    int64_t FindTime(const SYSTEMTIME& local, uint32_t* foundTime = nullptr);
    long GetTimeZoneBias() const { return m_bias; }

    // What the recording holds of [fromUtc, toUtc): one part per stretch of
    // rising time that has a block in it, in file order. A time recorded twice
    // (a clock set back) gives two parts; a ring gives its oldest and newest.
    struct TimeSpan {
        int64_t stretchStart = 0; // the stretch's first block
        int64_t start = 0;        // its first block at or after fromUtc
        int64_t end = 0;          // its first block at or after toUtc, else stretchEnd
        int64_t stretchEnd = 0;   // just past the stretch's last readable block
        uint32_t time = 0;        // the time of the block at start
        uint32_t stretchTime = 0; // the time of the stretch's first block
        bool reachesTo = false;   // end is a block at or after toUtc
    };
    std::vector<TimeSpan> FindTimeRange(uint32_t fromUtc, uint32_t toUtc);

private:
    enum BlockStatus { kBlockOk, kBlockBad, kBlockEnd };
    const uint8_t* LoadBlock(uint64_t blockStart, bool forward, BlockStatus* st);
    BlockStatus EnterBlock(uint64_t blockStart, bool forward);
    void ResetPacket();
    int FailRead(BlockStatus st, uint64_t blockStart, bool forward);
    // The packet being collected is the end mark a closed recording ends with.
    bool OpenPacketIsEndMark() const;
    bool StartForward(uint64_t codePos, uint8_t code, uint8_t* dst, int* result);
    bool StartBackward(uint64_t codePos, uint8_t code, uint8_t* dst, int* result);
    void NoteOpenForward(uint64_t codeEnd);
    void AppendForward(const uint8_t* p, size_t n);
    void AppendBackward(const uint8_t* p, size_t n);
    int ProbeHeaderAt(uint64_t block, QzfBlockHeader* h);
    // The time of a block whose header holds and was written (time not 0).
    bool ProbeBlockTime(uint64_t block, uint32_t* time);
    uint64_t NextDataBlock(uint64_t block);

    std::string m_path;
    std::string m_copyError;
    int m_readError = 0;
    uint64_t m_size = 0;
    uint64_t m_position = 0;
    int m_audioSeen = 0;
    int m_frameGap = 0;
    int m_isAudio = 0;
    int m_audioChannelMask = 0;
    int m_channelMask = 0;
    int m_length = 0;
    int m_channel = 0;
    int m_count = 0;
    uint64_t m_total = 0; // the packet's true length so far, beyond the cap too
    uint32_t m_blockTime = 0;
    uint32_t m_prevBlockTime = 0; // the block entered before the current one
    int m_prevFrameGap = 0;
    uint64_t m_openOffset = 0; // the packet being collected
    uint32_t m_openTime = 0;
    int m_openGap = 0;
    uint64_t m_packetOffset = 0; // the packet last delivered
    uint32_t m_packetTime = 0;
    int m_packetGap = 0;
    bool m_haveBlockTime = false;
    int m_bigEndian = 0;
    int m_fd = -1;
    uint64_t m_seekTarget = 0;
    uint32_t m_register = 0xFFFFFFFF;
    uint64_t m_history = ~0ull; // the last eight bytes scanned backward
    std::vector<uint8_t> m_forward;
    std::vector<uint8_t> m_backward;
    int m_inPacket = 0;
    uint64_t m_cutPacket = kNoCutPacket;
    int m_complete = 0;
    int m_direction = 0;
    int m_format = VF_QZB2;
    int m_diskMode = 0;
    bool m_regularFile = false; // may grow while open; a device keeps its size
    long m_bias = 0;

    // Read-ahead window of whole blocks, already in file byte order.
    std::vector<uint8_t> m_cache;
    uint64_t m_cacheStart = 0;
    uint64_t m_cacheLen = 0;
    const uint8_t* m_block = nullptr;
};

} // namespace tv
