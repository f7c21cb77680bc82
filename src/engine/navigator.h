#pragma once

// CNavigator: the engine's answers about places in the open recording that
// the main window asks for while playback goes on (where a time is, where a
// channel's picture of a second starts, what each channel shows at a place).
// It reads and decodes with a reader, a decoder and picture buffers of its
// own, so nothing it does moves the playback loop's reader or touches the
// loop's pictures.

#include "engine/channel_pictures.h"
#include "media/stream_file.h"
#include "platform/video_format.h"
#include "platform/win_types.h"
#include "video/video_decoder.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tv {

// One channel's picture at a place: planar 4:2:0, width x height.
struct NavPicture {
    int channel = -1;
    int width = 0;
    int height = 0;
    uint64_t offset = 0; // the packet it was decoded from
    SYSTEMTIME time{};   // that packet's block time, local standard time
    bool ahead = false;  // the channel's first key picture after the place
    std::vector<uint8_t> yuv;
};

// Where the recording reaches a time.
struct TimePlace {
    int64_t offset = -1; // the first block at or after the time; -1: none
    uint32_t found = 0;  // that block's time, seconds since 1970 UTC
    int64_t first = -1;  // the recording's earliest block time; -1: none
    long timeBias = 0;   // the time-zone bias local times were taken with
};

class CNavigator {
public:
    CNavigator();
    ~CNavigator();
    CNavigator(const CNavigator&) = delete;
    CNavigator& operator=(const CNavigator&) = delete;

    // 1 when some block of the source carries a valid header in its byte
    // order. The first blocks and a spread over the rest are looked at, so a
    // recording whose start is damaged still counts.
    static int HoldsRecording(const std::string& path, int diskMode, int videoFormat);

    // The recording the calls below are about; an empty path forgets it.
    void SetSource(const std::string& path, int diskMode, int videoFormat);

    // The channel mask of the first valid block header among the first 64
    // blocks; 0 when there is none.
    uint32_t FirstChannelMask();
    // 1 when the source could be searched; out->offset is -1 when nothing
    // was recorded at or after the time.
    int FindTime(uint32_t utc, TimePlace* out);
    int FindTime(const SYSTEMTIME& local, TimePlace* out);
    // The first picture of channel (alone or in a dual picture) that starts
    // at or after from in a block of the second given, or -1 when the second
    // ends, or 8 MB are read, before one.
    int64_t FindChannelPicture(int channel, uint64_t from, uint32_t second);
    // What a seek to offset shows of the channels in mask: each channel's
    // true picture at the first video packet at or after offset (that packet
    // itself when it is the channel's, else the channel's last picture
    // before it, decoded from its key picture). Channels with no true
    // picture there (nothing recorded of it yet) get the first key picture
    // playing on from there shows, within 8 MB (marked ahead); channels with
    // neither are left out. 0 when the place cannot be read or the work ran
    // past budgetMs (then out holds nothing, never a half-decoded picture);
    // budgetMs <= 0 sets no limit.
    int PicturesAt(uint64_t offset, uint16_t mask, int budgetMs, std::vector<NavPicture>* out);

private:
    // Opens the reader afresh, so that a recording still being written is
    // searched up to its present end.
    bool OpenReader();
    // Opens the reader and notes the recording's first time and the bias.
    bool BeginTimeSearch(TimePlace* out);
    // Makes true, at the last packet before target, every stream holding a
    // channel of mask, as the playback loop does after a jump. False when
    // the deadline passed.
    bool PrimeBefore(uint64_t target, uint32_t mask, int64_t deadlineUs);
    bool DecodeTrue(const uint8_t* packet, int length, const PictureInfo& info);
    // Decodes, reading on from from, the first key picture of each stream
    // that holds a channel of missing. False when the deadline passed.
    bool TakeFirstKeys(uint64_t from, uint32_t missing, int64_t deadlineUs);

    std::mutex m_lock;
    std::string m_path;
    int m_diskMode = 0;
    int m_format = VF_QZB2;
    CStreamFile m_file;
    CVideoDecoder m_decoder;
    CChannelPictures m_pictures;
    std::unique_ptr<uint8_t[]> m_packet;
    std::unique_ptr<uint8_t[]> m_scan;
    std::unique_ptr<uint8_t[]> m_half;
};

} // namespace tv
