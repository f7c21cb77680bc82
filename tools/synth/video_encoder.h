#pragma once

#include "platform/video_format.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tv::synth {

class CBitWriter;

// Header fields of one coded picture. The layout written depends on format
// (the video format codes 0..6 of the decoder's SetMode).
struct PictureHeader {
    int format = VF_QZB2;
    int channel = 0;      // 0..15; format 0 carries 0..3, format 2 always 0
    int quantScale = 4;   // 1..14: 1 is finest, 14 coarsest
    bool key = true;      // key picture (every macroblock) or update picture
    bool dual = false;    // format 5: two channels side by side
    int rightChannel = 0; // format 5, 0..15
    bool leftAbsent = false;
    bool rightAbsent = false;
    uint16_t format2Value = 0; // format 2: bytes 5-6
};

// Per-macroblock choice for update pictures: kMbSkip leaves the macroblock as
// the decoder has it; kMbCoded | cbp codes both chroma blocks and the luma
// blocks whose bit is set in cbp (bit 0 top-left, 1 top-right, 2 bottom-left,
// 3 bottom-right).
constexpr uint8_t kMbSkip = 0;
constexpr uint8_t kMbCoded = 0x10;

// Encoder of the recorder's intra-only DCT pictures, the inverse of
// CVideoDecoder. Pictures are planar YUV 4:2:0, 640 wide and 224 or 272
// lines. The packet it writes never holds 00 00 01 except at its own start
// code and its slice starts, so every reader finds exactly the packet's slices.
class CVideoEncoder {
public:
    static constexpr int kWidth = 640;
    static constexpr int kMbCols = kWidth / 16;

    // Encodes one picture into out (replaced). plan (mbRows x 40 entries, row
    // by row) chooses the macroblocks of an update picture; nullptr codes them
    // all. Returns the packet length, 0 when the parameters are unusable
    // (lines not 224 or 272, scale outside 1..14, format outside 0..6).
    size_t EncodePicture(const uint8_t* yuv, int lines, const PictureHeader& header,
                         const uint8_t* plan, std::vector<uint8_t>& out);

    // Bytes of one picture of the given lines.
    static size_t PictureBytes(int lines) { return size_t(kWidth) * lines * 3 / 2; }

    // Builds an update plan: a macroblock is coded when any of its samples
    // differs from prev by more than threshold, and of its luma blocks those
    // that differ. Returns the number of coded macroblocks.
    static int PlanUpdate(const uint8_t* cur, const uint8_t* prev, int lines, int threshold,
                          uint8_t* plan);

    // Count of 00 00 01 sequences at offset 5 or later in a packet.
    static int CountStartCodes(const uint8_t* packet, size_t length);

private:
    void EncodeBlock(const uint8_t* src, int pitch, int quantScale, CBitWriter& bw);
};

// Keeps the last source picture of each channel so that a stream of pictures
// is coded as key pictures at the caller's choice and update pictures between.
class CChannelEncoder {
public:
    explicit CChannelEncoder(int lines = 224);
    // Encodes the channel's next picture; an update picture codes only what
    // changed since the channel's previous picture. The first picture of a
    // channel is always a key picture.
    size_t Encode(const uint8_t* yuv, const PictureHeader& header, std::vector<uint8_t>& out);
    int Lines() const { return m_lines; }

private:
    int m_lines;
    CVideoEncoder m_encoder;
    std::vector<uint8_t> m_prev[16];
    std::vector<uint8_t> m_plan;
};

// Places two half-width pictures (320 x lines each, planar 4:2:0) side by
// side into one 640-wide picture for a dual picture; an absent half (nullptr)
// is mid grey.
void ComposeDual(const uint8_t* left, const uint8_t* right, int lines, uint8_t* out);

} // namespace tv::synth
