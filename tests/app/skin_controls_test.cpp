#include "app_test_util.h"
#include "skin/skin_button.h"
#include "skin/skin_dialog.h"
#include "skin/skin_draw.h"
#include "skin/skin_resources.h"
#include "skin/skin_slider.h"
#include "skin/status_panel.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace tv {
namespace {

using test::EnsureApp;
using test::MessageSink;

QImage Solid(int w, int h, QRgb c) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

class SkinControls : public ::testing::Test {
protected:
    void SetUp() override { EnsureApp(); }
};

TEST_F(SkinControls, EveryBitmapResourceLoadsWithWholeFrames) {
    int count = 0;
    const int* ids = SkinBitmapIds(&count);
    ASSERT_GT(count, 40);
    for (int i = 0; i < count; ++i) {
        const QImage img = LoadSkinBitmap(ids[i]);
        ASSERT_FALSE(img.isNull()) << ids[i];
    }
    // Caption buttons are opaque 4-frame strips, the others transparent 5-frame ones.
    EXPECT_EQ(LoadSkinBitmap(kBmpClose).width() % 4, 0);
    EXPECT_EQ(LoadSkinBitmap(kBmpMinimize).width() % 4, 0);
    for (int id : {kBmpPlay, kBmpOpen, kBmpMute, kBmpSaveAvi, kBmpPlayerMode, kBmpAppIconButton,
                   kBmpConnect, kBmpDisconnect}) {
        EXPECT_EQ(LoadSkinBitmap(id).width() % 5, 0) << id;
    }
    // The status sheet must reach every sprite the panel reads.
    const QImage sheet = LoadSkinBitmap(kBmpStatusSprites);
    EXPECT_GE(sheet.width(), 377);
    EXPECT_GE(sheet.height(), 7 * 16);
    EXPECT_TRUE(LoadSkinBitmap(12345).isNull());
    EXPECT_FALSE(LoadSkinIcon(kIconApp).isNull());
}

TEST_F(SkinControls, TransparentMaskAndMaskedDrawing) {
    QImage bmp = Solid(4, 1, 0xFFFF00FF);
    bmp.setPixel(1, 0, 0xFF102030);
    const QImage mask = MakeTransparentMask(bmp, kSkinKeyColour);
    EXPECT_EQ(mask.pixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(mask.pixel(1, 0), 0xFF000000u);
    EXPECT_EQ(bmp.pixel(0, 0), 0xFF000000u); // key pixels turn black
    EXPECT_EQ(bmp.pixel(1, 0), 0xFF102030u);

    QImage dst = Solid(4, 1, 0xFF445566);
    DrawMasked(dst, QPoint(0, 0), bmp, mask, bmp.rect());
    EXPECT_EQ(dst.pixel(0, 0), 0xFF445566u);
    EXPECT_EQ(dst.pixel(1, 0), 0xFF102030u);

    // A key taken from a pixel of the bitmap.
    QImage other = Solid(2, 2, 0xFF00FF00);
    other.setPixel(1, 1, 0xFF0000FF);
    const QImage m2 = MakeTransparentMask(other, kKeyFromPixel, QPoint(1, 1));
    EXPECT_EQ(m2.pixel(1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(m2.pixel(0, 0), 0xFF000000u);

    // Button compositing: frame where the mask is black, background where white.
    QImage bg = Solid(2, 1, 0xFF112233);
    QImage frame = Solid(2, 1, 0xFFAABBCC);
    QImage fmask = Solid(2, 1, 0xFF000000);
    fmask.setPixel(1, 0, 0xFFFFFFFF);
    ComposeMaskedFrame(bg, frame, fmask);
    EXPECT_EQ(bg.pixel(0, 0), 0xFFAABBCCu);
    EXPECT_EQ(bg.pixel(1, 0), 0xFF112233u);
}

TEST_F(SkinControls, NineSliceKeepsCornersUnscaledAtEverySize) {
    // A 20 x 20 bitmap whose four quarters are different colours, with marked corners.
    QImage bmp = Solid(20, 20, 0xFF000000);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            bmp.setPixel(x, y, qRgb(x * 10, y * 10, 7));
        }
    }
    for (QSize size : {QSize(100, 80), QSize(300, 260)}) {
        QImage canvas = Solid(size.width(), size.height(), 0xFF0000FF);
        PaintNineSlice(canvas, bmp);
        const int cw = size.width();
        const int ch = size.height();
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 10; ++x) {
                ASSERT_EQ(canvas.pixel(x, y), bmp.pixel(x, y));
                ASSERT_EQ(canvas.pixel(cw - 11 + x, y), bmp.pixel(10 + x, y));
                ASSERT_EQ(canvas.pixel(x, ch - 11 + y), bmp.pixel(x, 10 + y));
                ASSERT_EQ(canvas.pixel(cw - 11 + x, ch - 11 + y), bmp.pixel(10 + x, 10 + y));
            }
        }
        // The top edge repeats the two source columns at x 10 and 11.
        const QRgb top = canvas.pixel(cw / 2, 3);
        EXPECT_TRUE(top == bmp.pixel(10, 3) || top == bmp.pixel(11, 3));
        // The centre is left alone for the video window.
        EXPECT_EQ(canvas.pixel(cw / 2, ch / 2), 0xFF0000FFu);
    }
}

