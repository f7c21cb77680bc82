#pragma once

#include <QImage>
#include <QString>

namespace tv {

// Bitmap resources of the skin, addressed by the numeric ids the window's
// controls were designed with. The PNG files are made by tools/skingen.
enum SkinBitmap : int {
    kBmpPlay = 200,
    kBmpPositionTrack = 215,
    kBmpPositionFill = 216,
    kBmpPositionThumbDrag = 217,
    kBmpPositionThumb = 218,
    kBmpPause = 227,
    kBmpFastRewind = 230,
    kBmpFastForward = 231,
    kBmpNextFrame = 236,
    kBmpPrevFrame = 237,
    kBmpStillCapture = 242,
    kBmpSplit4 = 245,
    kBmpSplit9 = 248,
    kBmpSplit16 = 251,
    kBmpMinimize = 261,
    kBmpClose = 264,
    kBmpVolumeThumb = 275,
    kBmpVolumeFill = 276,
    kBmpVolumeTrack = 277,
    kBmpVolumeThumbDrag = 278,
    kBmpOpen = 281,
    kBmpPlayReverse = 282,
    kBmpAppIconButton = 285,
    kBmpBackground = 290,
    kBmpSplit1 = 300,
    kBmpConnect = 306,
    kBmpChannel1 = 308,
    kBmpMenu = 312,
    kBmpUp = 313,
    kBmpDown = 314,
    kBmpSelect = 315,
    kBmpRecord = 316,
    kBmpStatusSprites = 320,
    kBmpStop = 326,
    kBmpDisconnect = 333,
    kBmpPlayerMode = 359,
    kBmpClientMode = 360,
    kBmpChannel5 = 364,
    kBmpChannel6 = 365,
    kBmpChannel7 = 366,
    kBmpChannel8 = 367,
    kBmpChannel9 = 368,
    kBmpSequence = 369,
    kBmpMute = 371,
    kBmpSaveAvi = 374,
    kBmpStopAvi = 376,
};

constexpr int kIconApp = 128;

// Every bitmap id the skin ships, for tools and tests that check the set.
const int* SkinBitmapIds(int* count);

// The bitmap resource as a 32-bit image; a null image when there is none.
QImage LoadSkinBitmap(int id);

// The application icon resource (128).
QImage LoadSkinIcon(int id);

// A string resource; empty when the id is unknown.
QString LoadResString(int id);

} // namespace tv
