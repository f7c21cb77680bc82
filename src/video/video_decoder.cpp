#include "video/video_decoder.h"

#include "platform/system.h"
#include "video/bit_reader.h"
#include "video/color_convert.h"
#include "video/video_tables.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace tv {

namespace {

const char* const kFormatNames[VF_COUNT] = {"QZ_QZF",  "QZ_QZE",  "QZ_QZD", "QZ_QZB",
                                            "QZ_QZB2", "QZ_QZB3", "QZ_QZA"};

struct PictureSize {
    int width, height;
};

// Indexed by the number of slice start codes found.
constexpr PictureSize kPictureSize[18] = {
    {320, 112}, {320, 112}, {320, 112}, {320, 112}, {320, 112}, {320, 112},
    {320, 112}, {320, 112}, {320, 128}, {320, 128}, {640, 224}, {640, 224},
    {640, 224}, {640, 224}, {640, 224}, {640, 272}, {640, 272}, {640, 272}};

// Fills 8 rows of 8 samples with one value.
inline void FillBlock(uint8_t* dst, int pitch, uint8_t value) {
    const uint64_t v = value * 0x0101010101010101ull;
    for (int r = 0; r < 8; ++r)
        std::memcpy(dst + ptrdiff_t(r) * pitch, &v, 8);
}

} // namespace

const char* VideoFormatName(int code) {
    return code >= 0 && code < VF_COUNT ? kFormatNames[code] : nullptr;
}

int VideoFormatFromName(const char* name) {
    if (name == nullptr)
        return -1;
    for (int i = 0; i < VF_COUNT; ++i) {
        if (std::string_view(name) == kFormatNames[i])
            return i;
    }
    return -1;
}

CVideoDecoder::CVideoDecoder() {
    SetMode(VF_QZF);
    InitColorTables();
}

CVideoDecoder::~CVideoDecoder() = default;

void CVideoDecoder::SelectVariant() {
    const int variant =
        m_forcedVariant >= 0 ? m_forcedVariant : SelectIdctVariant(GetCpuFeatures());
    InitDspContext(m_dsp, variant);
}

int CVideoDecoder::SetMode(int videoFormat) {
    if (videoFormat < 0 || videoFormat >= VF_COUNT)
        return 0;
    m_videoFormat = videoFormat;
    m_quantScale = 0;
    m_width = 0;
    m_height = 0;
    m_format2Value = 0;
    SelectVariant();
    return 1;
}

int CVideoDecoder::ForceVariant(int variant) {
    m_forcedVariant = (variant >= kVariantGeneric && variant < kVariantCount) ? variant : -1;
    SelectVariant();
    return m_dsp.variant;
}

