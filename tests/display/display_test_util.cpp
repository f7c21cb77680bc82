#include "display_test_util.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "video/color_convert.h"

namespace tv::test {

std::vector<uint8_t> FlatPicture(int width, int height, uint8_t y, uint8_t u, uint8_t v) {
    std::vector<uint8_t> pic(size_t(width) * height * 3 / 2);
    const size_t luma = size_t(width) * height;
    std::memset(pic.data(), y, luma);
    std::memset(pic.data() + luma, u, luma / 4);
    std::memset(pic.data() + luma + luma / 4, v, luma / 4);
    return pic;
}

std::vector<uint8_t> PatternPicture(int width, int height, int seed) {
    std::vector<uint8_t> pic(size_t(width) * height * 3 / 2);
    uint32_t state = 2463534242u ^ static_cast<uint32_t>(seed);
    for (auto& b : pic) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<uint8_t>(state >> 24);
    }
    return pic;
}

std::unique_ptr<CVideoWnd> MakeWindow(int width, int height, int channels, int split) {
    auto wnd = std::make_unique<CVideoWnd>();
    wnd->SetChannelCount(channels);
    wnd->resize(width, height);
    wnd->show();
    wnd->SetSplit(split, 0);
    return wnd;
}

SYSTEMTIME Time(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME t;
    t.wYear = static_cast<uint16_t>(year);
    t.wMonth = static_cast<uint16_t>(month);
    t.wDay = static_cast<uint16_t>(day);
    t.wHour = static_cast<uint16_t>(hour);
    t.wMinute = static_cast<uint16_t>(minute);
    t.wSecond = static_cast<uint16_t>(second);
    return t;
}

QImage ExpectedRgb32(const std::vector<uint8_t>& picture, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    YuvToRgb32(image.bits(), static_cast<int>(image.bytesPerLine()), picture.data(), width, height);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            row[x] |= 0xFF000000u;
        }
    }
    return image;
}

int ComponentDiff(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

QRgb CRecordingSink::Pixel(size_t frame, int x, int y) const {
    const int row = m_topDown ? y : m_height - 1 - y;
    const uint8_t* p = frames[frame].data() + (size_t(row) * m_width + x) * 3;
    return qRgb(p[2], p[1], p[0]);
}

} // namespace tv::test
