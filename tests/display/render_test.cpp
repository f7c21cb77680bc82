#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <cstring>
#include <thread>

#include "display/dd_error.h"
#include "display/display_device.h"
#include "display_test_util.h"
#include "video/color_convert.h"
#include "video/pixel_format.h"

namespace tv {
namespace {

using test::ComponentDiff;
using test::ExpectedRgb32;
using test::FlatPicture;
using test::MakeWindow;
using test::PatternPicture;
using test::Time;

class DisplayRender : public ::testing::Test {
protected:
    void TearDown() override {
        CVideoWnd::ForcePixelFormat(0);
        CDisplayDevice::SetSurfaceMemoryLimit(0);
    }
};

// Largest component difference between what the window shows and the picture.
int MaxDiff(const QImage& shown, const QImage& expected) {
    int worst = 0;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            worst = std::max(worst, ComponentDiff(shown.pixel(x, y), expected.pixel(x, y)));
        }
    }
    return worst;
}

// Each forced surface format goes through its own conversion: the back
// surface holds exactly what that conversion writes, and the screen shows the
// picture's colours within the format's precision.
TEST_F(DisplayRender, EveryPixelFormatUsesItsConversion) {
    const auto pic = PatternPicture(640, 224, 7);
    const QImage expected = ExpectedRgb32(pic, 640, 224);
    for (int format : {PF_RGB555, PF_RGB565, PF_BGR565, PF_RGB24, PF_RGB32}) {
        CVideoWnd::ForcePixelFormat(format);
        auto wnd = MakeWindow(640, 224, 1, 1);
        ASSERT_EQ(wnd->IsDirectDrawActive(), 1) << wnd->GetLastErrorText();
        ASSERT_EQ(wnd->GetPixelFormat(), format);
        ASSERT_EQ(wnd->Render(0, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 224), 1);

        QImage back = wnd->GetBackSurface();
        ASSERT_EQ(back.size(), QSize(640, 224));
        const int pitch = static_cast<int>(back.bytesPerLine());
        std::vector<uint8_t> want(size_t(pitch) * 224, 0);
        ASSERT_EQ(YuvToPixelFormat(format, want.data(), pitch, pic.data(), 640, 224), 1);
        const int rowBytes = 640 * PixelFormatBytes(format);
        for (int y = 0; y < 224; ++y) {
            ASSERT_EQ(std::memcmp(back.constScanLine(y), want.data() + size_t(pitch) * y, rowBytes),
                      0)
                << "format " << format << " row " << y;
        }
        const int tolerance = PixelFormatBytes(format) == 2 ? 8 : 0;
        EXPECT_LE(MaxDiff(wnd->GrabClient(), expected), tolerance) << "format " << format;
    }
}

TEST_F(DisplayRender, PlainPathShowsTheDibConversion) {
    auto wnd = MakeWindow(640, 272, 1, 1);
    wnd->SetUseDirectDraw(0);
    EXPECT_EQ(wnd->IsDirectDrawActive(), 0);
    EXPECT_EQ(wnd->GetPixelFormat(), 0);
    const auto pic = PatternPicture(640, 272, 3);
    ASSERT_EQ(wnd->Render(0, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 272), 1);
    EXPECT_EQ(MaxDiff(wnd->GrabClient(), ExpectedRgb32(pic, 640, 272)), 0);
}

TEST_F(DisplayRender, RefusedPicturesChangeNothing) {
    auto wnd = MakeWindow(640, 224, 4, 4);
    const auto pic = FlatPicture(704, 576, 200, 128, 128);
    const QImage before = wnd->GrabClient();
    EXPECT_EQ(wnd->Render(0, Time(2020, 1, 1, 0, 0, 0), pic.data(), 352, 288), 0);
    EXPECT_EQ(wnd->Render(0, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 240), 0);
    EXPECT_EQ(wnd->Render(4, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 224), 0);
    EXPECT_EQ(wnd->Render(-1, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 224), 0);
    EXPECT_EQ(wnd->Render(0, Time(2020, 1, 1, 0, 0, 0), nullptr, 640, 224), 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(wnd->HasPicture(i), 0);
    }
    EXPECT_EQ(wnd->GrabClient(), before);
    // Refused pictures do not count towards the export picture size.
    int pw = 0, ph = 0;
    wnd->GetPictureSize(&pw, &ph);
    EXPECT_EQ(pw, 640);
    EXPECT_EQ(ph, 224);
    // Every accepted size is drawn.
    for (int w : {320, 640}) {
        for (int h : {112, 136, 224, 272}) {
            EXPECT_EQ(wnd->Render(1, Time(2020, 1, 1, 0, 0, 0), pic.data(), w, h), 1) << w << h;
        }
    }
    // A 272-line recording exports 544-line frames.
    wnd->GetPictureSize(&pw, &ph);
    EXPECT_EQ(pw, 640);
    EXPECT_EQ(ph, 272);
}

