#include "synth/video_encoder.h"

#include "synth/bit_writer.h"
#include "synth/dct_reference.h"
#include "video/video_tables.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tv::synth {

namespace {

// (run, level) to index in the code table, -1 when only escape can carry it.
struct CodeIndex {
    int8_t index[64][41];
    CodeIndex() {
        std::memset(index, -1, sizeof(index));
        for (int i = 0; i < kCoeffCodeCount; ++i)
            index[kCoeffCodes[i].run][kCoeffCodes[i].level] = int8_t(i);
    }
};

const CodeIndex& GetCodeIndex() {
    static const CodeIndex table;
    return table;
}

// 00 00 01, then code unless it is negative. (Byte pushes rather than an
// initializer-list insert, which GCC's -O3 bounds analysis misreads.)
void PutStartCode(std::vector<uint8_t>& out, int code) {
    out.push_back(0x00);
    out.push_back(0x00);
    out.push_back(0x01);
    if (code >= 0)
        out.push_back(uint8_t(code));
}

void PutCoefficient(CBitWriter& bw, int run, int level) {
    const int mag = std::abs(level);
    const int idx = mag <= 40 ? GetCodeIndex().index[run][mag] : -1;
    if (idx >= 0) {
        bw.Put(kCoeffCodes[idx].bits, kCoeffCodes[idx].length);
        bw.Put(level < 0 ? 1 : 0, 1);
        return;
    }
    bw.Put(kEscapeBits, kEscapeLength);
    bw.Put(uint32_t(run), 6);
    // Levels are never 0 here and the long forms are used only where their
    // second byte has its top bit set or is not 0, so no escape adds a zero byte.
    if (level > 0 && level < 128) {
        bw.Put(uint32_t(level), 8);
    } else if (level >= 128) {
        bw.Put(0x00, 8);
        bw.Put(uint32_t(level), 8);
    } else if (level > -128) {
        bw.Put(uint32_t(256 + level), 8);
    } else {
        bw.Put(0x80, 8);
        bw.Put(uint32_t(256 + level), 8);
    }
}

} // namespace

void CVideoEncoder::EncodeBlock(const uint8_t* src, int pitch, int quantScale, CBitWriter& bw) {
    double in[64];
    double coef[64];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            in[8 * y + x] = src[y * pitch + x];
    ForwardDctDouble(in, coef);
    // A DC byte of 0 could complete a 00 00 01 with the bits around it; the
    // darkest block is coded as 1 instead, one step above black.
    const int dc = std::clamp(int(std::lround(coef[0] / 8.0)), 1, 255);
    bw.Put(uint32_t(dc), 8);
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const int p = kZigzag[k];
        const double step = double(quantScale) * kIntraQuantMatrix[p] / 4.0;
        int level = int(std::lround(coef[p] / step));
        level = std::clamp(level, -255, 255);
        if (level == 0) {
            ++run;
            continue;
        }
        PutCoefficient(bw, run, level);
        run = 0;
    }
    bw.Put(kEobBits, kEobLength);
}

size_t CVideoEncoder::EncodePicture(const uint8_t* yuv, int lines, const PictureHeader& h,
                                    const uint8_t* plan, std::vector<uint8_t>& out) {
    out.clear();
    if (yuv == nullptr || (lines != 224 && lines != 272) || h.quantScale < 1 || h.quantScale > 14 ||
        h.format < 0 || h.format >= VF_COUNT)
        return 0;
    const int mbRows = lines / 16;
    const bool startKey = h.format != 0 && h.format != 2;
    PutStartCode(out, startKey && h.key ? 0xF9 : 0xF8);
    switch (h.format) {
    case 0:
        out.push_back(uint8_t((h.channel & 3) | (h.quantScale << 3) | (h.key ? 0x80 : 0)));
        break;
    case 2:
        out.push_back(uint8_t((h.quantScale << 3) | (h.key ? 0x80 : 0)));
        out.push_back(uint8_t(h.format2Value >> 8));
        out.push_back(uint8_t(h.format2Value));
        break;
    case 5:
        out.push_back(uint8_t((h.channel & 0xF) | (h.quantScale << 4)));
        out.push_back(uint8_t((h.dual ? 0x80 : 0) | ((h.rightChannel & 0xF) << 3) |
                              (h.leftAbsent ? 4 : 0) | (h.rightAbsent ? 2 : 0)));
        break;
    default:
        out.push_back(uint8_t((h.channel & 0xF) | (h.quantScale << 4)));
        // The decoder needs more than 5 bytes before it looks at a packet.
        break;
    }

    const uint8_t* luma = yuv;
    const uint8_t* cb = yuv + size_t(kWidth) * lines;
    const uint8_t* cr = cb + size_t(kWidth) * lines / 4;
    const int cpitch = kWidth / 2;
    for (int row = 0; row < mbRows; ++row) {
        PutStartCode(out, -1);
        CBitWriter bw(out);
        bw.Put(uint32_t(row), 5);
        int last = -1; // last coded macroblock column
        for (int c = 0; c < kMbCols; ++c) {
            uint8_t cbp = 0xF;
            if (!h.key) {
                const uint8_t choice = plan ? plan[row * kMbCols + c] : uint8_t(kMbCoded | 0xF);
                if (!(choice & kMbCoded))
                    continue;
                cbp = choice & 0xF;
                bw.Put(uint32_t(c - last), 6);
                bw.Put(cbp, 4);
            }
            last = c;
            const uint8_t* mb = luma + size_t(row) * 16 * kWidth + 16 * c;
            for (int b = 0; b < 4; ++b) {
                if (cbp & (1 << b))
                    EncodeBlock(mb + (b & 1) * 8 + (b >> 1) * 8 * kWidth, kWidth, h.quantScale, bw);
            }
            const size_t coff = size_t(row) * 8 * cpitch + 8 * c;
            EncodeBlock(cb + coff, cpitch, h.quantScale, bw);
            EncodeBlock(cr + coff, cpitch, h.quantScale, bw);
        }
        // An update slice ends with an address increment of 0 unless its last
        // macroblock was coded (the decoder stops there by itself).
        if (!h.key && last != kMbCols - 1)
            bw.Put(0, 6);
        bw.AlignWithOnes();
    }

    // Guard the one rule every reader of the stream depends on: no 00 00 01
    // but the slice starts.
    const int found = CountStartCodes(out.data(), out.size());
    assert(found == mbRows);
    if (found != mbRows) {
        out.clear();
        return 0;
    }
    return out.size();
}

