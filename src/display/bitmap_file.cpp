#include "display/bitmap_file.h"

#include <QSaveFile>
#include <QString>
#include <algorithm>

#include "platform/win_types.h"

namespace tv {

std::vector<uint8_t> BuildDib24(const QImage& image) {
    QImage src = image.convertToFormat(QImage::Format_RGB32);
    const int w = src.width();
    const int h = src.height();
    const size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
    std::vector<uint8_t> dib(kBitmapInfoHeaderSize + stride * size_t(h), 0);
    BITMAPINFOHEADER info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<uint32_t>(stride * size_t(h));
    SerializeInfoHeader(info, dib.data());
    for (int y = 0; y < h; ++y) {
        const auto* s = reinterpret_cast<const uint32_t*>(src.constScanLine(y));
        uint8_t* d = dib.data() + kBitmapInfoHeaderSize + stride * size_t(h - 1 - y);
        for (int x = 0; x < w; ++x) {
            uint32_t p = s[x];
            d[3 * x] = static_cast<uint8_t>(p);
            d[3 * x + 1] = static_cast<uint8_t>(p >> 8);
            d[3 * x + 2] = static_cast<uint8_t>(p >> 16);
        }
    }
    return dib;
}

uint32_t BitmapPixelDataOffset(const uint8_t* dib, size_t size) {
    if (dib == nullptr || size < kBitmapInfoHeaderSize) {
        return 0;
    }
    const uint64_t base = kBitmapFileHeaderSize + 40;
    const uint32_t bits = GetLe16(dib + 14);
    const uint32_t compression = GetLe32(dib + 16);
    const uint64_t used = GetLe32(dib + 32);
    uint64_t offset;
    if (compression == 0 && bits > 8 && used == 0) {
        offset = base;
    } else if (compression == 3) {
        offset = base + 12 + 4 * used;
    } else if (compression <= 3) {
        // A palette of 2^bits entries; a depth beyond 32 bits is not a real
        // header, and the cap keeps the shift defined.
        offset = base + 4 * (used != 0 ? used : (uint64_t(1) << std::min<uint32_t>(bits, 32)));
    } else {
        offset = base;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(offset, UINT32_MAX));
}

int WriteBitmapFile(const std::string& path, const std::vector<uint8_t>& dib,
                    std::string* errorText) {
    auto fail = [&](const std::string& text) {
        if (errorText != nullptr) {
            *errorText = text;
        }
        return 0;
    };
    if (path.empty()) {
        return fail("No file name given for the picture.");
    }
    if (dib.size() < kBitmapInfoHeaderSize || dib.size() > UINT32_MAX - kBitmapFileHeaderSize) {
        return fail("No picture to save.");
    }
    BITMAPFILEHEADER fh;
    fh.bfSize = static_cast<uint32_t>(dib.size() + kBitmapFileHeaderSize);
    fh.bfOffBits = BitmapPixelDataOffset(dib.data(), dib.size());
    uint8_t header[kBitmapFileHeaderSize];
    SerializeFileHeader(fh, header);

    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        return fail("Cannot create " + path + ": " + file.errorString().toStdString());
    }
    if (file.write(reinterpret_cast<const char*>(header), sizeof(header)) !=
            qint64(sizeof(header)) ||
        file.write(reinterpret_cast<const char*>(dib.data()), qint64(dib.size())) !=
            qint64(dib.size())) {
        file.cancelWriting();
        return fail("Cannot write " + path + ": " + file.errorString().toStdString());
    }
    if (!file.commit()) {
        return fail("Cannot write " + path + ": " + file.errorString().toStdString());
    }
    return 1;
}

} // namespace tv
