#include <gtest/gtest.h>

#include "compose/split_frame.h"
#include "display_test_util.h"
#include "video/pixel_format.h"

#include <cstring>

namespace tv {
namespace {

using test::CRecordingSink;
using test::FlatPicture;
using test::MakeWindow;
using test::Time;

int ComponentDiffLE(QRgb a, QRgb b, int tolerance) {
    return test::ComponentDiff(a, b) <= tolerance ? 1 : 0;
}

class DisplayExport : public ::testing::Test {
protected:
    void TearDown() override { CVideoWnd::ForcePixelFormat(0); }

    // Four channels of distinct grey levels, played in cycles 0, 1, 2, 3.
    void PlayCycles(CVideoWnd& wnd, int cycles) {
        for (int c = 0; c < cycles; ++c) {
            for (int ch = 0; ch < 4; ++ch) {
                auto pic = FlatPicture(640, 224, kLumas[ch], 128, 128);
                wnd.Render(ch, Time(2021, 3, 4, 5, 6, c), pic.data(), 640, 224);
            }
        }
    }

    static constexpr uint8_t kLumas[4] = {40, 100, 160, 220};
};

// One export frame per cycle of the playing channels, written when the first
// channel delivers its next picture; each quarter of the frame shows its channel.
TEST_F(DisplayExport, FourChannelsGiveOneFramePerCycleOnBothPaths) {
    for (int format : {1, 2, 3, 4, 5, 0}) {
        CVideoWnd::ForcePixelFormat(format == 0 ? PF_RGB32 : format);
        auto wnd = MakeWindow(640, 448, 4, 4);
        CRecordingSink sink(640, 480);
        wnd->SetExportSink(&sink);
        wnd->SetEngineMode(1);
        if (format == 0) {
            wnd->SetUseDirectDraw(0);
        }
        wnd->SetExportMode(1);
        if (format == 0) {
            // An export forces the surface path on; a palette display keeps
            // the plain path.
            CVideoWnd::SetDisplayFormat(8, 0, 1);
        }
        PlayCycles(*wnd, 3);
        ASSERT_EQ(sink.frames.size(), 2u) << "format " << format;
        EXPECT_EQ(sink.keyFlags[0], 1);
        EXPECT_EQ(wnd->IsDirectDrawActive(), format == 0 ? 0 : 1);
        const int tolerance = PixelFormatBytes(format) == 2 ? 8 : 0;
        const int probes[4][2] = {{100, 120}, {500, 120}, {100, 400}, {500, 400}};
        for (int ch = 0; ch < 4; ++ch) {
            QRgb px = sink.Pixel(1, probes[ch][0], probes[ch][1]);
            EXPECT_NEAR(qGreen(px), kLumas[ch], tolerance) << "format " << format << " ch " << ch;
            EXPECT_NEAR(qRed(px), kLumas[ch], tolerance) << "format " << format;
            EXPECT_NEAR(qBlue(px), kLumas[ch], tolerance) << "format " << format;
        }
        // The channel label is drawn on the frame whatever the screen shows.
        QRgb textColour = qRgb(0xFF, 0xFF, 0x80);
        int labelPixels = 0;
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 200; ++x) {
                labelPixels += ComponentDiffLE(sink.Pixel(1, x, y), textColour, tolerance);
            }
        }
        EXPECT_GT(labelPixels, 20) << "format " << format;
        wnd->SetExportSink(nullptr);
        CVideoWnd::ForcePixelFormat(0);
    }
}

TEST_F(DisplayExport, NothingIsComposedInLiveViewOrWithExportOff) {
    auto wnd = MakeWindow(640, 448, 4, 4);
    CRecordingSink sink(640, 480);
    wnd->SetExportSink(&sink);
    wnd->SetEngineMode(2);
    wnd->SetExportMode(1);
    PlayCycles(*wnd, 3);
    EXPECT_TRUE(sink.frames.empty());
    wnd->SetEngineMode(1);
    wnd->SetExportMode(0);
    PlayCycles(*wnd, 3);
    EXPECT_TRUE(sink.frames.empty());
}