int CVideoEncoder::CountStartCodes(const uint8_t* p, size_t length) {
    int n = 0;
    for (size_t i = 5; i + 2 < length; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1)
            ++n;
    }
    return n;
}

int CVideoEncoder::PlanUpdate(const uint8_t* cur, const uint8_t* prev, int lines, int threshold,
                              uint8_t* plan) {
    const int mbRows = lines / 16;
    const uint8_t* cb0 = cur + size_t(kWidth) * lines;
    const uint8_t* cb1 = prev + size_t(kWidth) * lines;
    const size_t chromaPlane = size_t(kWidth) * lines / 4;
    const int cpitch = kWidth / 2;
    int coded = 0;
    auto differs = [threshold](const uint8_t* a, const uint8_t* b, int pitch) {
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                if (std::abs(int(a[y * pitch + x]) - int(b[y * pitch + x])) > threshold)
                    return true;
        return false;
    };
    for (int row = 0; row < mbRows; ++row) {
        for (int c = 0; c < kMbCols; ++c) {
            uint8_t cbp = 0;
            const size_t off = size_t(row) * 16 * kWidth + 16 * c;
            for (int b = 0; b < 4; ++b) {
                const size_t bo = off + (b & 1) * 8 + size_t(b >> 1) * 8 * kWidth;
                if (differs(cur + bo, prev + bo, kWidth))
                    cbp |= uint8_t(1 << b);
            }
            const size_t coff = size_t(row) * 8 * cpitch + 8 * c;
            const bool chroma = differs(cb0 + coff, cb1 + coff, cpitch) ||
                                differs(cb0 + chromaPlane + coff, cb1 + chromaPlane + coff, cpitch);
            const bool code = cbp != 0 || chroma;
            plan[row * kMbCols + c] = code ? uint8_t(kMbCoded | cbp) : kMbSkip;
            coded += code ? 1 : 0;
        }
    }
    return coded;
}

CChannelEncoder::CChannelEncoder(int lines) : m_lines(lines) {}

size_t CChannelEncoder::Encode(const uint8_t* yuv, const PictureHeader& header,
                               std::vector<uint8_t>& out) {
    const int ch = header.channel & 0xF;
    std::vector<uint8_t>& prev = m_prev[ch];
    const size_t bytes = CVideoEncoder::PictureBytes(m_lines);
    PictureHeader h = header;
    if (prev.size() != bytes)
        h.key = true;
    const uint8_t* plan = nullptr;
    if (!h.key) {
        m_plan.resize(size_t(m_lines / 16) * CVideoEncoder::kMbCols);
        CVideoEncoder::PlanUpdate(yuv, prev.data(), m_lines, 2, m_plan.data());
        plan = m_plan.data();
    }
    const size_t n = m_encoder.EncodePicture(yuv, m_lines, h, plan, out);
    if (n != 0)
        prev.assign(yuv, yuv + bytes);
    return n;
}

void ComposeDual(const uint8_t* left, const uint8_t* right, int lines, uint8_t* out) {
    const int w = CVideoEncoder::kWidth;
    const int hw = w / 2;
    // Planes: luma (pitch w / half hw), then Cb and Cr (pitch w/2 / half hw/2).
    struct Plane {
        size_t outOff, inOff;
        int outPitch, inPitch, rows;
    };
    const Plane planes[3] = {
        {0, 0, w, hw, lines},
        {size_t(w) * lines, size_t(hw) * lines, w / 2, hw / 2, lines / 2},
        {size_t(w) * lines * 5 / 4, size_t(hw) * lines * 5 / 4, w / 2, hw / 2, lines / 2}};
    for (int pi = 0; pi < 3; ++pi) {
        const Plane& p = planes[pi];
        const uint8_t grey = 128;
        for (int y = 0; y < p.rows; ++y) {
            uint8_t* d = out + p.outOff + size_t(y) * p.outPitch;
            if (left)
                std::memcpy(d, left + p.inOff + size_t(y) * p.inPitch, size_t(p.inPitch));
            else
                std::memset(d, grey, size_t(p.inPitch));
            if (right)
                std::memcpy(d + p.inPitch, right + p.inOff + size_t(y) * p.inPitch,
                            size_t(p.inPitch));
            else
                std::memset(d + p.inPitch, grey, size_t(p.inPitch));
        }
    }
}

} // namespace tv::synth
