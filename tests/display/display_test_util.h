#pragma once

#include <QImage>
#include <cstdint>
#include <memory>
#include <vector>

#include "display/video_wnd.h"
#include "engine/export_sink.h"

namespace tv::test {

// A planar YUV 4:2:0 picture of one colour.
std::vector<uint8_t> FlatPicture(int width, int height, uint8_t y, uint8_t u, uint8_t v);
// A picture whose every 2 x 2 block differs from its neighbours, so that a
// misplaced row or column shows.
std::vector<uint8_t> PatternPicture(int width, int height, int seed);

// A shown window of the given size with its channel count and split set.
std::unique_ptr<CVideoWnd> MakeWindow(int width, int height, int channels, int split);

SYSTEMTIME Time(int year, int month, int day, int hour, int minute, int second);

// The picture converted to 32-bit pixels, as the screen should show it at 1:1.
QImage ExpectedRgb32(const std::vector<uint8_t>& picture, int width, int height);

// Largest difference of a colour component between two pixels.
int ComponentDiff(QRgb a, QRgb b);

// Records every frame handed over, as the AVI writer would receive it.
class CRecordingSink : public IExportSink {
public:
    CRecordingSink(int width, int height, int topDown = 0)
        : m_width(width), m_height(height), m_topDown(topDown) {}
    int GetExportFrameSize(int* width, int* height, int* topDown) override {
        *width = m_width;
        *height = m_height;
        *topDown = m_topDown;
        return 1;
    }
    int WriteVideoFrame(const uint8_t* pixels, int keyFrameFlag) override {
        frames.emplace_back(pixels, pixels + size_t(m_width) * m_height * 3);
        keyFlags.push_back(keyFrameFlag);
        return 200;
    }
    // B, G, R of pixel (x, y) of a frame, y counted from the top of the picture.
    QRgb Pixel(size_t frame, int x, int y) const;

    std::vector<std::vector<uint8_t>> frames;
    std::vector<int> keyFlags;

private:
    int m_width;
    int m_height;
    int m_topDown;
};

} // namespace tv::test
