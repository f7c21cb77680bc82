#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include "display/display_test_util.h"
#include "engine/avi_export_sink.h"
#include "export/avi_writer.h"

namespace tv {
namespace {

using test::FlatPicture;
using test::MakeWindow;
using test::Time;

// The video window's composed frames reach the engine's AVI writer through
// its frame header.
TEST(AviExportSink, FramesOfFourChannelsReachTheAviWriter) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (int direct : {1, 0}) {
        const std::string path =
            (dir.path() + (direct ? "/direct.avi" : "/plain.avi")).toStdString();
        CAviWriter writer;
        BITMAPINFOHEADER header;
        header.biWidth = 640;
        header.biHeight = 480;
        header.biBitCount = 24;
        header.biSizeImage = 640 * 480 * 3;
        ASSERT_EQ(writer.Open(path, 24, 6750, 640, 480, 300, &header, 7), 0);

        auto wnd = MakeWindow(640, 448, 4, 4);
        if (!direct) {
            CVideoWnd::SetDisplayFormat(8, 0, 1); // keeps the plain path under export
            wnd->SetUseDirectDraw(0);
        }
        CAviExportSink sink(&writer);
        wnd->SetExportSink(&sink);
        wnd->SetEngineMode(1);
        wnd->SetExportMode(1);
        for (int cycle = 0; cycle < 4; ++cycle) {
            for (int ch = 0; ch < 4; ++ch) {
                auto pic = FlatPicture(640, 224, static_cast<uint8_t>(50 + 40 * ch), 128, 128);
                wnd->Render(ch, Time(2021, 3, 4, 5, 6, cycle), pic.data(), 640, 224);
            }
        }
        wnd->SetExportMode(0);
        wnd->SetExportSink(nullptr);
        EXPECT_EQ(writer.GetVideoFramesWritten(), 3) << "direct " << direct;
        EXPECT_EQ(writer.Close(), 0);
        EXPECT_GT(QFileInfo(QString::fromStdString(path)).size(), 0);
        CVideoWnd::ForcePixelFormat(0);
    }
}

} // namespace
} // namespace tv