TEST_F(SkinControls, SkinDialogPaintsItsBackgroundUnderChildren) {
    CSkinDialog dlg;
    ASSERT_EQ(dlg.SetBackground(kBmpBackground), 1);
    EXPECT_EQ(dlg.SetBackground(999), 0);
    ASSERT_EQ(dlg.SetBackground(kBmpBackground), 1);
    dlg.resize(645, 548);
    const QImage& bg = dlg.BackgroundBitmap();
    ASSERT_EQ(dlg.BackgroundImage().size(), QSize(645, 548));
    QWidget child(&dlg);
    child.setGeometry(3, 4, 10, 10);
    const QImage under = CSkinDialog::BackgroundUnder(&child);
    EXPECT_EQ(under.pixel(0, 0), bg.pixel(3, 4));
    EXPECT_EQ(under.pixel(9, 9), bg.pixel(12, 13));
}

TEST_F(SkinControls, SliderGeometryAtTheEdgesOfItsRange) {
    // Track 200, thumb 10, margins 5 and 5: centres run from 10 to 190.
    EXPECT_EQ(CSkinSlider::ThumbCentreFor(0, 0, 100, 200, 10, 5, 5), 10);
    EXPECT_EQ(CSkinSlider::ThumbCentreFor(100, 0, 100, 200, 10, 5, 5), 190);
    EXPECT_EQ(CSkinSlider::ThumbCentreFor(50, 0, 100, 200, 10, 5, 5), 100);
    EXPECT_EQ(CSkinSlider::ValueFor(190, 0, 100, 200, 10, 5, 5), 100);
    EXPECT_EQ(CSkinSlider::ValueFor(10, 0, 100, 200, 10, 5, 5), 0);
    EXPECT_EQ(CSkinSlider::ValueFor(100, 0, 100, 200, 10, 5, 5), 50);
    // Minimum equal to maximum: the thumb sits at the start, no division by zero.
    EXPECT_EQ(CSkinSlider::ThumbCentreFor(7, 7, 7, 200, 10, 5, 5), 10);
    EXPECT_EQ(CSkinSlider::ValueFor(150, 7, 7, 200, 10, 5, 5), 7);
    // A track no wider than its thumb and margins.
    EXPECT_EQ(CSkinSlider::ValueFor(5, 0, 100, 20, 10, 5, 5), 0);
    // A recording of 4 TiB has a billion blocks; the end still maps to the end.
    const int64_t blocks = (int64_t{4} << 40) / 4096;
    EXPECT_EQ(CSkinSlider::ThumbCentreFor(blocks, 0, blocks, 2000, 12, 0, 0), 1994);
    EXPECT_EQ(CSkinSlider::ValueFor(1994, 0, blocks, 2000, 12, 0, 0), blocks);
}

