#pragma once

namespace tv {

// Command ids of the main window's buttons, menus and accelerators.
enum CommandId : int {
    kCommandAbout = 16,
    kCommandShowTime = 32774,
    kCommandNormal = 32775,
    kCommandOpen = 32776,
    kCommandExit = 32777,
    kCommandMute = 32787,
    kCommandPlay = 32788,
    kCommandPause = 32789,
    kCommandFastForward = 32790,
    kCommandFastRewind = 32791,
    kCommandNextFrame = 32792,
    kCommandPrevFrame = 32793,
    kCommandSplit4 = 32796,
    kCommandSplit9 = 32797,
    kCommandSplit16 = 32798,
    kCommandOptions = 32800,
    kCommandPlayReverse = 32804,
    kCommandAlwaysOnTop = 32805,
    kCommandSize448 = 32807,
    kCommandSize544 = 32808,
    kCommandMaximize = 32809,
    kCommandClose = 32815,
    kCommandOpenDisk = 32820,
    kCommandConnect = 32846,
    kCommandPlayerMode = 32863,
    kCommandClientMode = 32864,
    kCommandNetOptions = 32865,
    kCommandStartRecording = 32873,
    kCommandStopRecording = 32874,
    kCommandSplit1 = 1694,
    kCommandStillCapture = 1253,
    kCommandSaveAvi = 1254,
    kCommandMinimize = 1672,
    kCommandCloseButton = 1674,
    kCommandAppIcon = 1676,
    // Beyond the original set: a recorder disk kept as an image file, and a
    // jump to a date and time.
    kCommandOpenDiskImage = 40001,
    kCommandGoToTime = 40002,
    kCommandExportEvidence = 40003,
    kCommandMarkIn = 40004,
    kCommandMarkOut = 40005,
    // Review: the timeline strip, walking the periods of activity, the keys.
    kCommandTimeline = 40101,
    kCommandNextEvent = 40102,
    kCommandPrevEvent = 40103,
    kCommandKeyHelp = 40104,
};

// One bitmap button of the control bar: its image strip, tooltip string,
// kind (0 push, 1 check box, 2 radio) and, for the recorder's buttons, the
// remote key it sends (0 for none).
struct ButtonInfo {
    int id;
    int bitmap;
    int tooltip;
    int kind;
    int remoteKey;
};

constexpr int kButtonCount = 43;
extern const ButtonInfo kButtons[kButtonCount];
const ButtonInfo* FindButton(int id);

// The recorder key sent for a virtual-key code pressed on the keyboard, or -1
// when the key is not forwarded.
int RemoteKeyForVirtualKey(int virtualKey);

// Bitmaps and tooltips the Connect and Save AVI buttons switch between.
constexpr int kBmpConnectIdle = 306;
constexpr int kBmpConnectActive = 333;
constexpr int kTipConnect = 32863;
constexpr int kTipDisconnect = 32864;
constexpr int kBmpAviIdle = 374;
constexpr int kBmpAviActive = 376;
constexpr int kTipSaveAvi = 32883;
constexpr int kTipStopAvi = 32885;

} // namespace tv
