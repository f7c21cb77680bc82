#pragma once

#include <mutex>

#include "engine/video_output.h"

namespace tv {

// The video output of a caller with no screen (qzftool play and record, the
// engine before the window hands it its own): it draws nothing but keeps the
// layout the loops decide by, with the video window's rules for the split and
// its pages, so that the same pictures are shown and stepped over.
class CHeadlessOutput : public IVideoOutput {
public:
    int Render(int channel, const SYSTEMTIME& time, const uint8_t* picture, int width,
               int height) override;
    void Clear() override {}
    void ClearChannel(int) override {}

    void SetChannelCount(int count) override;
    int GetChannelCount() const override;
    int SetSplit(int split, int page) override;
    int GetSplit(int* split, int* page) const override;

    int SetShowLabels(int) override { return 1; }
    int SetLabelFont(int, int, int, int, const std::string&) override { return 1; }
    int SetTextColour(COLORREF) override { return 1; }
    int SetOutlineColour(COLORREF) override { return 1; }
    int SetShowTime(int flag) override;
    int GetShowTime() const override;
    int SetTimeFormat(const std::string&) override { return 1; }

    int SetUseDirectDraw(int on) override;
    int GetUseDirectDraw() const override;
    void SetEngineMode(int) override {}
    void SetExportSink(IExportSink*) override {}
    // Nothing is drawn, so there is no picture to save.
    int SaveImage(const std::string&) override { return 0; }
    int TakeMouseEvent(MouseRecord*) override { return 0; }

private:
    mutable std::mutex m_lock;
    int m_channelCount = 1;
    int m_split = 1;
    int m_page = 0;
    int m_showTime = 1;
    int m_useDirectDraw = 1;
};

} // namespace tv