// Uniform pictures of four colours in a 2 x 2 split at an odd size: every
// window pixel shows its own cell's colour, on both paths.
TEST_F(DisplayRender, SplitCellsMeetWithoutSeams) {
    const uint8_t lumas[4] = {40, 90, 160, 230};
    for (int direct : {1, 0}) {
        auto wnd = MakeWindow(801, 601, 4, 4);
        wnd->SetUseDirectDraw(direct);
        for (int ch = 0; ch < 4; ++ch) {
            auto pic = FlatPicture(ch % 2 ? 320 : 640, ch < 2 ? 224 : 136, lumas[ch], 128, 128);
            ASSERT_EQ(wnd->Render(ch, Time(2020, 1, 1, 0, 0, 0), pic.data(), ch % 2 ? 320 : 640,
                                  ch < 2 ? 224 : 136),
                      1);
        }
        QImage shown = wnd->GrabClient();
        for (int ch = 0; ch < 4; ++ch) {
            RECT r = wnd->GetChannelRect(ch);
            for (int y = r.top; y < r.bottom; ++y) {
                for (int x = r.left; x < r.right; ++x) {
                    ASSERT_EQ(qGreen(shown.pixel(x, y)), lumas[ch])
                        << "direct " << direct << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST_F(DisplayRender, PaletteDisplayFallsBackToPlainPath) {
    CVideoWnd::SetDisplayFormat(8, 0, 1);
    auto wnd = MakeWindow(640, 224, 1, 1);
    wnd->SetUseDirectDraw(1);
    EXPECT_EQ(wnd->IsDirectDrawActive(), 0);
    EXPECT_EQ(wnd->GetLastErrorText(), "Not support palette mode.");
    const auto pic = PatternPicture(640, 224, 9);
    ASSERT_EQ(wnd->Render(0, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 224), 1);
    EXPECT_EQ(MaxDiff(wnd->GrabClient(), ExpectedRgb32(pic, 640, 224)), 0);
}

TEST_F(DisplayRender, SixteenBitWithRedMask7C00IsUnknown) {
    CVideoWnd::SetDisplayFormat(16, 0x7C00, 0);
    auto wnd = MakeWindow(640, 224, 1, 1);
    wnd->SetUseDirectDraw(1);
    EXPECT_EQ(wnd->IsDirectDrawActive(), 0);
    EXPECT_EQ(wnd->GetLastErrorText(), "Unknown pixel format");
    const auto pic = PatternPicture(640, 224, 2);
    ASSERT_EQ(wnd->Render(0, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 224), 1);
    EXPECT_EQ(MaxDiff(wnd->GrabClient(), ExpectedRgb32(pic, 640, 224)), 0);
}

TEST_F(DisplayRender, BackSurfaceWithoutMemoryFallsBackToPlainPath) {
    CVideoWnd::ForcePixelFormat(PF_RGB32);
    const int64_t inUse = CDisplayDevice::SurfaceMemoryInUse();
    // Room for the 640 x 272 video surface, not for a 640 x 480 back surface.
    CDisplayDevice::SetSurfaceMemoryLimit(inUse + 640 * 272 * 4 + 1000);
    auto wnd = MakeWindow(640, 480, 1, 1);
    EXPECT_EQ(wnd->IsDirectDrawActive(), 0);
    EXPECT_EQ(wnd->GetLastErrorText(), "Failed to create back surface.");
    const auto pic = PatternPicture(640, 224, 4);
    EXPECT_EQ(wnd->Render(0, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 224), 1);
    // A later resize does not retry; switching the setting on again does.
    CDisplayDevice::SetSurfaceMemoryLimit(0);
    wnd->resize(640, 481);
    EXPECT_EQ(wnd->IsDirectDrawActive(), 0);
    wnd->SetUseDirectDraw(1);
    EXPECT_EQ(wnd->IsDirectDrawActive(), 1);
    EXPECT_EQ(DDErrorText(DDERR_OUTOFVIDEOMEMORY),
              std::string("DirectDraw does not have enough display memory to perform the "
                          "operation."));
}

TEST_F(DisplayRender, SwitchingPathsKeepsEveryChannelOnScreen) {
    auto wnd = MakeWindow(640, 448, 4, 4);
    ASSERT_EQ(wnd->IsDirectDrawActive(), 1);
    const uint8_t lumas[4] = {30, 80, 130, 180};
    for (int ch = 0; ch < 4; ++ch) {
        auto pic = FlatPicture(640, 224, lumas[ch], 128, 128);
        wnd->Render(ch, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 224);
    }
    for (int direct : {0, 1}) {
        wnd->SetUseDirectDraw(direct);
        EXPECT_EQ(wnd->IsDirectDrawActive(), direct);
        QImage shown = wnd->GrabClient();
        for (int ch = 0; ch < 4; ++ch) {
            RECT r = wnd->GetChannelRect(ch);
            EXPECT_EQ(qGreen(shown.pixel(r.left + 100, r.top + 100)), lumas[ch]) << direct;
        }
    }
}

TEST_F(DisplayRender, ClearBlanksEveryChannelOnBothPaths) {
    for (int direct : {1, 0}) {
        auto wnd = MakeWindow(640, 448, 4, 4);
        wnd->SetUseDirectDraw(direct);
        auto pic = FlatPicture(640, 224, 200, 128, 128);
        for (int ch = 0; ch < 4; ++ch) {
            wnd->Render(ch, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 224);
        }
        wnd->Clear();
        QImage shown = wnd->GrabClient();
        for (int ch = 0; ch < 4; ++ch) {
            EXPECT_EQ(wnd->HasPicture(ch), 0);
            RECT r = wnd->GetChannelRect(ch);
            EXPECT_EQ(shown.pixel(r.left + 50, r.top + 50) & 0xFFFFFF, 0u) << direct;
            EXPECT_EQ(shown.pixel(r.right - 1, r.bottom - 1) & 0xFFFFFF, 0u) << direct;
        }
    }
}

// A display mode change loses the surfaces: the first picture fails to lock,
// the second sets the surfaces up again in the new format, the third shows.
TEST_F(DisplayRender, DisplayModeChangeRecoversOnTheThirdPicture) {
    CVideoWnd::ForcePixelFormat(PF_RGB32);
    auto wnd = MakeWindow(640, 224, 1, 1);
    const auto pic = PatternPicture(640, 224, 5);
    ASSERT_EQ(wnd->Render(0, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 224), 1);
    CVideoWnd::ForcePixelFormat(PF_RGB565);
    EXPECT_EQ(wnd->Render(0, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 224), 0);
    EXPECT_EQ(wnd->GetLastErrorText(), DDErrorText(DDERR_SURFACELOST));
    EXPECT_EQ(wnd->Render(0, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 224), 0);
    EXPECT_EQ(wnd->Render(0, Time(2020, 1, 1, 0, 0, 0), pic.data(), 640, 224), 1);
    EXPECT_EQ(wnd->GetPixelFormat(), PF_RGB565);
    EXPECT_LE(MaxDiff(wnd->GrabClient(), ExpectedRgb32(pic, 640, 224)), 8);
}

TEST_F(DisplayRender, ResultTextsForUnknownCodes) {
    EXPECT_STREQ(DDErrorText(DD_OK), "The request completed successfully.");
    EXPECT_STREQ(DDErrorText(DDERR_GENERIC), "There is an undefined error condition.");
    EXPECT_STREQ(DDErrorText(DDERR_NOCOOPERATIVELEVELSET),
                 "A create function is called without the IDirectDraw2::SetCooperativeLevel "
                 "method being called.");
    EXPECT_STREQ(DDErrorText(12345), "Recieved an error not part of DirectX 5");
    EXPECT_STREQ(DDErrorText(MakeDdResult(9999)), "Recieved an error not part of DirectX 5");
    // Codes are unique, so no row hides another.
    for (int i = 0; i < DDErrorRowCount(); ++i) {
        EXPECT_STREQ(DDErrorText(DDErrorRows()[i].code), DDErrorRows()[i].text)
            << DDErrorRows()[i].name;
    }
}

// Pictures arrive on a worker thread while the GUI thread changes the split,
// clears and paints; every picture is accepted and nothing tears.
TEST_F(DisplayRender, WorkerThreadRendersWhileGuiThreadChangesLayout) {
    auto wnd = MakeWindow(640, 480, 16, 16);
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};
    std::atomic<int> rendered{0};
    std::thread worker([&] {
        auto pic = FlatPicture(640, 272, 120, 100, 150);
        int n = 0;
        while (!stop.load()) {
            accepted +=
                wnd->Render(n % 16, Time(2020, 1, 1, 0, 0, n % 60), pic.data(), 640, 272) ? 1 : 0;
            ++rendered;
            ++n;
        }
    });
    const int splits[] = {1, 4, 9, 16};
    for (int i = 0; i < 200; ++i) {
        wnd->SetSplit(splits[i % 4], -1);
        if (i % 7 == 0) {
            wnd->Clear();
        }
        if (i % 11 == 0) {
            wnd->SetUseDirectDraw(i % 2);
        }
        wnd->repaint();
        QCoreApplication::processEvents();
    }
    while (rendered.load() < 100) {
        std::this_thread::yield();
    }
    stop = true;
    worker.join();
    EXPECT_GT(accepted.load(), 0);
    QCoreApplication::processEvents();
}

} // namespace
} // namespace tv
