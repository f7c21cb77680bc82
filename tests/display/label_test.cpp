#include <gtest/gtest.h>

#include <QFontMetrics>

#include <string>

#include "display/label_text.h"
#include "display_test_util.h"
#include "video/pixel_format.h"

namespace tv {
namespace {

using test::FlatPicture;
using test::MakeWindow;
using test::Time;

TEST(DisplayLabelText, ChannelNumberAndPictureTime) {
    const std::string fmt = "%Y/%m/%d %H:%M:%S";
    EXPECT_EQ(MakeLabelText(2, Time(2009, 7, 14, 18, 5, 9), true, true, fmt),
              "CH3 2009/07/14 18:05:09");
    // No time without the flag, without a picture, or with an empty year.
    EXPECT_EQ(MakeLabelText(2, Time(2009, 7, 14, 18, 5, 9), false, true, fmt), "CH3 ");
    EXPECT_EQ(MakeLabelText(2, Time(2009, 7, 14, 18, 5, 9), true, false, fmt), "CH3 ");
    EXPECT_EQ(MakeLabelText(0, Time(0, 0, 0, 0, 0, 0), true, true, fmt), "CH1 ");
    // A year before 1900 cannot be placed on the calendar: no time either.
    EXPECT_EQ(MakeLabelText(15, Time(1899, 12, 31, 23, 59, 59), true, true, fmt), "CH16 ");
    EXPECT_EQ(MakeLabelText(0, Time(2026, 12, 6, 15, 30, 5), true, true, "%H:%M"), "CH1 15:30");
}

TEST(DisplayLabelText, TimeLongerThan128BytesIsDropped) {
    std::string fmt(120, 'x');
    fmt += "%Y/%m/%d %H:%M:%S";
    EXPECT_EQ(FormatLabelTime(Time(2009, 7, 14, 18, 5, 9), fmt), "");
    EXPECT_EQ(FormatLabelTime(Time(2009, 7, 14, 18, 5, 9), std::string(60, 'y') + "%Y"),
              std::string(60, 'y') + "2009");
}

TEST(DisplayLabelText, WindowLabelsFollowPicturesAndSettings) {
    auto wnd = MakeWindow(640, 224, 2, 1);
    auto pic = FlatPicture(640, 224, 100, 128, 128);
    ASSERT_EQ(wnd->Render(0, Time(0, 0, 0, 0, 0, 0), pic.data(), 640, 224), 1);
    EXPECT_EQ(wnd->GetLabelText(0), "CH1 ");
    ASSERT_EQ(wnd->Render(1, Time(2009, 7, 14, 18, 5, 9), pic.data(), 640, 224), 1);
    EXPECT_EQ(wnd->GetLabelText(1), "CH2 2009/07/14 18:05:09");
    wnd->SetTimeFormat("%d.%m.%Y");
    EXPECT_EQ(wnd->GetLabelText(1), "CH2 14.07.2009");
    wnd->SetShowTime(0);
    EXPECT_EQ(wnd->GetLabelText(1), "CH2 ");
    wnd->SetShowTime(1);
    wnd->Clear();
    EXPECT_EQ(wnd->GetLabelText(1), "CH2 ");
}

TEST(DisplayLabelText, ColourZeroIsStoredAsNearBlack) {
    auto wnd = MakeWindow(64, 64, 1, 1);
    EXPECT_EQ(wnd->GetTextColour(), 0x80FFFFu);
    EXPECT_EQ(wnd->GetOutlineColour(), 0x141414u);
    wnd->SetTextColour(0);
    wnd->SetOutlineColour(0);
    EXPECT_EQ(wnd->GetTextColour(), 0x050505u);
    EXPECT_EQ(wnd->GetOutlineColour(), 0x050505u);
}

// Counts the label area's pixels in a colour.
int CountColour(const QImage& image, QRect area, QRgb colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF) ? 1 : 0;
        }
    }
    return n;
}

// The label is legible over bright and dark pictures: text pixels in the text
// colour, ringed by outline pixels, on both drawing paths and on 16-bit
// surfaces whose red and blue are swapped.
TEST(DisplayLabelDrawing, OutlinedTextOnBrightAndDarkPictures) {
    for (int format : {0, int(PF_RGB32), int(PF_BGR565)}) {
        CVideoWnd::ForcePixelFormat(format == 0 ? PF_RGB32 : format);
        auto wnd = MakeWindow(640, 224, 1, 1);
        wnd->SetUseDirectDraw(format == 0 ? 0 : 1);
        wnd->SetShowLabels(1);
        wnd->SetTextColour(Rgb(0xFF, 0xFF, 0x00)); // yellow
        wnd->SetOutlineColour(Rgb(0x00, 0x00, 0xFF));
        for (uint8_t luma : {uint8_t(16), uint8_t(235)}) {
            auto pic = FlatPicture(640, 224, luma, 128, 128);
            ASSERT_EQ(wnd->Render(0, Time(2009, 7, 14, 18, 5, 9), pic.data(), 640, 224), 1);
            QImage shown = wnd->GrabClient();
            const QRect area(0, 0, 260, 24);
            EXPECT_GT(CountColour(shown, area, qRgb(0xFF, 0xFF, 0x00)), 30)
                << "format " << format << " luma " << int(luma);
            EXPECT_GT(CountColour(shown, area, qRgb(0x00, 0x00, 0xFF)), 30)
                << "format " << format << " luma " << int(luma);
            // Nothing of the label below its line.
            const QRgb below = shown.pixel(10, 60);
            EXPECT_EQ(below & 0xFFFFFF, shown.pixel(600, 200) & 0xFFFFFF);
        }
        // Labels off: the picture alone.
        wnd->SetShowLabels(0);
        auto pic = FlatPicture(640, 224, 16, 128, 128);
        wnd->Render(0, Time(2009, 7, 14, 18, 5, 9), pic.data(), 640, 224);
        QImage shown = wnd->GrabClient();
        EXPECT_EQ(CountColour(shown, QRect(0, 0, 260, 24), shown.pixel(600, 200)), 260 * 24);
    }
    CVideoWnd::ForcePixelFormat(0);
}

} // namespace
} // namespace tv

namespace tv {
namespace {

// A positive height is the whole character cell, a negative one the
// characters alone.
TEST(DisplayLabelFont, HeightSelectsCellOrCharacterSize) {
    auto wnd = test::MakeWindow(64, 64, 1, 1);
    wnd->SetLabelFont(16, 0, 500, 0, "Arial");
    QFont cell = wnd->GetLabelFont();
    EXPECT_LE(QFontMetrics(cell).height(), 16);
    EXPECT_GE(cell.pixelSize(), 8);
    EXPECT_EQ(cell.weight(), QFont::Medium);
    wnd->SetLabelFont(-16, 0, 700, 1, "Arial");
    QFont chars = wnd->GetLabelFont();
    EXPECT_EQ(chars.pixelSize(), 16);
    EXPECT_TRUE(chars.italic());
    EXPECT_EQ(chars.weight(), QFont::Bold);
}

} // namespace
} // namespace tv
