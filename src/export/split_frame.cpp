#include "export/split_frame.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>

namespace tv {

namespace {

// 5 x 7 glyphs drawn twice as tall, so that a label is about as high as the
// window's 16-pixel label font and still fits a cell of a 16-way split: a
// label only ever holds "CH", digits, the date and time separators and spaces.
struct Glyph {
    char c;
    std::array<uint8_t, 7> rows; // bit 4 is the leftmost column
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'/', {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
};
constexpr int kGlyphScaleY = 2;
constexpr int kGlyphAdvance = 6;

const Glyph* FindGlyph(char c) {
    for (const Glyph& g : kGlyphs) {
        if (g.c == c)
            return &g;
    }
    return nullptr;
}

} // namespace

CSplitFrame::CSplitFrame(int width, int height)
    : m_w(width), m_h(height), m_pixels(size_t(width) * height * 3, 0) {}

void CSplitFrame::Clear() {
    std::fill(m_pixels.begin(), m_pixels.end(), 0);
}

void CSplitFrame::Stretch(const uint8_t* rgb, int pw, int ph, const RECT& r) {
    const int rw = r.right - r.left, rh = r.bottom - r.top;
    if (rw <= 0 || rh <= 0 || pw <= 0 || ph <= 0)
        return;
    for (int y = 0; y < rh && r.top + y < m_h; ++y) {
        const int sy = int(int64_t(y) * ph / rh);
        const uint8_t* src = rgb + size_t(sy) * pw * 3;
        uint8_t* dst = Row(r.top + y) + size_t(r.left) * 3;
        for (int x = 0; x < rw && r.left + x < m_w; ++x) {
            const uint8_t* s = src + size_t(int64_t(x) * pw / rw) * 3;
            dst[0] = s[0];
            dst[1] = s[1];
            dst[2] = s[2];
            dst += 3;
        }
    }
}

void CSplitFrame::DrawLabel(const std::string& text, int x, int y, COLORREF text_,
                            COLORREF outline) {
    static constexpr int kOffsets[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0},
                                           {1, 0},   {-1, 1}, {0, 1},  {1, 1}};
    for (const auto& o : kOffsets)
        DrawText(text, x + o[0], y + o[1], outline);
    DrawText(text, x, y, text_);
}

void CSplitFrame::DrawText(const std::string& text, int x, int y, COLORREF c) {
    for (char ch : text) {
        if (const Glyph* g = FindGlyph(ch)) {
            for (int gy = 0; gy < 7 * kGlyphScaleY; ++gy) {
                const uint8_t bits = g->rows[size_t(gy / kGlyphScaleY)];
                for (int gx = 0; gx < 5; ++gx) {
                    if (bits & (0x10 >> gx))
                        Put(x + gx, y + gy, c);
                }
            }
        }
        x += kGlyphAdvance;
    }
}

void CSplitFrame::Put(int x, int y, COLORREF c) {
    if (x < 0 || y < 0 || x >= m_w || y >= m_h)
        return;
    uint8_t* p = Row(y) + size_t(x) * 3;
    p[0] = GetBValue(c);
    p[1] = GetGValue(c);
    p[2] = GetRValue(c);
}

RECT SplitCellRect(int channel, int split, int w, int h) {
    int d = 1;
    while ((d + 1) * (d + 1) <= split)
        ++d;
    if (d * d != split)
        ++d;
    const int e = w / d, f = h / d, rw = w - d * e, rh = h - d * f;
    const int k = channel % split, l = k % d, m = k / d;
    RECT r;
    r.left = e * l + std::min(rw, l);
    r.right = r.left + e + (l < rw ? 1 : 0);
    r.top = f * m + std::min(rh, m);
    r.bottom = r.top + f + (m < rh ? 1 : 0);
    return r;
}

std::string SplitLabelText(int channel, const SYSTEMTIME& t) {
    char buf[64];
    if (t.wYear >= 1900) {
        std::snprintf(buf, sizeof buf, "CH%d %04u/%02u/%02u %02u:%02u:%02u", channel + 1, t.wYear,
                      t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    } else {
        std::snprintf(buf, sizeof buf, "CH%d ", channel + 1);
    }
    return buf;
}

void SplitDualHalf(const uint8_t* src, int w, int h, bool right, uint8_t* dst) {
    const int hw = w / 2;
    for (int y = 0; y < h; ++y)
        std::memcpy(dst + size_t(y) * hw, src + size_t(y) * w + (right ? hw : 0), size_t(hw));
    const uint8_t* cs = src + size_t(w) * h;
    uint8_t* cd = dst + size_t(hw) * h;
    for (int plane = 0; plane < 2; ++plane) {
        for (int y = 0; y < h / 2; ++y)
            std::memcpy(cd + size_t(y) * (hw / 2), cs + size_t(y) * (w / 2) + (right ? hw / 2 : 0),
                        size_t(hw / 2));
        cs += size_t(w / 2) * (h / 2);
        cd += size_t(hw / 2) * (h / 2);
    }
}

int SmallestSplitFor(uint32_t mask, int* page) {
    *page = 0;
    if (mask == 0)
        return 1;
    const int first = std::countr_zero(mask);
    const int last = 31 - std::countl_zero(mask);
    if (first == last) {
        *page = first;
        return 1;
    }
    for (int split : {4, 9, 16}) {
        if (first / split == last / split) {
            *page = first / split;
            return split;
        }
    }
    return 16;
}

} // namespace tv