TEST_F(DisplayExport, FrameLargerThanTheExportBufferIsRefused) {
    for (int direct : {1, 0}) {
        auto wnd = MakeWindow(640, 448, 4, 4);
        CRecordingSink sink(800, 600);
        wnd->SetExportSink(&sink);
        wnd->SetEngineMode(1);
        wnd->SetExportMode(1);
        if (!direct) {
            CVideoWnd::SetDisplayFormat(8, 0, 1);
            wnd->SetUseDirectDraw(0);
        }
        PlayCycles(*wnd, 3);
        EXPECT_TRUE(sink.frames.empty());
        EXPECT_EQ(wnd->GetLastErrorText(), "Failed to create AVI surface.");
        CVideoWnd::ForcePixelFormat(0);
    }
}

TEST_F(DisplayExport, TopDownWriterGetsRowsInItsOrder) {
    auto wnd = MakeWindow(640, 448, 4, 4);
    CRecordingSink sink(704, 480, 1);
    wnd->SetExportSink(&sink);
    wnd->SetEngineMode(1);
    wnd->SetExportMode(1);
    PlayCycles(*wnd, 2);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(qGreen(sink.Pixel(0, 100, 100)), kLumas[0]);
    EXPECT_EQ(qGreen(sink.Pixel(0, 600, 400)), kLumas[3]);
}

TEST_F(DisplayExport, ClearStartsANewFrame) {
    auto wnd = MakeWindow(640, 448, 4, 4);
    CRecordingSink sink(640, 480);
    wnd->SetExportSink(&sink);
    wnd->SetEngineMode(1);
    wnd->SetExportMode(1);
    PlayCycles(*wnd, 1);
    wnd->Clear();
    PlayCycles(*wnd, 1);
    EXPECT_TRUE(sink.frames.empty());
    PlayCycles(*wnd, 1);
    EXPECT_EQ(sink.frames.size(), 1u);
}

// What the window writes to an export and what the headless exports compose
// for the same pictures are the same bytes, labels aside, whichever path the
// window draws the screen through.
TEST_F(DisplayExport, WindowFramesEqualTheHeadlessComposition) {
    std::vector<std::vector<uint8_t>> pics;
    for (int ch = 0; ch < 4; ++ch) {
        pics.push_back(test::PatternPicture(640, 224, ch));
    }
    CSplitComposer headless(640, 480);
    headless.SetLayout(4, 0, 4);
    for (int ch = 0; ch < 4; ++ch) {
        headless.Add(ch, pics[size_t(ch)].data(), 640, 224, Time(2021, 3, 4, 5, 6, 0));
    }
    for (int format : {int(PF_RGB565), int(PF_RGB32), 0}) {
        CVideoWnd::ForcePixelFormat(format == 0 ? PF_RGB32 : format);
        auto wnd = MakeWindow(640, 448, 4, 4);
        if (format == 0) {
            wnd->SetUseDirectDraw(0);
            CVideoWnd::SetDisplayFormat(8, 0, 1);
        }
        CRecordingSink sink(640, 480);
        wnd->SetExportSink(&sink);
        wnd->SetEngineMode(1);
        wnd->SetExportMode(1);
        for (int c = 0; c < 2; ++c) {
            for (int ch = 0; ch < 4; ++ch) {
                wnd->Render(ch, Time(2021, 3, 4, 5, 6, c), pics[size_t(ch)].data(), 640, 224);
            }
        }
        ASSERT_EQ(sink.frames.size(), 1u) << "format " << format;
        EXPECT_EQ(wnd->IsDirectDrawActive(), format == 0 ? 0 : 1);
        int differing = 0;
        for (int y = 0; y < 480; ++y) {
            if (y % 240 < 26) {
                continue; // the labels' rows
            }
            differing +=
                std::memcmp(sink.frames[0].data() + size_t(479 - y) * 640 * 3,
                            headless.Frame().Data() + size_t(479 - y) * 640 * 3, 640 * 3) != 0;
        }
        EXPECT_EQ(differing, 0) << "format " << format;
        wnd->SetExportSink(nullptr);
        CVideoWnd::ForcePixelFormat(0);
    }
}

} // namespace
} // namespace tv
