#pragma once

#include "engine/export_sink.h"

namespace tv {

class CAviWriter;

// The engine's AVI writer as the video output's export sink: the frame size
// comes from the frame header the export was opened with.
class CAviExportSink : public IExportSink {
public:
    explicit CAviExportSink(CAviWriter* writer) : m_writer(writer) {}
    int GetExportFrameSize(int* width, int* height, int* topDown) override;
    int WriteVideoFrame(const uint8_t* pixels, int keyFrameFlag) override;

private:
    CAviWriter* m_writer;
};

} // namespace tv
