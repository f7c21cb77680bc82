#include <gtest/gtest.h>

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include "display/bitmap_file.h"
#include "display_test_util.h"
#include "platform/win_types.h"

namespace tv {
namespace {

using test::MakeWindow;
using test::PatternPicture;
using test::Time;

std::vector<uint8_t> InfoHeader(uint16_t bits, uint32_t compression, uint32_t used) {
    std::vector<uint8_t> dib(40, 0);
    BITMAPINFOHEADER h;
    h.biWidth = 4;
    h.biHeight = 4;
    h.biBitCount = bits;
    h.biCompression = compression;
    h.biClrUsed = used;
    SerializeInfoHeader(h, dib.data());
    return dib;
}

TEST(DisplayBitmapFile, PixelDataOffsetFollowsTheInfoHeader) {
    auto offset = [](uint16_t bits, uint32_t compression, uint32_t used) {
        auto dib = InfoHeader(bits, compression, used);
        return BitmapPixelDataOffset(dib.data(), dib.size());
    };
    EXPECT_EQ(offset(24, 0, 0), 54u);
    EXPECT_EQ(offset(32, 0, 0), 54u);
    EXPECT_EQ(offset(32, 3, 0), 66u); // three colour masks
    EXPECT_EQ(offset(16, 3, 5), 86u); // masks and a table
    EXPECT_EQ(offset(8, 0, 0), 54u + 1024u);
    EXPECT_EQ(offset(8, 0, 16), 54u + 64u);
    EXPECT_EQ(offset(24, 0, 3), 54u + 12u);
    EXPECT_EQ(offset(4, 2, 0), 54u + 64u);
    EXPECT_EQ(offset(8, 1, 0), 54u + 1024u);
    EXPECT_EQ(offset(24, 4, 0), 54u); // compressed formats carry no table here
    EXPECT_EQ(offset(24, 5, 9), 54u);
    auto shortBlock = InfoHeader(24, 0, 0);
    EXPECT_EQ(BitmapPixelDataOffset(shortBlock.data(), 39), 0u);
}

// The file holds the 14-byte header and the block with the window's picture,
// labels included; the clipboard holds the same picture.
TEST(DisplayStillImage, FileHeaderAndPixelsMatchTheWindow) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (int direct : {1, 0}) {
        auto wnd = MakeWindow(333, 201, 4, 4); // rows need padding
        wnd->SetUseDirectDraw(direct);
        wnd->SetShowLabels(1);
        for (int ch = 0; ch < 4; ++ch) {
            auto pic = PatternPicture(640, 272, ch);
            wnd->Render(ch, Time(2026, 12, 6, 15, 30, 5), pic.data(), 640, 272);
        }
        const std::string path = (dir.path() + "/20261206-153005.bmp").toStdString();
        ASSERT_EQ(wnd->SaveImage(path), 1) << wnd->GetLastErrorText();
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
        const size_t stride = (333 * 3 + 3) & ~3u;
        ASSERT_EQ(size_t(bytes.size()), 14 + 40 + stride * 201);
        EXPECT_EQ(GetLe16(p), 0x4D42);
        EXPECT_EQ(GetLe32(p + 2), uint32_t(bytes.size()));
        EXPECT_EQ(GetLe16(p + 6), 0);
        EXPECT_EQ(GetLe16(p + 8), 0);
        EXPECT_EQ(GetLe32(p + 10), 54u);
        EXPECT_EQ(GetLe32(p + 14), 40u);
        EXPECT_EQ(int32_t(GetLe32(p + 18)), 333);
        EXPECT_EQ(int32_t(GetLe32(p + 22)), 201);
        EXPECT_EQ(GetLe16(p + 26), 1);
        EXPECT_EQ(GetLe16(p + 28), 24);
        EXPECT_EQ(GetLe32(p + 30), 0u);

        const QImage shown = wnd->GrabClient();
        for (int y = 0; y < 201; ++y) {
            const uint8_t* row = p + 54 + stride * size_t(200 - y);
            for (int x = 0; x < 333; ++x) {
                const QRgb px = shown.pixel(x, y);
                ASSERT_EQ(qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]), px | 0xFF000000u)
                    << "direct " << direct << " at " << x << "," << y;
            }
        }
        QClipboard* clipboard = QGuiApplication::clipboard();
        ASSERT_NE(clipboard, nullptr);
        EXPECT_EQ(clipboard->image().convertToFormat(QImage::Format_RGB32), shown);
    }
}

TEST(DisplayStillImage, UnwritablePathReportsFailureAndWritesNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto wnd = MakeWindow(64, 48, 1, 1);
    const std::string path = (dir.path() + "/missing/parent/x.bmp").toStdString();
    EXPECT_EQ(wnd->SaveImage(path), 0);
    EXPECT_FALSE(wnd->GetLastErrorText().empty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
    EXPECT_EQ(wnd->SaveImage(""), 0);
}

TEST(DisplayStillImage, ExistingFileIsReplaced) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/same.bmp";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(100000, 'z'));
    }
    auto wnd = MakeWindow(20, 10, 1, 1);
    ASSERT_EQ(wnd->SaveImage(path.toStdString()), 1);
    EXPECT_EQ(QFile(path).size(), 14 + 40 + 60 * 10);
}

} // namespace
} // namespace tv
