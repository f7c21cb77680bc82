#include "display/video_wnd.h"

#include <QPainter>
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "display/dd_error.h"
#include "display/display_device.h"
#include "platform/notifier.h"
#include "video/color_convert.h"
#include "video/pixel_format.h"

namespace tv {
namespace {

constexpr int kChromaOffset640x272 = 174080; // chroma planes after a 640 x 272 luma plane
constexpr int kChromaBytes640x272 = 87040;

bool AcceptedSize(int width, int height) {
    return (width == 320 || width == 640) &&
           (height == 112 || height == 136 || height == 224 || height == 272);
}

} // namespace

CVideoWnd::CVideoWnd(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    m_labelFont = MakeLabelFont(16, 0, 500, 0, "Verdana");
    for (int i = 0; i < kMaxChannels; ++i) {
        m_widths[i] = 640;
        m_heights[i] = 224;
    }
    for (int i = 0; i < kMaxChannels; ++i) {
        m_pictures[i].reset(new (std::nothrow) uint8_t[kPictureBufferSize]);
        if (!m_pictures[i]) {
            ShowMessageBox("Yuv Buf Allocation Failed!");
            break;
        }
        std::memset(m_pictures[i].get(), 0, kPictureBufferSize);
        std::memset(m_pictures[i].get() + kChromaOffset640x272, 128, kChromaBytes640x272);
    }
    m_rgb.reset(new (std::nothrow) uint8_t[kRgbBufferSize]);
    InitColorTables();
    CDisplayDevice::Create();
    CDisplayDevice::AddWindow();
}

CVideoWnd::~CVideoWnd() {
    CsLock lock(m_lock);
    ClearDisplaySlots();
    CDisplayDevice::RemoveWindow();
}

// Pictures.

int CVideoWnd::Render(int channel, const SYSTEMTIME& time, const uint8_t* picture, int width,
                      int height) {
    CsLock lock(m_lock);
    if (channel < 0 || channel >= m_channelCount || picture == nullptr ||
        !AcceptedSize(width, height) || !m_pictures[channel] || !m_rgb) {
        return 0;
    }
    if (m_exportModeFlag && m_engineMode == 1 && !m_ddWanted) {
        m_ddWanted = 1;
        m_setupNeeded = 1;
        SetUp();
    }
    if (m_ddActive) {
        return DrawChannelDirect(channel, time, picture, width, height);
    }
    return DrawChannelGdi(channel, time, picture, width, height);
}

void CVideoWnd::StorePicture(int channel, const SYSTEMTIME& time, const uint8_t* picture, int width,
                             int height) {
    std::memcpy(m_pictures[channel].get(), picture, size_t(width) * height * 3 / 2);
    m_hasPicture[channel] = 1;
    m_times[channel] = time;
    m_widths[channel] = width;
    m_heights[channel] = height;
}

int CVideoWnd::DrawChannelDirect(int channel, const SYSTEMTIME& time, const uint8_t* picture,
                                 int width, int height) {
    StorePicture(channel, time, picture, width, height);
    if (!m_primary.live || !m_back.live || !m_video.live) {
        ClearDisplaySlots();
        SetUp();
        return 0;
    }
    if (m_video.width != width || m_video.height != height) {
        if (!CreateOffscreen(m_video, width, height)) {
            SetError("Failed to create channel surface.");
            return 0;
        }
    }
    if (!ConvertInto(m_video, m_pictures[channel].get(), width, height)) {
        ClearDisplaySlots();
        return 0;
    }
    RecomputeWindowLayout();
    if (!m_visible[channel]) {
        return 1;
    }
    if (m_back.IsLost() || m_back.format != m_video.format) {
        // The surfaces no longer fit the display: build them again and redraw.
        SetError(DDErrorText(m_back.IsLost() ? DDERR_SURFACELOST : DDERR_INVALIDPIXELFORMAT));
        ClearDisplaySlots();
        SetUp();
        Repaint();
        return 0;
    }
    const RECT& r = m_windowRects[channel];
    BlitVideoTo(m_back, r);
    RestoreIfLost(m_back);
    DrawLabel(channel, time, r.left + 4, r.top + 2);
    Present();
    if (Composing()) {
        ComposeExport(channel, time);
    }
    return 1;
}

int CVideoWnd::DrawChannelGdi(int channel, const SYSTEMTIME& time, const uint8_t* picture,
                              int width, int height) {
    StorePicture(channel, time, picture, width, height);
    YuvToDib24(m_rgb.get(), width * 3, m_pictures[channel].get(), width, height);
    RecomputeWindowLayout();
    if (m_visible[channel]) {
        const RECT& r = m_windowRects[channel];
        DrawDibTo(m_gdi, r, width, height);
        DrawLabel(channel, time, r.left + 4, r.top + 2);
        if (Composing()) {
            ComposeExport(channel, time);
        }
        RequestUpdate();
    }
    return 1;
}

void CVideoWnd::SetEngineMode(int mode) {
    CsLock lock(m_lock);
    m_engineMode = mode;
}

int CVideoWnd::GetEngineMode() const {
    CsLock lock(m_lock);
    return m_engineMode;
}

void CVideoWnd::Repaint() {
    CsLock lock(m_lock);
    if ((m_ddActive || (m_setupNeeded && m_ddWanted)) && !m_primary.live) {
        SetUp();
    }
    RecomputeWindowLayout();
    if (!m_ddActive && !m_gdi.isNull()) {
        m_gdi.fill(Qt::black);
    }

    // A frame under way is drawn again from the stored pictures; a redraw
    // completes no frame.
    CSplitComposer* exportFrame = nullptr;
    int ew = 0;
    int eh = 0;
    int topDown = 0;
    if (Composing() && m_composer && ExportFrameSize(&ew, &eh, &topDown) &&
        m_composer->Width() == ew && m_composer->Height() == eh) {
        exportFrame = ExportComposer();
        exportFrame->Clear();
    }

    bool wasDirect = m_ddActive != 0;
    for (int i = 0; i < m_channelCount; ++i) {
        if (!m_visible[i]) {
            continue;
        }
        const RECT& r = m_windowRects[i];
        if (m_hasPicture[i] && m_ddActive) {
            if (m_video.width != m_widths[i] || m_video.height != m_heights[i]) {
                if (!CreateOffscreen(m_video, m_widths[i], m_heights[i])) {
                    SetError("Failed to create video surface.");
                    m_ddActive = 0;
                }
            }
            if (m_ddActive) {
                if (!ConvertInto(m_video, m_pictures[i].get(), m_widths[i], m_heights[i])) {
                    break;
                }
                RestoreIfLost(m_back);
                BlitVideoTo(m_back, r);
            }
        }
        if (wasDirect && !m_ddActive) {
            // Dropped to the plain path half way: draw the whole window there.
            Repaint();
            return;
        }
        if (m_hasPicture[i] && !m_ddActive) {
            YuvToDib24(m_rgb.get(), m_widths[i] * 3, m_pictures[i].get(), m_widths[i],
                       m_heights[i]);
            DrawDibTo(m_gdi, r, m_widths[i], m_heights[i]);
        } else if (!m_hasPicture[i] && m_ddActive && m_clearFlag) {
            ColorFill(m_back, &r, 0);
        }
        DrawLabel(i, m_times[i], r.left + 4, r.top + 2);
        if (exportFrame != nullptr) {
            exportFrame->Draw(i, m_hasPicture[i] ? m_pictures[i].get() : nullptr, m_widths[i],
                              m_heights[i], m_times[i]);
        }
    }
    if (m_ddActive) {
        Present();
    } else {
        RequestUpdate();
    }
}

void CVideoWnd::Refresh() {
    CsLock lock(m_lock);
    if (m_ddActive) {
        Present();
    } else {
        Repaint();
    }
}

void CVideoWnd::Clear() {
    CsLock lock(m_lock);
    m_offlineText.clear();
    m_clearFlag = 1;
    m_hasPicture.fill(0);
    if (m_composer) {
        m_composer->Forget();
    }
    Repaint();
    m_clearFlag = 0;
}

void CVideoWnd::ClearChannel(int channel) {
    CsLock lock(m_lock);
    if (channel < 0 || channel >= kMaxChannels || !m_hasPicture[channel]) {
        return;
    }
    m_hasPicture[channel] = 0;
    m_clearFlag = 1;
    Repaint();
    m_clearFlag = 0;
}

void CVideoWnd::SetOfflineText(const std::string& text) {
    {
        CsLock lock(m_lock);
        if (text == m_offlineText) {
            return;
        }
        m_offlineText = text;
    }
    update();
}

std::string CVideoWnd::GetOfflineText() const {
    CsLock lock(m_lock);
    return m_offlineText;
}

std::string CVideoWnd::GetLastErrorText() const {
    CsLock lock(m_lock);
    return m_lastError;
}

void CVideoWnd::SetError(const std::string& text) {
    m_lastError = text;
}

// Window events.

void CVideoWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    CsLock lock(m_lock);
    if (m_ddActive && m_back.live) {
        if (m_back.format == PF_RGB32) {
            painter.drawImage(0, 0, m_back.image);
        } else {
            ConvertToScreen(m_back.image, m_back.format, m_screen);
            painter.drawImage(0, 0, m_screen);
        }
    } else if (!m_gdi.isNull()) {
        painter.drawImage(0, 0, m_gdi);
    } else {
        painter.fillRect(rect(), Qt::black);
    }
    if (!m_offlineText.empty()) {
        DrawOffline(painter);
    }
}