class SliderFixture : public SkinControls {
protected:
    void SetUp() override {
        SkinControls::SetUp();
        sink = std::make_unique<MessageSink>();
        slider = new CSkinSlider(sink.get(), 1658);
        QImage track = Solid(200, 12, 0xFF303030);
        QImage fill = Solid(200, 12, 0xFF3070FF);
        ASSERT_EQ(slider->SetTrackBitmaps(track, fill, false, 0), 1);
        QImage thumb = Solid(10, 12, 0xFFFF00FF);
        for (int y = 2; y < 10; ++y) {
            for (int x = 2; x < 8; ++x) {
                thumb.setPixel(x, y, 0xFFEEEEEE);
            }
        }
        ASSERT_EQ(slider->SetThumbBitmaps(thumb, thumb, true, kSkinKeyColour), 1);
        slider->SetMargins(5, 0, 5, 0);
        slider->SetRange(0, 100, true);
        sink->resize(300, 50);
        sink->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(sink.get()));
    }
    std::unique_ptr<MessageSink> sink;
    CSkinSlider* slider = nullptr;
};

TEST_F(SliderFixture, DragPostsMovingStepsThenOneSet) {
    EXPECT_EQ(slider->size(), QSize(200, 12));
    // Press on the thumb at 10: the grab offset keeps the thumb under the pointer.
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(12, 6));
    EXPECT_TRUE(slider->IsDragging());
    EXPECT_TRUE(sink->Take().empty());
    QTest::mouseMove(slider, QPoint(102, 6));
    auto moving = sink->Take();
    ASSERT_EQ(moving.size(), 1u);
    EXPECT_EQ(moving[0].message, kMsgSliderMoving);
    EXPECT_EQ(moving[0].wParam, 1658);
    EXPECT_EQ(moving[0].lParam, 50);
    EXPECT_EQ(slider->GetPosition(), 50);
    // Past the end the thumb stops at the last centre and the maximum.
    QTest::mouseMove(slider, QPoint(290, 6));
    EXPECT_EQ(slider->GetPosition(), 100);
    sink->Take();
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(290, 6));
    auto set = sink->Take();
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].message, kMsgSliderSet);
    EXPECT_EQ(set[0].lParam, 100);
    EXPECT_FALSE(slider->IsDragging());
}

TEST_F(SliderFixture, PressAwayFromTheThumbJumpsToThePointer) {
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(145, 6));
    EXPECT_EQ(slider->GetPosition(), 75);
    auto posted = sink->Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, kMsgSliderMoving);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(145, 6));
}

TEST_F(SliderFixture, KeysMoveByOneByPageAndToTheEnds) {
    slider->setFocus();
    slider->SetPosition(50);
    struct {
        Qt::Key key;
        int64_t expect;
    } steps[] = {{Qt::Key_Right, 51},     {Qt::Key_Down, 52},     {Qt::Key_Left, 51},
                 {Qt::Key_Up, 50},        {Qt::Key_PageDown, 70}, {Qt::Key_PageDown, 90},
                 {Qt::Key_PageDown, 100}, {Qt::Key_PageUp, 80},   {Qt::Key_Home, 0},
                 {Qt::Key_Left, 0},       {Qt::Key_End, 100}};
    for (const auto& s : steps) {
        QTest::keyClick(slider, s.key);
        EXPECT_EQ(slider->GetPosition(), s.expect) << s.key;
        auto posted = sink->Take();
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0].message, kMsgSliderSet);
        EXPECT_EQ(posted[0].lParam, s.expect);
    }
}

TEST_F(SliderFixture, EqualMinimumAndMaximumStillPlacesTheThumb) {
    slider->SetRange(0, 0, true);
    EXPECT_EQ(slider->GetPosition(), 0);
    EXPECT_EQ(slider->ThumbCentre(), 10);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(150, 6));
    EXPECT_EQ(slider->GetPosition(), 0);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(150, 6));
    QTest::keyClick(slider, Qt::Key_End);
    EXPECT_EQ(slider->GetPosition(), 0);
    const QImage img = slider->RenderImage();
    EXPECT_EQ(img.pixel(10, 6), 0xFFEEEEEEu);
}

TEST_F(SliderFixture, FillModeAndThumbRestoreTheTrackBehindIt) {
    slider->SetFillMode(false);
    slider->SetPosition(0);
    QImage img = slider->RenderImage();
    EXPECT_EQ(img.pixel(10, 6), 0xFFEEEEEEu);
    EXPECT_EQ(img.pixel(5, 6), 0xFF303030u); // key colour shows the track
    slider->SetPosition(100);
    img = slider->RenderImage();
    EXPECT_EQ(img.pixel(10, 6), 0xFF303030u); // the old place is restored
    EXPECT_EQ(img.pixel(190, 6), 0xFFEEEEEEu);
    slider->SetFillMode(true);
    slider->SetPosition(50);
    img = slider->RenderImage();
    EXPECT_EQ(img.pixel(40, 6), 0xFF3070FFu);
    EXPECT_EQ(img.pixel(160, 6), 0xFF303030u);
}

