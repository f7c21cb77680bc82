#include "platform/win_types.h"

namespace tv {

void SerializeFileHeader(const BITMAPFILEHEADER& h, uint8_t out[kBitmapFileHeaderSize]) {
    PutLe16(out + 0, h.bfType);
    PutLe32(out + 2, h.bfSize);
    PutLe16(out + 6, h.bfReserved1);
    PutLe16(out + 8, h.bfReserved2);
    PutLe32(out + 10, h.bfOffBits);
}

void SerializeInfoHeader(const BITMAPINFOHEADER& h, uint8_t out[kBitmapInfoHeaderSize]) {
    PutLe32(out + 0, h.biSize);
    PutLe32(out + 4, static_cast<uint32_t>(h.biWidth));
    PutLe32(out + 8, static_cast<uint32_t>(h.biHeight));
    PutLe16(out + 12, h.biPlanes);
    PutLe16(out + 14, h.biBitCount);
    PutLe32(out + 16, h.biCompression);
    PutLe32(out + 20, h.biSizeImage);
    PutLe32(out + 24, static_cast<uint32_t>(h.biXPelsPerMeter));
    PutLe32(out + 28, static_cast<uint32_t>(h.biYPelsPerMeter));
    PutLe32(out + 32, h.biClrUsed);
    PutLe32(out + 36, h.biClrImportant);
}

void SerializeWaveFormat(const WAVEFORMATEX& w, uint8_t out[18]) {
    PutLe16(out + 0, w.wFormatTag);
    PutLe16(out + 2, w.nChannels);
    PutLe32(out + 4, w.nSamplesPerSec);
    PutLe32(out + 8, w.nAvgBytesPerSec);
    PutLe16(out + 12, w.nBlockAlign);
    PutLe16(out + 14, w.wBitsPerSample);
    PutLe16(out + 16, w.cbSize);
}

namespace {

// Unicode code points of Windows-1252 bytes 0x80..0x9F (0 where undefined).
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char EncodeCodePoint(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        return static_cast<char>(cp);
    }
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] != 0 && kCp1252High[i] == cp) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

} // namespace

std::string ToWindows1252(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    size_t n = utf8.size();
    size_t i = 0;
    while (i < n) {
        uint8_t c = s[i];
        uint32_t cp = 0;
        int extra = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            out.push_back('?');
            ++i;
            continue;
        }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= n || (s[i + k] & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (!ok) {
            out.push_back('?');
            ++i;
            continue;
        }
        out.push_back(EncodeCodePoint(cp));
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

} // namespace tv
