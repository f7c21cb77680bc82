#include "compose/split_frame.h"

#include "video/color_convert.h"

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
    // The window's own cell stretch, in 16.16 fixed point from the centre of
    // the first pixel, so that an export shows the very pixels of the screen.
    const int rw = r.right - r.left, rh = r.bottom - r.top;
    if (rw <= 0 || rh <= 0 || pw <= 0 || ph <= 0)
        return;
    const int x0 = std::max(int(r.left), 0), x1 = std::min(int(r.right), m_w);
    const int y0 = std::max(int(r.top), 0), y1 = std::min(int(r.bottom), m_h);
    const int64_t xStep = (int64_t(pw) << 16) / rw, yStep = (int64_t(ph) << 16) / rh;
    int64_t yPos = int64_t(y0 - r.top) * yStep + yStep / 2;
    for (int y = y0; y < y1; ++y, yPos += yStep) {
        const int sy = std::min(int(yPos >> 16), ph - 1);
        const uint8_t* src = rgb + size_t(sy) * pw * 3;
        uint8_t* dst = Row(y) + size_t(x0) * 3;
        int64_t xPos = int64_t(x0 - r.left) * xStep + xStep / 2;
        for (int x = x0; x < x1; ++x, xPos += xStep, dst += 3) {
            const uint8_t* s = src + size_t(std::min(int(xPos >> 16), pw - 1)) * 3;
            dst[0] = s[0];
            dst[1] = s[1];
            dst[2] = s[2];
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

CSplitComposer::CSplitComposer(int width, int height) : m_frame(width, height) {}

void CSplitComposer::SetLayout(int split, int page, int channelCount) {
    m_split = std::max(split, 1);
    m_page = page;
    m_count = std::clamp(channelCount, 0, 32);
}

bool CSplitComposer::Shows(int channel) const {
    return channel >= 0 && channel < m_count && channel / m_split == m_page;
}

RECT CSplitComposer::CellRect(int channel) const {
    return SplitCellRect(channel, m_split, m_frame.Width(), m_frame.Height());
}

void CSplitComposer::SetLabelColours(COLORREF text, COLORREF outline) {
    m_text = text;
    m_outline = outline;
}

void CSplitComposer::SetLabelDrawer(SplitLabelDrawer drawer) {
    m_drawer = std::move(drawer);
}

void CSplitComposer::SetFrameSink(SplitFrameSink sink) {
    m_sink = std::move(sink);
}

bool CSplitComposer::Takes(int w, int h) const {
    // No recorder picture is larger than a full-resolution frame.
    return w > 0 && h > 0 && w <= 720 && h <= 576;
}

int CSplitComposer::Draw(int channel, const uint8_t* yuv, int w, int h, const SYSTEMTIME& time) {
    if (!Shows(channel) || (yuv != nullptr && !Takes(w, h)))
        return 0;
    const RECT r = CellRect(channel);
    if (yuv != nullptr) {
        if (m_rgb.size() < size_t(w) * h * 3)
            m_rgb.resize(size_t(w) * h * 3);
        YuvToRgb24(m_rgb.data(), w * 3, yuv, w, h);
        m_frame.Stretch(m_rgb.data(), w, h, r);
    }
    if (m_drawer) {
        m_drawer(m_frame, channel, time, yuv != nullptr, r.left + 4, r.top + 2);
    } else {
        m_frame.DrawLabel(SplitLabelText(channel, yuv != nullptr ? time : SYSTEMTIME{}), r.left + 4,
                          r.top + 2, m_text, m_outline);
    }
    return 1;
}

int CSplitComposer::Add(int channel, const uint8_t* yuv, int w, int h, const SYSTEMTIME& time,
                        int64_t stamp) {
    if (yuv == nullptr || !Shows(channel) || !Takes(w, h))
        return 0;
    const uint32_t bit = 1u << channel;
    if (m_pending & bit)
        Flush();
    if (!m_pending)
        m_stamp = stamp;
    Draw(channel, yuv, w, h, time);
    m_pending |= bit;
    return 1;
}

void CSplitComposer::AddPicture(const PictureChannels& channels, const uint8_t* yuv, int w, int h,
                                const SYSTEMTIME& time, int64_t stamp) {
    if (yuv == nullptr || !Takes(w, h))
        return;
    if (channels.dual && m_half.size() < size_t(w / 2) * h * 3 / 2)
        m_half.resize(size_t(w / 2) * h * 3 / 2);
    ForEachChannelPicture(
        channels, yuv, w, h, m_half.data(),
        [&](int c, const uint8_t* p, int pw, int ph) { Add(c, p, pw, ph, time, stamp); });
}

int CSplitComposer::Flush() {
    if (!m_pending)
        return 0;
    m_pending = 0;
    if (m_sink)
        m_sink(m_frame, m_stamp);
    return 1;
}

void CSplitComposer::Restart() {
    m_frame.Clear();
    m_pending = 0;
}

} // namespace tv