TEST_F(SliderFixture, AFailedSecondImageKeepsNothing) {
    EXPECT_EQ(slider->SetTrackImages(kBmpPositionTrack, 9999, false, 0), 0);
    EXPECT_EQ(slider->SetThumbImages(kBmpPositionThumb, 9999, true, kSkinKeyColour), 0);
    EXPECT_EQ(slider->ThumbWidth(), 0);
    EXPECT_EQ(slider->SetTrackImages(kBmpPositionTrack, kBmpPositionFill, false, 0), 1);
    EXPECT_EQ(slider->size(), LoadSkinBitmap(kBmpPositionTrack).size());
}

class ButtonFixture : public SkinControls {
protected:
    void SetUp() override {
        SkinControls::SetUp();
        window = std::make_unique<QWidget>();
        window->resize(200, 100);
        // Frames: normal red, pressed green, hover blue, disabled grey; mask frame 4.
        strip = QImage(50, 10, QImage::Format_RGB32);
        const QRgb colours[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF808080};
        for (int f = 0; f < 4; ++f) {
            for (int y = 0; y < 10; ++y) {
                for (int x = 0; x < 10; ++x) {
                    strip.setPixel(f * 10 + x, y, colours[f]);
                }
            }
        }
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 10; ++x) {
                strip.setPixel(40 + x, y, x == 0 ? 0xFFFFFFFF : 0xFF000000);
            }
        }
    }
    CSkinButton* Make(CSkinButton::Kind kind, QPoint at) {
        auto* b = new CSkinButton(window.get(), kind, 100);
        EXPECT_EQ(b->SetImageStrip(strip, true), 1);
        b->move(at);
        return b;
    }
    void Show() {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    std::unique_ptr<QWidget> window;
    QImage strip;
};

TEST_F(ButtonFixture, PressMoveOffAndReleaseGivesNoClick) {
    CSkinButton* b = Make(CSkinButton::kPush, QPoint(10, 10));
    Show();
    EXPECT_EQ(b->size(), QSize(10, 10));
    QSignalSpy clicks(b, &QAbstractButton::clicked);
    QTest::mouseMove(b, QPoint(5, 5));
    EXPECT_EQ(b->CurrentFrame(), 2);
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(b->CurrentFrame(), 1);
    QTest::mouseMove(b, QPoint(60, 60));
    EXPECT_EQ(b->CurrentFrame(), 0);
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(60, 60));
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(b->CurrentFrame(), 0);
    EXPECT_EQ(b->RenderImage().pixel(5, 5), 0xFFFF0000u);
    // A real click still clicks, and a push button never stays checked.
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(clicks.count(), 1);
    b->SetCheck(1);
    EXPECT_EQ(b->GetCheck(), 0);
}

TEST_F(ButtonFixture, DisabledShowsFrameThreeAndNoHover) {
    CSkinButton* b = Make(CSkinButton::kPush, QPoint(10, 10));
    Show();
    b->setEnabled(false);
    QTest::mouseMove(b, QPoint(5, 5));
    EXPECT_EQ(b->CurrentFrame(), 3);
    EXPECT_FALSE(b->IsHover());
    QImage img = b->RenderImage();
    EXPECT_EQ(img.pixel(5, 5), 0xFF808080u);
    // Column 0 is transparent in the mask: the window shows through.
    EXPECT_EQ(img.pixel(0, 5), window->palette().color(QPalette::Window).rgb());
}

