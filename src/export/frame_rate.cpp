#include "export/frame_rate.h"

#include "platform/video_format.h"

#include <bit>

namespace tv {

double PlayerCycleRate(uint32_t channelMask, int frameGap, int formatCode, bool lines272) {
    const double a = lines272 ? 25 : 30;
    const int n = std::popcount(channelMask & 0xFFFFu);
    if (n == 0) {
        return a;
    }
    int b;
    if (formatCode == VF_QZF || formatCode == VF_QZD) {
        b = lines272 ? 25 : 30;
    } else if (formatCode == VF_QZB3) {
        b = lines272 ? 100 : 120;
    } else {
        b = lines272 ? 50 : 60;
    }
    // A negative gap would divide by zero or flip the sign; the recorder never
    // writes one, so treat it as no gap.
    const double g = frameGap < 0 ? 1.0 : static_cast<double>(frameGap) + 1.0;
    const double shared = static_cast<double>(b) / g / static_cast<double>(n);
    return shared < a ? shared : a;
}

int PlayerExportFrameRate(bool lines272) {
    return lines272 ? 25 : 30;
}

int ClientExportFrameRate(bool lines272, bool timerPaced) {
    return (lines272 || timerPaced) ? 25 : 30;
}

} // namespace tv
