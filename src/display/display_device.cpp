#include "display/display_device.h"

#include <QGuiApplication>
#include <QScreen>
#include <atomic>
#include <mutex>

#include "video/pixel_format.h"

namespace tv {
namespace {

std::mutex g_lock;
bool g_created = false;
bool g_exists = false;
DisplayMode g_screenMode;
DisplayMode g_override; // a forced mode when bitsPerPixel > 0
std::atomic<uint32_t> g_generation{1};
std::atomic<int64_t> g_memoryLimit{0};
std::atomic<int64_t> g_memoryInUse{0};
std::atomic<int> g_windows{0};

DisplayMode ScreenMode() {
    DisplayMode mode;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return mode;
    }
    mode.width = screen->geometry().width();
    mode.height = screen->geometry().height();
    mode.bitsPerPixel = screen->depth();
    switch (mode.bitsPerPixel) {
    case 15:
        mode.redMask = 0x7C00;
        break;
    case 16:
        mode.redMask = 0xF800;
        break;
    case 24:
    case 32:
        mode.redMask = 0xFF0000;
        break;
    default:
        // Deeper screens are drawn through 32-bit surfaces, as the
        // compositor converts anyway.
        if (mode.bitsPerPixel > 32) {
            mode.bitsPerPixel = 32;
            mode.redMask = 0xFF0000;
        } else if (mode.bitsPerPixel <= 8) {
            mode.palettized = 1;
        }
        break;
    }
    return mode;
}

} // namespace

bool CDisplayDevice::Create() {
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_created) {
        g_created = true;
        g_screenMode = ScreenMode();
        g_exists = g_screenMode.bitsPerPixel > 0;
    }
    return g_exists;
}

bool CDisplayDevice::Exists() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_exists;
}

DisplayMode CDisplayDevice::GetDisplayMode() {
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_override.bitsPerPixel <= 0) {
        return g_screenMode;
    }
    DisplayMode mode = g_screenMode;
    mode.bitsPerPixel = g_override.bitsPerPixel;
    mode.redMask = g_override.redMask;
    mode.palettized = g_override.palettized;
    return mode;
}

void CDisplayDevice::SetDisplayMode(int bitsPerPixel, uint32_t redMask, int palettized) {
    std::lock_guard<std::mutex> lock(g_lock);
    // Kept apart from the screen's mode, so that a mode forced before the
    // first window probes the screen survives the probe.
    g_override = DisplayMode{};
    if (bitsPerPixel > 0) {
        g_override.bitsPerPixel = bitsPerPixel;
        g_override.redMask = redMask;
        g_override.palettized = palettized;
    }
    g_generation.fetch_add(1);
}

void CDisplayDevice::ForcePixelFormat(int code) {
    switch (code) {
    case PF_RGB555:
        SetDisplayMode(15, 0x7C00, 0);
        break;
    case PF_RGB565:
        SetDisplayMode(16, 0xF800, 0);
        break;
    case PF_BGR565:
        SetDisplayMode(16, 0x001F, 0);
        break;
    case PF_RGB24:
        SetDisplayMode(24, 0xFF0000, 0);
        break;
    case PF_RGB32:
        SetDisplayMode(32, 0xFF0000, 0);
        break;
    default:
        SetDisplayMode(0, 0, 0);
        break;
    }
}

uint32_t CDisplayDevice::Generation() {
    return g_generation.load();
}

void CDisplayDevice::SetSurfaceMemoryLimit(int64_t bytes) {
    g_memoryLimit.store(bytes);
}

bool CDisplayDevice::ReserveSurfaceMemory(int64_t bytes) {
    int64_t limit = g_memoryLimit.load();
    int64_t now = g_memoryInUse.fetch_add(bytes) + bytes;
    if (limit > 0 && now > limit) {
        g_memoryInUse.fetch_sub(bytes);
        return false;
    }
    return true;
}

void CDisplayDevice::ReleaseSurfaceMemory(int64_t bytes) {
    g_memoryInUse.fetch_sub(bytes);
}

int64_t CDisplayDevice::SurfaceMemoryInUse() {
    return g_memoryInUse.load();
}

void CDisplayDevice::AddWindow() {
    g_windows.fetch_add(1);
}

void CDisplayDevice::RemoveWindow() {
    g_windows.fetch_sub(1);
}

int CDisplayDevice::WindowCount() {
    return g_windows.load();
}

int PixelFormatFromDisplay(int bitsPerPixel, uint32_t redMask) {
    switch (bitsPerPixel) {
    case 15:
        return PF_RGB555;
    case 16:
        if (redMask == 0xF800) {
            return PF_RGB565;
        }
        if (redMask == 0x001F) {
            return PF_BGR565;
        }
        return PF_UNKNOWN;
    case 24:
        return redMask == 0xFF0000 ? PF_RGB24 : PF_UNKNOWN;
    case 32:
        return redMask == 0xFF0000 ? PF_RGB32 : PF_UNKNOWN;
    default:
        return PF_UNKNOWN;
    }
}

} // namespace tv
