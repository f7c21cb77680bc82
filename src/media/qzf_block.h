#pragma once

// The QZF block layout shared by recordings on the PC and recorder disks:
// 4096-byte blocks, each opened by an 8-byte header (time, channel mask,
// frame gap, checksum), with the frame packet stream running on across blocks.

#include "platform/video_format.h"
#include "platform/win_types.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tv {

constexpr int kQzfBlockSize = 4096;
constexpr int kQzfHeaderSize = 8;
constexpr int kQzfPayloadSize = kQzfBlockSize - kQzfHeaderSize; // 4088
constexpr int kMaxPacketSize = 0x20000;                         // 131,072

// "QZ_QZF" .. "QZ_QZA" for 0..6, nullptr otherwise.
const char* FormatName(int code);
// The code of a format name (exact, as the system spells it), -1 when unknown.
int FormatFromName(const char* name);

// Frame packet start codes: 00 00 01 xx.
constexpr uint8_t kVideoCode = 0xF8;
constexpr uint8_t kKeyVideoCode = 0xF9;
constexpr uint8_t kAudioCode = 0xFA; // audio channel n is 0xFA + n, n = 0..3
constexpr uint8_t kLastPacketCode = 0xFD;
inline bool IsPacketCode(uint8_t xx) {
    return xx >= kVideoCode && xx <= kLastPacketCode;
}
inline bool IsAudioCode(uint8_t xx) {
    return xx >= kAudioCode && xx <= kLastPacketCode;
}

// Checksum of header bytes 0..6. Not the textbook CRC-8: the table entry is
// XORed into the running value rather than replacing it, and recorders check it
// that way, so it must stay exactly so.
uint8_t QzfBlockChecksum(const uint8_t* bytes7);

struct QzfBlockHeader {
    uint32_t time = 0;        // seconds since 1970 UTC
    uint16_t channelMask = 0; // bit n: channel n present
    uint8_t frameGap = 0;     // 0..127
};

// Writes the 8 header bytes with a fresh checksum; big-endian fields for format 6.
void EncodeBlockHeader(const QzfBlockHeader& h, bool bigEndian, uint8_t out[kQzfHeaderSize]);
// Writes the calendar header of format 0: (year + 48) & 0xFF, month (bit 7 set
// for an audio block), day, hour, minute, second, frame gap, checksum.
void EncodeCalendarHeader(const SYSTEMTIME& local, bool audioBlock, uint8_t frameGap,
                          uint8_t out[kQzfHeaderSize]);
// Decodes the fields whatever the checksum says; result 1 when byte 7 matches
// the checksum of bytes 0..6 as stored, 0 otherwise.
int DecodeBlockHeader(const uint8_t in[kQzfHeaderSize], bool bigEndian, QzfBlockHeader* out);

// A header as the reader of a recording in the given video format sees it:
// format 0 blocks carry either the local calendar time of their writer, which
// comes back as seconds since 1970 UTC through the bias, or (when those bytes
// are no date and time) plain seconds; the other formats as DecodeBlockHeader.
// Result 1 when the checksum holds.
int DecodeRecordingHeader(const uint8_t in[kQzfHeaderSize], int videoFormat, long biasSeconds,
                          QzfBlockHeader* out);

// Swaps the two bytes of every 16-bit word (recorder disks hold them swapped).
// n must be even.
void SwapWords(uint8_t* data, size_t n);

// Block time as shown: local standard time (seconds minus the bias, UTC minus
// local), exact for 1970 to 2099, every fourth year a leap year.
SYSTEMTIME BlockTimeToLocal(uint32_t utcSeconds, long biasSeconds);
// The same as text, "YYYY-MM-DD hh:mm:ss", as the tools print and read it.
std::string FormatBlockTime(uint32_t utcSeconds, long biasSeconds);
// The inverse for the same calendar; may fall outside 32 bits, the caller decides.
int64_t LocalToBlockTime(const SYSTEMTIME& local, long biasSeconds);
// Reads "YYYY-MM-DD hh:mm:ss" (or with '/' between the date's parts), the
// form FormatBlockTime writes: fixed digits, nothing before or after, years
// 1970 to 2099 and only days that exist (2024-02-31 is refused, not rolled on
// into March). Result false leaves *out alone.
bool ParseBlockTime(const std::string& text, SYSTEMTIME* out);
// IsValidBlockTime, and the day exists in its month (every fourth year a leap year).
bool IsCalendarDate(const SYSTEMTIME& t);
// Year >= 1900, month 1..12, day 1..31, hour <= 23, minute <= 59, second <= 59.
bool IsValidBlockTime(const SYSTEMTIME& t);

} // namespace tv
