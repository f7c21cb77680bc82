#pragma once

// The process-wide drawing device behind every video window's surfaces: the
// screen's pixel format, a generation count that a display mode change bumps
// (surfaces of an older generation are lost), and the surface memory budget.

#include <cstdint>

namespace tv {

struct DisplayMode {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    uint32_t redMask = 0;
    int palettized = 0;
};

class CDisplayDevice {
public:
    // Creates the device once per process; false when there is no screen to
    // draw on (every window then draws through its plain path).
    static bool Create();
    static bool Exists();

    static DisplayMode GetDisplayMode();
    // Changes the display mode as a mode switch would: surfaces created before
    // are lost. A bitsPerPixel of 0 returns to the screen's own mode.
    static void SetDisplayMode(int bitsPerPixel, uint32_t redMask, int palettized);
    // The mode whose surfaces hold pixels of the given format code; code 0
    // returns to the screen's own mode.
    static void ForcePixelFormat(int code);
    static uint32_t Generation();

    // Surface memory, in bytes, that all surfaces together may take (0: no
    // limit); a creation beyond it fails as out of display memory.
    static void SetSurfaceMemoryLimit(int64_t bytes);
    static bool ReserveSurfaceMemory(int64_t bytes);
    static void ReleaseSurfaceMemory(int64_t bytes);
    static int64_t SurfaceMemoryInUse();

    static void AddWindow();
    static void RemoveWindow();
    static int WindowCount();
};

// The pixel format code of a display format: bits per pixel and red mask, as
// the surface layer reports them; 0 when the window cannot draw it.
int PixelFormatFromDisplay(int bitsPerPixel, uint32_t redMask);

} // namespace tv