int CVideoDecoder::ParseHeader(const uint8_t* p, int length) {
    m_scanState = 0xFFFFFFFFu;
    if (p == nullptr || length <= 5)
        return 0;
    if (p[0] != 0 || p[1] != 0 || p[2] != 1 || (p[3] != 0xF8 && p[3] != 0xF9))
        return 0;

    const uint8_t b4 = p[4];
    const int startKey = p[3] == 0xF9 ? 1 : 0;
    switch (m_videoFormat) {
    case VF_QZF:
        m_channel = (b4 & 7) >= 4 ? 0 : (b4 & 7);
        m_quantScale = (b4 >> 3) & 0xF;
        m_keyPicture = b4 >> 7;
        break;
    case VF_QZD:
        m_channel = 0;
        m_quantScale = (b4 >> 3) & 0xF;
        m_keyPicture = b4 >> 7;
        // A 6-byte packet has no byte 6; it reads as 0 rather than past the end.
        m_format2Value = (p[5] << 8) | (length > 6 ? p[6] : 0);
        break;
    default:
        m_channel = b4 & 0xF;
        m_quantScale = b4 >> 4;
        m_keyPicture = startKey;
        break;
    }
    if (m_videoFormat == VF_QZB3) {
        const uint8_t b5 = p[5];
        m_leftChannel = m_channel;
        m_dualPicture = b5 >> 7;
        m_rightChannel = (b5 >> 3) & 0xF;
        m_leftAbsent = (b5 >> 2) & 1;
        m_rightAbsent = (b5 >> 1) & 1;
    } else {
        m_dualPicture = 0;
    }
    if (m_quantScale == 15)
        return 0;

    // Equivalent to shifting every byte from offset 5 into the 32-bit scan
    // state, but jumps from one 01 byte to the next: a start code can only
    // complete at a 01 preceded by two zero bytes that lie at offset 5 or later.
    unsigned count = 0;
    int i = length;
    const uint8_t* q = p + 7;
    const uint8_t* const end = p + length;
    while (q + 1 < end) {
        q = static_cast<const uint8_t*>(std::memchr(q, 0x01, size_t(end - 1 - q)));
        if (q == nullptr)
            break;
        if (q[-1] == 0 && q[-2] == 0) {
            const uint8_t xx = q[1];
            if (xx >= 0xF8 && xx <= 0xFD) {
                i = int(q + 1 - p);
                break;
            }
            if (count < unsigned(kMaxSlices))
                m_sliceTable[count] = unsigned(q - 2 - p);
            ++count;
        }
        ++q;
    }
    // The last four bytes examined, as the byte-wise scan leaves them.
    uint32_t state = 0xFFFFFFFFu;
    for (int j = std::max(5, i - 3); j <= std::min(i, length - 1); ++j)
        state = (state << 8) | p[j];
    m_scanState = state;
    m_sliceCount = count;
    if (count < 18) {
        m_width = kPictureSize[count].width;
        m_height = kPictureSize[count].height;
    }
    if (count != 14 && count != 17)
        return 0;
    return i;
}

void CVideoDecoder::BuildQuantTable() {
    for (int k = 0; k < 64; ++k) {
        m_scan[k].quant = int32_t(m_quantScale) * kIntraQuantMatrix[kZigzag[k]];
        m_scan[k].pos = kZigzag[k];
    }
}

int CVideoDecoder::Decode(const uint8_t* packet, int length, uint8_t* picture) {
    if (packet == nullptr || picture == nullptr || length < 5)
        return 0;
    if (m_quantScale == 0 || m_width == 0 || m_height == 0)
        return 0;
    if (m_quantScale != m_cachedQuantScale) {
        m_cachedQuantScale = m_quantScale;
        BuildQuantTable();
    }
    // Short codes carry levels up to 7, which scale 14 and below dequantise
    // to at most 2033: no clamp needed. Only a caller that decodes a packet
    // the parse refused can reach scale 15.
    const bool clamp = m_quantScale > 14;
    const unsigned slices = std::min(m_sliceCount, unsigned(kMaxSlices));
    for (unsigned s = 0; s < slices; ++s) {
        const bool ok = clamp
                            ? DecodeSlice<true>(packet, size_t(length), m_sliceTable[s], picture)
                            : DecodeSlice<false>(packet, size_t(length), m_sliceTable[s], picture);
        if (!ok)
            return 0;
    }
    return 1;
}

int CVideoDecoder::Decode(const uint8_t* packet, int length, uint8_t* picture, size_t capacity) {
    if (capacity < GetPictureBytes())
        return 0;
    return Decode(packet, length, picture);
}

