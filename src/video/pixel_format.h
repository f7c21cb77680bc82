#pragma once

namespace tv {

// Display pixel formats; the codes are the ones the presenter derives from the
// screen's bits per pixel and red mask, 0 meaning a format it cannot draw.
enum PixelFormat {
    PF_UNKNOWN = 0,
    PF_RGB555 = 1,
    PF_RGB565 = 2,
    PF_BGR565 = 3,
    PF_RGB24 = 4,
    PF_RGB32 = 5,
};

// Bytes per pixel of a format, 0 for PF_UNKNOWN or anything else.
inline int PixelFormatBytes(int format) {
    switch (format) {
    case PF_RGB555:
    case PF_RGB565:
    case PF_BGR565:
        return 2;
    case PF_RGB24:
        return 3;
    case PF_RGB32:
        return 4;
    default:
        return 0;
    }
}

} // namespace tv