void CVideoWnd::DrawOffline(QPainter& painter) {
    // Dimmed far enough that nobody takes the last pictures for live ones,
    // still visible enough to show what was last seen.
    painter.fillRect(rect(), QColor(0, 0, 0, 170));
    const QString text = QString::fromStdString(m_offlineText);
    std::vector<QRect> cells;
    for (int c = 0; c < kMaxChannels; ++c) {
        if (m_visible[c]) {
            const RECT& r = m_windowRects[c];
            cells.emplace_back(r.left, r.top, r.Width(), r.Height());
        }
    }
    if (cells.empty()) {
        cells.push_back(rect());
    }
    for (const QRect& cell : cells) {
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(std::clamp(cell.height() / 12, 10, 28));
        painter.setFont(font);
        const QRect box = cell.adjusted(6, 6, -6, -6);
        const QRect used = painter.boundingRect(box, Qt::AlignCenter | Qt::TextWordWrap, text);
        painter.fillRect(used.adjusted(-8, -4, 8, 4), QColor(120, 0, 0, 200));
        painter.setPen(QColor(255, 235, 235));
        painter.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, text);
    }
}

void CVideoWnd::resizeEvent(QResizeEvent*) {
    CsLock lock(m_lock);
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0) {
        return;
    }
    m_clientWidth = w;
    m_clientHeight = h;
    m_gdi = QImage(w, h, QImage::Format_RGB32);
    m_gdi.fill(Qt::black);
    RecomputeWindowLayout();
    SetUp();
    Repaint();
}

} // namespace tv
