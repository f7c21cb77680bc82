#pragma once

#include <cstdint>

namespace tv {

// Where composed export frames go. The engine's AVI writer satisfies it
// through CAviExportSink; tests give a recording double.
class IExportSink {
public:
    virtual ~IExportSink() = default;
    // The export frame's size in pixels; 0 when no export frame is described
    // (nothing is composed then). topDown is set when the writer wants the rows
    // top-down instead of the usual bottom-up order.
    virtual int GetExportFrameSize(int* width, int* height, int* topDown) = 0;
    // One frame of width x height 24-bit pixels (B, G, R), rows packed.
    virtual int WriteVideoFrame(const uint8_t* pixels, int keyFrameFlag) = 0;
};

} // namespace tv
