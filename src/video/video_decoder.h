#pragma once

#include "platform/video_format.h"
#include "video/idct.h"

#include <cstddef>
#include <cstdint>

namespace tv {

class CBitReader;

// "QZ_QZF" ... "QZ_QZA" for 0..6, nullptr otherwise.
const char* VideoFormatName(int code);
// The code of a format name, -1 if unknown.
int VideoFormatFromName(const char* name);

// Header parse and decoder of the recorder's intra-only DCT pictures into
// planar YUV 4:2:0 (W x H luma, then W/2 x H/2 Cb and Cr, no padding).
//
// Calling order: SetMode, then per video packet ParseHeader and, only when it
// accepted the packet, Decode; then the getters. All state belongs to this
// object, so several decoders (the engine's, a tool's, a test's) may live in
// one process; one object is used by one thread at a time.
class CVideoDecoder {
public:
    static constexpr int kMaxSlices = 20;
    static constexpr int kMaxWidth = 640;
    static constexpr int kMaxHeight = 272;
    // Enough for the largest picture the parse accepts.
    static constexpr size_t kMaxPictureBytes = size_t(kMaxWidth) * kMaxHeight * 3 / 2;

    CVideoDecoder();
    virtual ~CVideoDecoder();
    CVideoDecoder(const CVideoDecoder&) = delete;
    CVideoDecoder& operator=(const CVideoDecoder&) = delete;

    // Selects the header layout (0..6), clears the quantiser scale, picture size
    // and code-2 value, and picks the transform variant for the processor (or
    // the forced one). An unknown code is refused (0) and changes nothing.
    int SetMode(int videoFormat);

    // Parses the picture header and scans for slice start codes. Returns the
    // offset at which the scan stopped (at least 5) when the packet is a
    // decodable picture (14 or 17 slices), 0 when it is refused.
    int ParseHeader(const uint8_t* packet, int length);

    // Decodes the packet last given to ParseHeader into picture, which must
    // hold GetWidth() x GetHeight() x 3 / 2 bytes; parts of the picture that
    // an update picture does not code are left as they were. Returns 1 when
    // every slice decoded, 0 on refusal or a bitstream error (blocks decoded
    // before the error stay in the picture).
    int Decode(const uint8_t* packet, int length, uint8_t* picture);
    // As above, refusing (0, nothing written) when capacity is too small.
    int Decode(const uint8_t* packet, int length, uint8_t* picture, size_t capacity);

    int GetChannel() const { return m_channel; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    // Bytes of the decoded picture of the last parse.
    size_t GetPictureBytes() const { return size_t(m_width) * m_height * 3 / 2; }

    // Dual pictures (format code 5): two channels side by side, each half as wide.
    int IsDualPicture() const { return m_dualPicture; }
    int GetLeftChannel() const { return m_leftChannel; }
    int GetRightChannel() const { return m_rightChannel; }
    int IsLeftAbsent() const { return m_leftAbsent; }
    int IsRightAbsent() const { return m_rightAbsent; }

    int GetMode() const { return m_videoFormat; }
    int IsKeyPicture() const { return m_keyPicture; }
    int GetQuantScale() const { return m_quantScale; }
    int GetFormat2Value() const { return m_format2Value; }
    unsigned GetSliceCount() const { return m_sliceCount; }
    // Offset of slice i's start code in the packet, 0 past the table.
    unsigned GetSliceOffset(int i) const { return i >= 0 && i < kMaxSlices ? m_sliceTable[i] : 0; }

    // Forces a transform variant (IdctVariantId) for tests and benchmarks, or
    // with -1 returns to the processor's choice; takes effect at once. Returns
    // the variant now in use.
    int ForceVariant(int variant);
    int GetVariant() const { return m_dsp.variant; }

private:
    void SelectVariant();
    void BuildQuantTable();
    // One slice; false on a bitstream error. kClamp: the quantiser scale is
    // too large for short codes to stay inside the coefficient range.
    template <bool kClamp>
    bool DecodeSlice(const uint8_t* packet, size_t length, size_t offset, uint8_t* picture);
    // Coefficients of one block into m_block, which is all zero but for
    // block[0] before, and all zero after a bitstream error. Returns the scan position of the last
    // coefficient (0: DC only), -1 on a bitstream error.
    template <bool kClamp> int DecodeBlock(CBitReader& br);

    int m_videoFormat = 0;
    uint32_t m_scanState = 0xFFFFFFFFu;
    int m_channel = 0;
    int m_format2Value = 0;
    int m_leftChannel = 0;
    int m_rightChannel = 0;
    int m_dualPicture = 0;
    int m_leftAbsent = 0;
    int m_rightAbsent = 0;

    // Picture state of the last parse.
    int m_quantScale = 0;
    int m_keyPicture = 0;
    unsigned m_sliceCount = 0;
    unsigned m_sliceTable[kMaxSlices] = {};
    int m_width = 0;
    int m_height = 0;

    // By scan position: quantiser scale x matrix, and the raster position.
    struct ScanEntry {
        int32_t quant;
        int32_t pos;
    };
    ScanEntry m_scan[64] = {};
    int m_cachedQuantScale = 0;
    alignas(32) int16_t m_block[64] = {};
    int m_forcedVariant = -1;
    DspContext m_dsp;
};

} // namespace tv
