#pragma once

// The split view as an export frame: channel pictures stretched into the
// cells of the video window's grid, each with its label ("CH<n>" and the
// picture time), in a 24-bit bottom-up frame as the AVI writer and bitmap
// files take it. The window's AVI export, qzftool export and the evidence
// package's working copy and stills all compose through CSplitComposer, so
// that what is handed on as evidence is what the viewer shows.

#include "platform/win_types.h"
#include "video/dual_picture.h"

#include <cstdint>
#include <functional>
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

    // Row y counted from the top: B, G, R bytes, Width() pixels.
    uint8_t* Row(int y) { return m_pixels.data() + size_t(m_h - 1 - y) * m_w * 3; }
    const uint8_t* Row(int y) const { return m_pixels.data() + size_t(m_h - 1 - y) * m_w * 3; }

    // A top-down B, G, R picture stretched into a rectangle as the window
    // stretches its cells: each pixel takes the source pixel under its centre.
    void Stretch(const uint8_t* rgb, int pw, int ph, const RECT& r);
    // An outline in eight directions, then the text on top, in the built-in
    // glyphs (only "CH", digits, '/', ':' and spaces).
    void DrawLabel(const std::string& text, int x, int y, COLORREF text_, COLORREF outline);

private:
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

// The smallest split of the window (1 only for one channel, else 4, 9, 16)
// one page of which holds every channel of mask; page receives that page.
int SmallestSplitFor(uint32_t mask, int* page);

// Draws a channel's label with its top left corner at (x, y) of the frame.
// hasPicture is 0 for a cell that has shown no picture yet.
using SplitLabelDrawer = std::function<void(CSplitFrame& frame, int channel, const SYSTEMTIME& time,
                                            int hasPicture, int x, int y)>;
// Takes a finished frame; stamp is the one given with the first picture of
// its cycle (the moment the frame stands for).
using SplitFrameSink = std::function<void(const CSplitFrame& frame, int64_t stamp)>;

// Composes channel pictures into split frames. A frame is complete when a
// channel already drawn since the last frame brings its next picture (one
// cycle of the playing channels); it is then handed to the sink before that
// picture is drawn, so every frame keeps what the last cycle showed.
class CSplitComposer {
public:
    CSplitComposer(int width, int height);

    const CSplitFrame& Frame() const { return m_frame; }
    CSplitFrame& Frame() { return m_frame; }
    int Width() const { return m_frame.Width(); }
    int Height() const { return m_frame.Height(); }

    // The cells: a split of 1, 4, 9 or 16, the page shown and the channels
    // there are; channels elsewhere are not drawn.
    void SetLayout(int split, int page, int channelCount);
    bool Shows(int channel) const;
    RECT CellRect(int channel) const;
    // Labels default to SplitLabelText in the built-in glyphs in these colours.
    void SetLabelColours(COLORREF text, COLORREF outline);
    void SetLabelDrawer(SplitLabelDrawer drawer);
    void SetFrameSink(SplitFrameSink sink);

    // A channel's picture (w x h YUV 4:2:0) in its cell with its label. 1 when
    // it was drawn, 0 for a channel not shown or a picture it cannot take.
    int Add(int channel, const uint8_t* yuv, int w, int h, const SYSTEMTIME& time,
            int64_t stamp = 0);
    // Every channel picture a decoded picture holds, as Add.
    void AddPicture(const PictureChannels& channels, const uint8_t* yuv, int w, int h,
                    const SYSTEMTIME& time, int64_t stamp = 0);
    // Draws a cell without counting it towards a frame: a picture shown
    // before the export began, or a redraw. A null picture draws the label.
    int Draw(int channel, const uint8_t* yuv, int w, int h, const SYSTEMTIME& time);
    // Hands on what was drawn since the last frame, if anything: the last
    // frame of an export. 1 when a frame went out.
    int Flush();
    // Channels drawn since the last frame.
    uint32_t Pending() const { return m_pending; }
    // The next picture starts a new frame; what is drawn stays.
    void Forget() { m_pending = 0; }
    // A black frame that nothing has been drawn into.
    void Restart();
    // Black, keeping what is pending: a redraw of every cell follows.
    void Clear() { m_frame.Clear(); }

private:
    bool Takes(int w, int h) const;

    CSplitFrame m_frame;
    int m_split = 1;
    int m_page = 0;
    int m_count = 16;
    COLORREF m_text = 0x80FFFF;
    COLORREF m_outline = 0x050505;
    SplitLabelDrawer m_drawer;
    SplitFrameSink m_sink;
    uint32_t m_pending = 0;
    int64_t m_stamp = 0;
    std::vector<uint8_t> m_rgb;
    std::vector<uint8_t> m_half;
};

} // namespace tv