template <bool kClamp>
bool CVideoDecoder::DecodeSlice(const uint8_t* packet, size_t length, size_t offset,
                                uint8_t* picture) {
    CBitReader br(packet, length, offset);
    if (br.Read(24) != 1)
        return false;
    const int row = int(br.Read(5));
    const int width = m_width;
    const int mbCols = width / 16;
    if (row >= m_height / 16)
        return false;

    const int chromaPitch = width / 2;
    uint8_t* lumaRow = picture + size_t(row) * 16 * width;
    uint8_t* cbRow = picture + size_t(width) * m_height + size_t(row) * 8 * chromaPitch;
    uint8_t* crRow = cbRow + size_t(width) * m_height / 4;
    const bool key = m_keyPicture != 0;

    for (int c = 0; c < mbCols; ++c) {
        unsigned cbp = 0xF;
        if (!key) {
            br.Refill();
            const int increment = int(br.ReadValid(6));
            if (increment == 0)
                return true;
            c += increment - 1;
            // Skipping past the row's last macroblock would place blocks
            // outside the picture.
            if (c >= mbCols)
                return false;
            cbp = br.ReadValid(4);
        }
        for (int b = 0; b < 6; ++b) {
            if (b < 4 && !(cbp & (1u << b)))
                continue;
            const int last = DecodeBlock<kClamp>(br);
            if (last < 0)
                return false;
            uint8_t* dst;
            int pitch;
            if (b < 4) {
                dst = lumaRow + 16 * c + 8 * (b & 1) + size_t(8 * (b >> 1)) * width;
                pitch = width;
            } else {
                dst = (b == 4 ? cbRow : crRow) + 8 * c;
                pitch = chromaPitch;
            }
            if (last == 0 && m_dsp.dcFlat) {
                // Flat areas and most chroma code nothing but DC. block[0]
                // is left: every block writes it before anything else.
                const int dc = m_block[0] >> 3;
                FillBlock(dst, pitch, m_dsp.dcSample[dc]);
            } else {
                m_dsp.idctPut(m_block, dst, pitch);
            }
        }
    }
    return true;
}

template <bool kClamp> int CVideoDecoder::DecodeBlock(CBitReader& reader) {
    // A local copy keeps the reader's state in registers across the stores
    // into the block.
    CBitReader br = reader;
    int16_t* const block = m_block;
    const ScanEntry* const scan = m_scan;
    br.Refill();
    block[0] = int16_t(8 * br.ReadValid(8));
    int k = 0; // scan position of the last coefficient
    for (;;) {
        br.Refill();
        const PairCoeff& e = kPairCoeffs.e[br.PeekValid(kPairBits)];
        if (e.kind <= kPairTwoEob) {
            br.SkipValid(e.length);
            const int k1 = k + e.advance[0];
            const int k2 = k + e.advance[1];
            if (k2 >= 64)
                break;
            int v1 = (e.level[0] * scan[k1].quant + e.bias[0]) >> 2;
            int v2 = (e.level[1] * scan[k2].quant + e.bias[1]) >> 2;
            if (kClamp) {
                v1 = std::clamp(v1, -2048, 2047);
                v2 = std::clamp(v2, -2048, 2047);
            }
            // With one code k2 is k1: the second store is the one that stays.
            block[scan[k2].pos] = int16_t(v2);
            block[scan[k1].pos] = int16_t(v1);
            k = k2;
            if (e.kind == kPairTwoEob) {
                reader = br;
                return k;
            }
            continue;
        }
        if (e.kind == kPairEnd) {
            br.SkipValid(2);
            reader = br;
            return k;
        }
        int run;
        int level; // signed
        const FastCoeff& f = kFastCoeffs.e[br.PeekValid(kFastBits)];
        if (f.run == kFastEscape) {
            br.SkipValid(f.length);
            run = int(br.ReadValid(6));
            const int l = int(br.ReadValid(8));
            if (l == 0)
                level = int(br.ReadValid(8));
            else if (l < 128)
                level = l;
            else if (l == 128)
                level = -((256 - int(br.ReadValid(8))) & 0xFF);
            else
                level = l - 256;
        } else {
            // Codes of 12 bits or more; 12 leading zeros is no code at all.
            const unsigned v = br.PeekValid(16);
            if (v < 16)
                break;
            const CoeffEntry& c = LookupCoeff(v);
            if (c.kind != kCoeffRunLevel)
                break;
            br.SkipValid(c.length);
            run = c.run;
            level = br.ReadValid(1) ? -int(c.level) : int(c.level);
        }
        k += run + 1;
        if (k >= 64)
            break;
        const int32_t s = level >> 31; // 0 or -1
        const uint32_t mag = uint32_t((level ^ s) - s);
        const uint32_t q =
            std::min<uint32_t>((mag * uint32_t(scan[k].quant)) >> 2, uint32_t(2047 - s));
        block[scan[k].pos] = int16_t((int32_t(q) ^ s) - s);
    }
    // The next block starts from a clear buffer.
    std::memset(block, 0, sizeof m_block);
    reader = br;
    return -1;
}

} // namespace tv
