#include "skin/skin_resources.h"

#include <QFile>
#include <QHash>
#include <iterator>

static void InitSkinResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(skin);
        return true;
    }();
    (void)done;
}

namespace tv {

namespace {

const int kBitmapIds[] = {
    200, 215, 216, 217, 218, 227, 230, 231, 236, 237, 242, 245, 248, 251, 261, 264,
    275, 276, 277, 278, 281, 282, 285, 290, 300, 306, 308, 312, 313, 314, 315, 316,
    320, 326, 333, 359, 360, 364, 365, 366, 367, 368, 369, 371, 374, 376,
};

struct StringEntry {
    int id;
    const char* text;
};

// The system's string table, texts exactly as the system shows them.
const StringEntry kStrings[] = {
    {101, "About Viewer (&A)..."},
    {102, "Player"},
    {104, "Open"},
    {105, "Play"},
    {106, "Fast Rewind"},
    {107, "Fast Forward"},
    {108, "Next Frame"},
    {109, "Previous Frame"},
    {110, "Pause"},
    {111, "Split 4"},
    {112, "Split 9"},
    {113, "Split 16"},
    {114, "Mute On/Off"},
    {115, "Still Capture"},
    {116, "Volume"},
    {117, "Minimize"},
    {119, "E&xit\tAlt+F4"},
    {120, "Play Reverse"},
    {121, "Split 1"},
    {122, "Viewer"},
    {32809, "Find Folder"},
    {32810, "Select Folder"},
    {32848, "Pause"},
    {32849, "Rewind"},
    {32850, "Play"},
    {32851, "Fast Forward"},
    {32852, "Stop"},
    {32853, "Record"},
    {32854, "Split 9"},
    {32855, "Channel 1"},
    {32856, "Channel 5"},
    {32857, "Split 4"},
    {32858, "Split 4"},
    {32859, "Menu"},
    {32860, "Up"},
    {32861, "Down"},
    {32862, "Select"},
    {32863, "Connect"},
    {32864, "Disconnect"},
    {32866, "Disconnected by server."},
    {32868, "Incorrect password."},
    {32870, "No response server."},
    {32876, "Channel 5"},
    {32877, "Channel 6"},
    {32878, "Channel 7"},
    {32879, "Channel 8"},
    {32880, "Channel 9"},
    {32881, "Sequence"},
    {32882, "Split 4"},
    {32883, "Save AVI"},
    {32885, "Stop AVI"},
    {32886, "Internet low speed?"},
};

} // namespace

const int* SkinBitmapIds(int* count) {
    *count = static_cast<int>(std::size(kBitmapIds));
    return kBitmapIds;
}

QImage LoadSkinBitmap(int id) {
    InitSkinResources();
    QImage image(QStringLiteral(":/skin/%1.png").arg(id));
    if (image.isNull()) {
        return image;
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage LoadSkinIcon(int id) {
    InitSkinResources();
    QImage image(QStringLiteral(":/skin/icon%1.png").arg(id));
    if (image.isNull()) {
        return image;
    }
    return image.convertToFormat(QImage::Format_ARGB32);
}

QString LoadResString(int id) {
    for (const StringEntry& entry : kStrings) {
        if (entry.id == id) {
            return QString::fromUtf8(entry.text);
        }
    }
    return {};
}

} // namespace tv
