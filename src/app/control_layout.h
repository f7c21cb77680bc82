#pragma once

#include <QPoint>
#include <QSize>

namespace tv {

// Where a control of the main window goes. Coordinates are pixels from the
// window's top-left corner on a design size of 608 x 300; the anchor says which
// edges follow the real size. Mode bits: 1 player, 2 client.
struct ControlLayoutRecord {
    int id;
    int anchor;
    int x;
    int y;
    int modes;
};

constexpr int kControlLayoutCount = 40;
extern const ControlLayoutRecord kControlLayout[kControlLayoutCount];

enum Anchor : int {
    kAnchorFixed = 0,
    kAnchorRight = 2,
    kAnchorBottom = 3,
    kAnchorStretch = 4,
    kAnchorBottomRight = 5,
};

constexpr int kMinWindowWidth = 578;
constexpr int kMinWindowHeight = 486;

// Control ids of the main window.
enum ControlId : int {
    kIdStillCapture = 1253,
    kIdSaveAvi = 1254,
    kIdVolume = 1638,
    kIdStatus = 1652,
    kIdPosition = 1658,
    kIdMinimize = 1672,
    kIdCloseButton = 1674,
    kIdAppIcon = 1676,
    kIdSplit1 = 1694,
    kIdTitle = 1695,
    kIdMute = 32787,
    kIdSplit16 = 32798,
};

// The placement of one control for a window of W x H in a view mode. The size
// is the control's own unless the record stretches it; visible is false for
// controls of the other mode, for Split 16, and for bottom-right controls when
// the window is too narrow.
struct Placement {
    QPoint pos;
    QSize size;
    bool visible;
};
Placement PlaceControl(const ControlLayoutRecord& record, int windowWidth, int windowHeight,
                       QSize current, int viewMode);

} // namespace tv
