#pragma once

// The split view as headless exports (qzftool export, evidence working
// copies) draw it: channel pictures stretched into
// the cells of the video window's grid, each with its label ("CH<n>" and the
// picture time) outlined as the window draws it, in a 24-bit bottom-up frame
// as the AVI writer and bitmap files take it.

#include "platform/win_types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tv {

class CSplitFrame {
public:
    CSplitFrame(int width, int height);
    const uint8_t* Data() const { return m_pixels.data(); }
    int Width() const { return m_w; }
    int Height() const { return m_h; }
    void Clear();

    // Nearest-neighbour stretch of a top-down B, G, R picture into a rectangle.
    void Stretch(const uint8_t* rgb, int pw, int ph, const RECT& r);
    // An outline in eight directions, then the text on top.
    void DrawLabel(const std::string& text, int x, int y, COLORREF text_, COLORREF outline);

private:
    uint8_t* Row(int y) { return m_pixels.data() + size_t(m_h - 1 - y) * m_w * 3; }
    void DrawText(const std::string& text, int x, int y, COLORREF c);
    void Put(int x, int y, COLORREF c);

    int m_w, m_h;
    std::vector<uint8_t> m_pixels;
};

// The cell of a channel in a split of width x height: d x d cells, the
// left-over pixels going one each to the first columns and rows.
RECT SplitCellRect(int channel, int split, int width, int height);

// "CH<n> YYYY/MM/DD hh:mm:ss", or "CH<n> " while the time is not a time.
std::string SplitLabelText(int channel, const SYSTEMTIME& t);

// One half of a dual picture (w x h YUV 4:2:0) into dst (w/2 x h).
void SplitDualHalf(const uint8_t* src, int w, int h, bool right, uint8_t* dst);

// The smallest split of the window (1 only for one channel, else 4, 9, 16)
// one page of which holds every channel of mask; page receives that page.
int SmallestSplitFor(uint32_t mask, int* page);

} // namespace tv
