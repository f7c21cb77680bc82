#pragma once

// CActivityScanner: builds the activity index of a recording from what the
// stream already codes, at the speed of reading. Blocks are read in large
// runs and their headers checked (bad and unwritten blocks end the packet in
// progress and are skipped); video packets are parsed only as far as the DC
// term of each luma block. An update picture codes only the macroblocks that
// changed, so its coded blocks and their DC terms say where and how much the
// picture moved; a key picture is compared at block resolution from its DC
// terms only when the channel has no update pictures to go by. A block counts
// as changed in a second when its mean moved by more than sensor noise or
// flicker can move it.

#include "review/activity_index.h"
#include "video/video_decoder.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tv {

class CBitReader;
class CSourceFile;

struct ActivityScanOptions {
    int format = VF_QZB2; // video format code, "QZ_QZB2"
    bool disk = false;    // recorder disk (or an image of one): 16-bit words swapped
};

class CActivityScanner {
public:
    // Called now and then from the scanning thread with the bytes done and the total.
    using Progress = std::function<void(uint64_t done, uint64_t total)>;

    // A block's mean (its DC term, 0..255) must move by more than this.
    static constexpr int kDcDelta = 10;
    // A channel whose pictures jump in time by more than this starts afresh,
    // so that a recording resumed hours later is not one big change.
    static constexpr uint32_t kMaxTimeJump = 5;
    static constexpr int kNoisyStride = 3;
    // A block of time t followed by one of time t + k, k at most this, covers
    // the seconds between: a block is written when it is full, so a quiet
    // stretch leaves seconds in which no block begins. A longer jump, a
    // clock set back or an unreadable block between is a real gap.
    static constexpr uint32_t kMaxBlockSpan = kMaxTimeJump;

    CActivityScanner();
    CActivityScanner(const CActivityScanner&) = delete;
    CActivityScanner& operator=(const CActivityScanner&) = delete;

    // Scans the recording from byte `from` (rounded down to a block) to its end
    // and merges what it finds into *index (whose seconds before `from` are
    // kept), or up to `to`. Result 1 when the end was reached; 0 on an unreadable source or
    // when cancelled, with *error saying which (*index then holds what was
    // found so far).
    int Scan(const std::string& path, const ActivityScanOptions& options, uint64_t from,
             CActivityIndex* index, const std::atomic<bool>* cancel, const Progress& progress,
             std::string* error, uint64_t to = ~0ull);

    // Continues the scan whose state RestoreState took, from where it ended
    // to the recording's end; results as for Scan.
    int Resume(const std::string& path, const ActivityScanOptions& options, CActivityIndex* index,
               const std::atomic<bool>* cancel, const Progress& progress, std::string* error);

    // The state after the last block scanned, before the recording's end was
    // taken as the end of its last packet and second: a recording that grows
    // is scanned on from there exactly as a scan of the whole would go.
    void SaveState(std::vector<uint8_t>* out) const;
    // False (and the scanner unusable until the next Scan) when p is no state
    // of a scan with these options in this time zone.
    bool RestoreState(const uint8_t* p, size_t n, const ActivityScanOptions& options);
    // The index as Scan ends with it, from the restored state.
    void GetIndex(CActivityIndex* out);
    // Where the scan ended (the next block to read).
    uint64_t GetScannedBytes() const { return m_next; }
    // The largest state a recording of this many bytes can give.
    static uint64_t MaxStateBytes(uint64_t recordingBytes);

    // The seconds found so far, in time order; callable from the progress callback.
    void Snapshot(CActivityIndex* out) const;

private:
    struct Mark {
        size_t pos;      // in the window
        uint32_t time;   // of the block
        uint64_t offset; // of the block
    };
    // Seconds (from, to) exclusive covered by the block at offset.
    struct Span {
        uint32_t from;
        uint32_t to;
        uint64_t offset;
    };
    struct Channel {
        bool valid = false;
        bool haveSecond = false;
        bool sawUpdate = false;
        int cols = 0;
        int rows = 0;
        uint32_t second = 0;
        int changed = 0;
        // A channel whose update pictures code nearly everything (sensor
        // noise) is followed one row in kNoisyStride per picture, in turn.
        int stride = 1;
        int phase = 0;
        std::vector<uint8_t> cur, ref, flag;
    };
    struct Target {
        Channel* ch;
        int index;    // channel number
        int colStart; // first macroblock column of this channel in the picture
        bool parse;
    };

    void Configure(const ActivityScanOptions& options);
    void Reset(const CActivityIndex& base);
    int Run(CSourceFile& src, uint64_t size, const std::atomic<bool>* cancel,
            const Progress& progress, std::string* error);
    void Finish(CActivityIndex* index, bool complete);
    size_t EntryFor(uint32_t time, uint64_t offset);
    void Block(const uint8_t* block, uint64_t offset);
    void BadBlock();
    void ScanWindow();
    void Compact();
    void Picture(const uint8_t* p, size_t n, uint32_t time);
    bool BeginChannel(Channel& st, int index, uint32_t time, bool key, int cols, int rows);
    void Finalise(Channel& st, int index);
    bool ParseSlices(const uint8_t* p, size_t n, Target* targets, int count, int mbCols,
                     int mbRows);

    CVideoDecoder m_decoder;
    int m_format = VF_QZB2;
    bool m_diskOrder = false;
    long m_bias = 0;
    std::vector<ActivitySecond> m_entries; // file order
    std::unordered_map<uint32_t, size_t> m_byTime;
    std::vector<Span> m_spans;
    bool m_haveBlock = false;
    uint32_t m_blockTime = 0;
    size_t m_blockEntry = 0;
    uint64_t m_blockOffset = 0; // of the last good block
    uint64_t m_next = 0;
    Channel m_channels[kActivityChannels];

    std::vector<uint8_t> m_window;
    std::vector<Mark> m_marks;
    size_t m_markAt = 0;
    size_t m_scan = 2;  // next place a start code's 01 byte may be
    long m_packet = -1; // start of the packet in progress, -1 for none
};

} // namespace tv