TEST_F(ButtonFixture, ToggleInvertsAndRadioGroupsExcludeEachOther) {
    CSkinButton* toggle = Make(CSkinButton::kToggle, QPoint(0, 0));
    CSkinButton* r1 = Make(CSkinButton::kRadio, QPoint(20, 0));
    CSkinButton* r2 = Make(CSkinButton::kRadio, QPoint(40, 0));
    CSkinButton* other = Make(CSkinButton::kRadio, QPoint(60, 0));
    other->SetGroup(2);
    Show();
    QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(toggle->GetCheck(), 1);
    EXPECT_EQ(toggle->CurrentFrame(), 1);
    QTest::keyClick(toggle, Qt::Key_Space);
    EXPECT_EQ(toggle->GetCheck(), 0);

    other->SetCheck(1);
    QTest::mouseClick(r1, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(r1->GetCheck(), 1);
    QTest::mouseClick(r1, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(r1->GetCheck(), 1); // a radio button stays set
    r2->SetCheck(1);
    EXPECT_EQ(r1->GetCheck(), 0);
    EXPECT_EQ(r2->GetCheck(), 1);
    EXPECT_EQ(other->GetCheck(), 1); // another group is left alone
}

TEST_F(ButtonFixture, MissingBitmapDrawsNothingAndTooltipDropsMnemonics) {
    auto* b = new CSkinButton(window.get());
    EXPECT_EQ(b->SetImage(4242, true), 0);
    b->SetTooltip(119);
    EXPECT_EQ(b->toolTip(), QStringLiteral("Exit Alt+F4"));
    EXPECT_EQ(TooltipText(QStringLiteral("A && B")), QStringLiteral("A & B"));
}

TEST_F(SkinControls, StatusPanelClientModeLightsChannelsOnlyWhenConnected) {
    CStatusPanel panel;
    ASSERT_EQ(panel.SetSprite(kBmpStatusSprites), 1);
    panel.resize(529, 17);
    panel.SetPanelMode(2);
    const QImage& sheet = panel.Sheet();
    auto same = [&](const QImage& img, QRect src, QPoint at) {
        for (int y = 0; y < src.height(); ++y) {
            for (int x = 0; x < src.width(); ++x) {
                if (img.pixel(at.x() + x, at.y() + y) != sheet.pixel(src.x() + x, src.y() + y)) {
                    return false;
                }
            }
        }
        return true;
    };
    for (int state = 0; state <= 6; ++state) {
        panel.SetConnectionState(state);
        const QImage img = panel.RenderImage();
        const int row = state == 3 ? 16 : 0;
        EXPECT_TRUE(same(img, QRect(16, state * 16, 102, 16), QPoint(0, 0))) << state;
        for (int i = 0; i < 8; ++i) {
            EXPECT_TRUE(same(img, QRect(128 + 24 * i, row, 24, 16), QPoint(112 + 24 * i, 0)))
                << state << " " << i;
        }
        EXPECT_TRUE(same(img, QRect(356, row, 21, 16), QPoint(340, 0)));
    }
    // The lit and idle rows really differ, or the check above proves nothing.
    EXPECT_FALSE(same(sheet, QRect(128, 0, 24, 16), QPoint(128, 16)));

    panel.SetPanelMode(1);
    const int rows[] = {64, 64, 16, 32, 16, 32, 48, 80};
    for (int s = 0; s < 8; ++s) {
        panel.SetPlayState(s);
        EXPECT_EQ(CStatusPanel::PlayStateRow(s), rows[s]);
        EXPECT_TRUE(same(panel.RenderImage(), QRect(0, rows[s], 16, 16), QPoint(4, 0)));
    }
    EXPECT_EQ(CStatusPanel::PlayStateRow(9), 0);
}

TEST_F(SkinControls, StatusPanelColourMapReplacesOnlyTheThreeSheetColours) {
    QImage sheet = Solid(400, 112, 0xFF000000);
    sheet.setPixel(0, 0, RgbFromColorRef(CStatusPanel::kSheetColour1));
    sheet.setPixel(1, 0, RgbFromColorRef(CStatusPanel::kSheetColour2));
    sheet.setPixel(2, 0, 0xFF123456);
    CStatusPanel panel;
    panel.SetSpriteSheet(sheet);
    panel.SetColourMap(0x0000FF, 0x00FF00, 0x202020);
    EXPECT_EQ(panel.Sheet().pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(panel.Sheet().pixel(1, 0), 0xFF00FF00u);
    EXPECT_EQ(panel.Sheet().pixel(2, 0), 0xFF123456u);
    EXPECT_EQ(panel.Sheet().pixel(3, 0), 0xFF202020u);
}

} // namespace
} // namespace tv
