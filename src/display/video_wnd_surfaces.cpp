#include "display/video_wnd.h"

// The surface path: display-format surfaces for the back image and the
// channel picture, set up again when the display mode changes under them.

#include <algorithm>

#include "display/dd_error.h"
#include "display/display_device.h"
#include "video/color_convert.h"
#include "video/pixel_format.h"

namespace tv {

int CVideoWnd::SetUp() {
    CsLock lock(m_lock);
    if (!CDisplayDevice::Exists() || !m_ddWanted || !(m_setupNeeded || m_ddActive)) {
        m_ddActive = 0;
        return 0;
    }
    ClearDisplaySlots();
    if (m_clientWidth <= 0 || m_clientHeight <= 0) {
        return 0; // no window yet; the set-up stays due
    }
    m_setupNeeded = 0;
    m_ddActive = 0;

    DisplayMode mode = CDisplayDevice::GetDisplayMode();
    m_primary.live = true;
    m_primary.width = mode.width;
    m_primary.height = mode.height;
    m_primary.generation = CDisplayDevice::Generation();
    m_clipper = true;
    if (mode.palettized || mode.bitsPerPixel <= 8) {
        SetError("Not support palette mode.");
        return 0;
    }
    int format = PixelFormatFromDisplay(mode.bitsPerPixel, mode.redMask);
    if (format == PF_UNKNOWN) {
        SetError("Unknown pixel format");
        return 0;
    }
    m_primary.format = format;
    m_primary.pitch = mode.width * PixelFormatBytes(format);

    if (!CreateOffscreen(m_video, 640, 272)) {
        SetError("Failed to create video surface.");
        return 0;
    }
    if (!CreateOffscreen(m_back, m_clientWidth, m_clientHeight)) {
        SetError("Failed to create back surface.");
        return 0;
    }
    m_ddActive = 1;
    return 1;
}

void CVideoWnd::ClearDisplaySlots() {
    m_video.Clear();
    m_back.Clear();
    m_primary.Clear();
    m_clipper = false;
}

int CVideoWnd::CreateOffscreen(SurfaceSlot& slot, int width, int height) {
    if (width <= 0 || height <= 0 || m_clientWidth <= 0 || m_clientHeight <= 0) {
        return 0;
    }
    slot.Clear();
    DisplayMode mode = CDisplayDevice::GetDisplayMode();
    if (mode.palettized || mode.bitsPerPixel <= 8) {
        SetError("Not support palette mode.");
        return 0;
    }
    int format = PixelFormatFromDisplay(mode.bitsPerPixel, mode.redMask);
    if (format == PF_UNKNOWN) {
        SetError("Unkown pixel format.");
        return 0;
    }
    DDRESULT result = CreateSurface(slot, width, height, format);
    if (result != DD_OK) {
        SetError(DDErrorText(result));
        slot.Clear();
        return 0;
    }
    return 1;
}

int CVideoWnd::ConvertInto(SurfaceSlot& slot, const uint8_t* picture, int width, int height) {
    uint8_t* bits = nullptr;
    DDRESULT result = LockSurface(slot, &bits);
    if (result != DD_OK) {
        SetError(DDErrorText(result));
        return 0;
    }
    YuvToPixelFormat(slot.format, bits, slot.pitch, picture, std::min(width, slot.width),
                     std::min(height, slot.height));
    return 1;
}

void CVideoWnd::BlitVideoTo(SurfaceSlot& target, const RECT& rect) {
    if (!target.live || !m_video.live || target.format != m_video.format) {
        return;
    }
    StretchCopy(target.image.bits(), target.pitch, target.width, target.height, rect,
                m_video.image.constBits(), m_video.pitch, m_video.width, m_video.height,
                PixelFormatBytes(target.format));
}

void CVideoWnd::DrawDibTo(QImage& target, const RECT& rect, int width, int height) {
    if (target.isNull()) {
        return;
    }
    StretchDib24(target.bits(), static_cast<int>(target.bytesPerLine()), target.width(),
                 target.height(), target.depth() / 8, rect, m_rgb.get(), width, height);
}

void CVideoWnd::Present() {
    RestoreIfLost(m_primary);
    RequestUpdate();
}

void CVideoWnd::RequestUpdate() {
    if (!m_updatePending.exchange(true)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_updatePending.store(false);
                update();
            },
            Qt::QueuedConnection);
    }
}

int CVideoWnd::SetUseDirectDraw(int on) {
    CsLock lock(m_lock);
    if (on) {
        m_setupNeeded = 1;
        m_ddWanted = 1;
        SetUp();
    } else {
        m_ddActive = 0;
        ClearDisplaySlots();
        m_ddWanted = 0;
    }
    // The stored pictures go through the path now in use, so the switch shows
    // no empty frame.
    Repaint();
    return 1;
}

int CVideoWnd::GetUseDirectDraw() const {
    CsLock lock(m_lock);
    return m_ddWanted;
}

int CVideoWnd::IsDirectDrawActive() const {
    CsLock lock(m_lock);
    return m_ddActive;
}

QImage CVideoWnd::GetBackSurface() const {
    CsLock lock(m_lock);
    return m_ddActive && m_back.live ? m_back.image.copy() : QImage();
}

int CVideoWnd::GetPixelFormat() const {
    CsLock lock(m_lock);
    return m_ddActive ? m_back.format : 0;
}

void CVideoWnd::ForcePixelFormat(int code) {
    CDisplayDevice::ForcePixelFormat(code);
}

void CVideoWnd::SetDisplayFormat(int bitsPerPixel, uint32_t redMask, int palettized) {
    CDisplayDevice::SetDisplayMode(bitsPerPixel, redMask, palettized);
}

} // namespace tv
