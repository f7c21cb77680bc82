#pragma once

// What the player engine draws through. The engine knows only this; the
// window's video area implements it with Qt, a headless caller with
// CHeadlessOutput. The engine's worker thread calls Render and reads the
// layout (GetSplit, GetChannelCount) and clears cells as it plays, the network
// client's thread takes mouse events, and the thread that drives the engine
// makes every other call, so an implementation guards its state itself.

#include <cstdint>
#include <string>

#include "engine/export_sink.h"
#include "platform/win_types.h"

namespace tv {

// Mouse event codes sent to a recorder for remote control.
enum MouseEventCode {
    kMouseMove = 0,        // moved with no button, or left button released
    kMouseLeftDown = 1,    // left pressed, or moved with the left button down
    kMouseRightDrag = 2,   // moved with the right button down
    kMouseLeftDouble = 3,  // left double-click
    kMouseRightDouble = 4, // right double-click
};

struct MouseRecord {
    int eventCode = 0;
    int x = 0;
    int y = 0;
    int clientWidth = 0;
    int clientHeight = 0;
    int pending = 0;
};

class IVideoOutput {
public:
    virtual ~IVideoOutput() = default;

    // A decoded picture (planar YUV 4:2:0) of a channel, 0 .. count-1. 1 when
    // it was taken.
    virtual int Render(int channel, const SYSTEMTIME& time, const uint8_t* picture, int width,
                       int height) = 0;
    virtual void Clear() = 0;
    // One channel's cell back to black: it has no picture at the place shown.
    virtual void ClearChannel(int channel) = 0;

    // Layout: the channels laid out, and the split (1, 4, 9 or 16 cells) with
    // the page of it shown. The loops ask which channels are visible from these.
    virtual void SetChannelCount(int count) = 0;
    virtual int GetChannelCount() const = 0;
    // split 1, 4, 9 or 16 up to the channel count; a negative page moves to the
    // next page of the same split (wrapping), or to page 0 of a new split.
    virtual int SetSplit(int split, int page) = 0;
    virtual int GetSplit(int* split, int* page) const = 0;

    // Labels.
    virtual int SetShowLabels(int on) = 0;
    virtual int SetLabelFont(int height, int width, int weight, int italic,
                             const std::string& face) = 0;
    virtual int SetTextColour(COLORREF colour) = 0;
    virtual int SetOutlineColour(COLORREF colour) = 0;
    virtual int SetShowTime(int flag) = 0;
    virtual int GetShowTime() const = 0;
    virtual int SetTimeFormat(const std::string& format) = 0;

    virtual int SetUseDirectDraw(int on) = 0;
    virtual int GetUseDirectDraw() const = 0;
    // The engine's mode (1 player, 2 live view): export frames are composed
    // in player mode only.
    virtual void SetEngineMode(int mode) = 0;
    // Where composed export frames go (not owned; null detaches).
    virtual void SetExportSink(IExportSink* sink) = 0;
    // Writes what the output shows as a bitmap file. 1 when it was written.
    virtual int SaveImage(const std::string& path) = 0;
    // 1 and the record when a mouse event for the recorder is pending (it
    // then no longer is), else 0.
    virtual int TakeMouseEvent(MouseRecord* record) = 0;
};

} // namespace tv
