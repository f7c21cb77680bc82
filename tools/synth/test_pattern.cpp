#include "synth/test_pattern.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tv::synth {

namespace {

struct Glyph {
    char c;
    uint8_t rows[7];
};

// clang-format off
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
};
// clang-format on

constexpr uint8_t kBlank[7] = {0, 0, 0, 0, 0, 0, 0};

struct Planes {
    uint8_t* y;
    uint8_t* u;
    uint8_t* v;
    int w, h;
};

Planes Split(uint8_t* yuv, int w, int h) {
    uint8_t* u = yuv + size_t(w) * h;
    return Planes{yuv, u, u + size_t(w) * h / 4, w, h};
}

// Fills a rectangle of the picture (luma at full, chroma at half resolution).
void FillRect(const Planes& p, int x0, int y0, int x1, int y1, uint8_t y, uint8_t u, uint8_t v) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, p.w);
    y1 = std::min(y1, p.h);
    for (int yy = y0; yy < y1; ++yy)
        std::memset(p.y + size_t(yy) * p.w + x0, y, size_t(std::max(0, x1 - x0)));
    for (int yy = y0 / 2; yy < y1 / 2; ++yy) {
        for (int xx = x0 / 2; xx < x1 / 2; ++xx) {
            p.u[size_t(yy) * (p.w / 2) + xx] = u;
            p.v[size_t(yy) * (p.w / 2) + xx] = v;
        }
    }
}

} // namespace

const uint8_t* FontGlyph(char c) {
    for (const Glyph& g : kFont) {
        if (g.c == c)
            return g.rows;
    }
    return kBlank;
}

void DrawText(uint8_t* yuv, int width, int height, int x, int y, int scale, const char* text,
              uint8_t fg, uint8_t bg) {
    if (yuv == nullptr || text == nullptr || scale < 1)
        return;
    const int n = int(std::strlen(text));
    const int cell = 6 * scale;
    for (int py = y - scale; py < y + 8 * scale; ++py) {
        if (py < 0 || py >= height)
            continue;
        for (int px = x - scale; px < x + n * cell; ++px) {
            if (px < 0 || px >= width)
                continue;
            uint8_t value = bg;
            const int cx = px - x;
            const int cy = py - y;
            if (cx >= 0 && cy >= 0 && cy < 7 * scale) {
                const int ci = cx / cell;
                const int gx = (cx % cell) / scale;
                if (gx < 5 && (FontGlyph(text[ci])[cy / scale] >> (4 - gx)) & 1)
                    value = fg;
            }
            yuv[size_t(py) * width + px] = value;
        }
    }
}

void DrawTestPattern(uint8_t* yuv, int width, int height, int channel, int frameIndex,
                     const char* clockText) {
    if (yuv == nullptr || width < 64 || height < 64)
        return;
    const Planes p = Split(yuv, width, height);

    // Background: horizontal luma ramp, chroma tinted by channel so that
    // channels are told apart even without reading the label.
    const uint8_t tintU = uint8_t(96 + (channel * 37) % 64);
    const uint8_t tintV = uint8_t(96 + (channel * 53) % 64);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.y[size_t(y) * width + x] = uint8_t(16 + (x * 219) / (width - 1));
    std::memset(p.u, tintU, size_t(width) * height / 4);
    std::memset(p.v, tintV, size_t(width) * height / 4);

    // Colour bars across the top third: white, yellow, cyan, green, magenta, red, blue, black.
    static const uint8_t kBars[8][3] = {{235, 128, 128}, {210, 16, 146},  {170, 166, 16},
                                        {145, 54, 34},   {106, 202, 222}, {81, 90, 240},
                                        {41, 240, 110},  {16, 128, 128}};
    const int barTop = 32;
    const int barBottom = height / 3;
    for (int i = 0; i < 8; ++i)
        FillRect(p, i * width / 8, barTop, (i + 1) * width / 8, barBottom, kBars[i][0], kBars[i][1],
                 kBars[i][2]);

    // Fine detail: one-pixel checkers at 16/24 (near black) and 228/236 (near white).
    const int detailTop = height - 48;
    FillRect(p, 0, detailTop, width, detailTop + 16, 0, 128, 128);
    for (int y = detailTop; y < detailTop + 16; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool odd = ((x + y) & 1) != 0;
            p.y[size_t(y) * width + x] =
                x < width / 2 ? uint8_t(odd ? 24 : 16) : uint8_t(odd ? 236 : 228);
        }
    }

    // A square moving left to right and a disc bouncing up and down.
    const int span = width - 48;
    const int sx = (frameIndex * 4) % (2 * span);
    const int squareX = sx < span ? sx : 2 * span - sx;
    FillRect(p, squareX, barBottom + 8, squareX + 48, barBottom + 56, 200, 60, 200);
    const int range = std::max(1, detailTop - barBottom - 48);
    const int dy = (frameIndex * 3) % (2 * range);
    const int discY = barBottom + 24 + (dy < range ? dy : 2 * range - dy);
    const int discX = width * 3 / 4;
    for (int y = discY - 20; y <= discY + 20; ++y) {
        for (int x = discX - 20; x <= discX + 20; ++x) {
            if ((x - discX) * (x - discX) + (y - discY) * (y - discY) <= 400 && y >= 0 &&
                y < height && x >= 0 && x < width) {
                p.y[size_t(y) * width + x] = 82;
                p.u[size_t(y / 2) * (width / 2) + x / 2] = 90;
                p.v[size_t(y / 2) * (width / 2) + x / 2] = 240;
            }
        }
    }

    // The burned-in channel and clock sit at the bottom, below the detail band,
    // so that the viewer's own label over the top of the picture never hides them.
    char label[16];
    std::snprintf(label, sizeof label, "CH%d", channel + 1);
    const int textY = height - 24;
    DrawText(yuv, width, height, 8, textY, 2, label, 235, 16);
    if (clockText != nullptr)
        DrawText(yuv, width, height, width - 8 - int(std::strlen(clockText)) * 12, textY, 2,
                 clockText, 235, 16);
}

} // namespace tv::synth
