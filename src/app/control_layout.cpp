#include "app/control_layout.h"

#include "engine/playback_rules.h"

namespace tv {

const ControlLayoutRecord kControlLayout[kControlLayoutCount] = {
    {1676, 0, 5, 5, 3},      {1695, 0, 22, 4, 3},     {1672, 2, 560, 2, 3},
    {1674, 2, 582, 2, 3},    {32863, 0, 160, 2, 3},   {32864, 0, 240, 2, 3},
    {1652, 4, 10, 238, 3},   {1658, 4, 10, 238, 1},   {32776, 3, 10, 262, 1},
    {32791, 3, 49, 262, 1},  {32804, 3, 80, 262, 1},  {32793, 3, 111, 262, 1},
    {32789, 3, 142, 262, 1}, {32792, 3, 173, 262, 1}, {32788, 3, 204, 262, 1},
    {32790, 3, 235, 262, 1}, {1253, 3, 274, 262, 1},  {1254, 0, 360, 2, 3},
    {1694, 3, 336, 262, 1},  {32796, 3, 367, 262, 1}, {32797, 3, 398, 262, 1},
    {32798, 3, 429, 262, 1}, {32787, 5, 500, 262, 3}, {1638, 5, 532, 269, 3},
    {32846, 3, 10, 262, 2},  {32848, 3, 49, 262, 2},  {32849, 3, 80, 262, 2},
    {32850, 3, 111, 262, 2}, {32851, 3, 142, 262, 2}, {32852, 3, 173, 262, 2},
    {32853, 3, 204, 262, 2}, {32855, 3, 243, 262, 2}, {32856, 3, 274, 262, 2},
    {32857, 3, 305, 262, 2}, {32858, 3, 336, 262, 2}, {32854, 3, 367, 262, 2},
    {32859, 3, 406, 262, 2}, {32860, 3, 437, 262, 2}, {32861, 3, 468, 262, 2},
    {32862, 3, 499, 262, 2},
};

Placement PlaceControl(const ControlLayoutRecord& r, int w, int h, QSize current, int viewMode) {
    Placement p{QPoint(r.x, r.y), current, (r.modes & viewMode) != 0 && r.id != kIdSplit16};
    switch (r.anchor) {
    case kAnchorRight:
        p.pos = QPoint(r.x + w - 608, r.y);
        break;
    case kAnchorBottom:
        p.pos = QPoint(r.x, r.y + h - 300);
        break;
    case kAnchorBottomRight:
        p.pos = QPoint(r.x + w - 608, r.y + h - 300);
        if (!(viewMode == kEngineModeLocal ? w > 517 : w > 635)) {
            p.visible = false;
        }
        break;
    case kAnchorStretch:
        if (r.id == kIdStatus) {
            p.pos = QPoint(13, h - 74);
            p.size = QSize(w - 116, 17);
        } else {
            p.pos = QPoint(13, h - 52);
            p.size = QSize(w - 26, current.height());
        }
        break;
    default:
        break;
    }
    return p;
}

} // namespace tv
