#include "sample_pictures.h"

#include <algorithm>

namespace tv::bench {
namespace {

struct Yuv {
    int y, u, v;
};

Yuv FromRgb(int r, int g, int b) {
    // Full-range coefficients, the inverse of what the window's conversion uses.
    int y = (299 * r + 587 * g + 114 * b) / 1000;
    int u = 128 + (-169 * r - 331 * g + 500 * b) / 1000;
    int v = 128 + (500 * r - 419 * g - 81 * b) / 1000;
    return {std::clamp(y, 0, 255), std::clamp(u, 0, 255), std::clamp(v, 0, 255)};
}

Yuv Scene(int kind, int x, int y, int w, int h, int frame) {
    switch (kind % 6) {
    case 0: {
        static const int bars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235},
                                       {16, 235, 16},   {235, 16, 235}, {235, 16, 16},
                                       {16, 16, 235},   {16, 16, 16}};
        const int* c = bars[(((x + frame * 2) % w) * 8 / w) % 8];
        return FromRgb(c[0], c[1], c[2]);
    }
    case 1:
        return y < h / 2 ? FromRgb(150 + y * 100 / h, 200, 250) : FromRgb(30, 40 + (x % 40), 20);
    case 2:
        return FromRgb(245, 245, 240 - ((x + y + frame) % 64 == 0 ? 80 : 0));
    case 3: {
        bool light =
            (x - w / 2 - (frame % 50)) * (x - w / 2 - (frame % 50)) + (y - h / 3) * (y - h / 3) <
            400;
        return light ? FromRgb(255, 240, 180) : FromRgb(8, 10, 20);
    }
    case 4: {
        int g = (x + y + frame * 3) * 255 / (w + h);
        bool check = ((x / 16) + (y / 16)) % 2 == 0 && x > w / 2;
        return check ? FromRgb(255 - (g % 256), 60, g % 256) : FromRgb(g % 256, g % 256, g % 256);
    }
    default: {
        int t = x * 255 / w;
        if (y < h / 3) {
            return FromRgb(t, 0, 0);
        }
        if (y < 2 * h / 3) {
            return FromRgb(0, t, 0);
        }
        return FromRgb(0, 0, t);
    }
    }
}

} // namespace

std::vector<uint8_t> SamplePicture(int width, int height, int kind, int frame) {
    std::vector<uint8_t> pic(size_t(width) * height * 3 / 2);
    uint8_t* luma = pic.data();
    uint8_t* cb = luma + size_t(width) * height;
    uint8_t* cr = cb + size_t(width / 2) * (height / 2);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Yuv c = Scene(kind, x, y, width, height, frame);
            luma[size_t(y) * width + x] = static_cast<uint8_t>(c.y);
            if ((x % 2) == 0 && (y % 2) == 0) {
                cb[size_t(y / 2) * (width / 2) + x / 2] = static_cast<uint8_t>(c.u);
                cr[size_t(y / 2) * (width / 2) + x / 2] = static_cast<uint8_t>(c.v);
            }
        }
    }
    return pic;
}

} // namespace tv::bench
