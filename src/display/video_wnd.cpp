#include "display/video_wnd.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "display/bitmap_file.h"
#include "display/dd_error.h"
#include "display/display_device.h"
#include "display/label_text.h"
#include "display/messages.h"
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

QColor ToQColor(uint32_t colorref) {
    return QColor(GetRValue(colorref), GetGValue(colorref), GetBValue(colorref));
}

QFont MakeLabelFont(int height, int width, int weight, int italic, const std::string& face) {
    QFont font(QString::fromStdString(face));
    // A negative height is the character height; a positive one the whole
    // cell, leading included, so the characters come out a little smaller.
    int pixels = height == 0 ? 16 : std::min(std::abs(height), 512);
    font.setPixelSize(pixels);
    font.setWeight(weight <= 0 ? QFont::Normal
                               : static_cast<QFont::Weight>(std::min(weight, 1000)));
    font.setItalic(italic != 0);
    if (height > 0) {
        while (pixels > 1 && QFontMetrics(font).height() > height) {
            font.setPixelSize(--pixels);
        }
    }
    if (width > 0) {
        // A requested average character width, against the usual half of the height.
        font.setStretch(std::clamp(width * 200 / pixels, 1, 4000));
    }
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

int GridSide(int split) {
    int d = 0;
    while ((d + 1) * (d + 1) <= split) {
        ++d;
    }
    if (d == 0 || d * d != split) {
        ++d;
    }
    return d;
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

int CVideoWnd::SetExportMode(int on) {
    CsLock lock(m_lock);
    m_exportModeFlag = on ? 1 : 0;
    if (on) {
        if (!m_exportRgb) {
            m_exportRgb.reset(new (std::nothrow) uint8_t[kExportBufferSize]);
        }
        if (m_exportRgb) {
            std::memset(m_exportRgb.get(), 0, kExportBufferSize);
        }
        // A new export starts from an empty frame.
        if (m_composer) {
            m_composer->Restart();
        }
    }
    return 1;
}

int CVideoWnd::GetExportMode() const {
    CsLock lock(m_lock);
    return m_exportModeFlag;
}

void CVideoWnd::SetExportSink(IExportSink* sink) {
    CsLock lock(m_lock);
    m_exportSink = sink;
    if (m_composer) {
        m_composer->Forget();
    }
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

// Export frames.

bool CVideoWnd::Composing() const {
    return m_exportModeFlag && m_engineMode == 1 && m_exportRgb && m_exportSink != nullptr;
}

bool CVideoWnd::ExportFrameSize(int* width, int* height, int* topDown) {
    *width = *height = *topDown = 0;
    if (m_exportSink == nullptr || !m_exportSink->GetExportFrameSize(width, height, topDown) ||
        *width <= 0 || *height <= 0) {
        return false;
    }
    // Frames beyond the export buffer would overrun it.
    if (int64_t(*width) * *height * 3 > kExportBufferSize) {
        SetError("Failed to create AVI surface.");
        return false;
    }
    return true;
}

void CVideoWnd::RecomputeExportLayout(int width, int height) {
    ComputeLayout(width, height, m_exportRects.data());
}

CSplitComposer* CVideoWnd::ExportComposer() {
    int w = 0;
    int h = 0;
    int topDown = 0;
    if (!ExportFrameSize(&w, &h, &topDown)) {
        return nullptr;
    }
    if (!m_composer || m_composer->Width() != w || m_composer->Height() != h) {
        m_composer = std::make_unique<CSplitComposer>(w, h);
        // Export labels keep the window's font, text and colours.
        m_composer->SetLabelDrawer([this](CSplitFrame& frame, int channel, const SYSTEMTIME& time,
                                          int, int x,
                                          int y) { DrawLabelOnFrame(frame, channel, time, x, y); });
        m_composer->SetFrameSink(
            [this](const CSplitFrame& frame, int64_t) { WriteExportFrame(frame); });
    }
    RecomputeExportLayout(w, h);
    m_composer->SetLayout(m_split, m_page, m_channelCount);
    return m_composer.get();
}

void CVideoWnd::ComposeExport(int channel, const SYSTEMTIME& time) {
    if (CSplitComposer* composer = ExportComposer()) {
        composer->Add(channel, m_pictures[channel].get(), m_widths[channel], m_heights[channel],
                      time);
    }
}

void CVideoWnd::WriteExportFrame(const CSplitFrame& frame) {
    int w = 0;
    int h = 0;
    int topDown = 0;
    if (!ExportFrameSize(&w, &h, &topDown) || frame.Width() != w || frame.Height() != h) {
        return;
    }
    if (!topDown) {
        m_exportSink->WriteVideoFrame(frame.Data(), 1);
        return;
    }
    for (int y = 0; y < h; ++y) {
        std::memcpy(m_exportRgb.get() + size_t(y) * w * 3, frame.Row(y), size_t(w) * 3);
    }
    m_exportSink->WriteVideoFrame(m_exportRgb.get(), 1);
}

// Still image.

QImage CVideoWnd::GrabClient() const {
    CsLock lock(m_lock);
    if (m_ddActive && m_back.live) {
        return ToScreenImage(m_back.image, m_back.format);
    }
    return ToScreenImage(m_gdi, PF_RGB32);
}

QImage CVideoWnd::GetBackSurface() const {
    CsLock lock(m_lock);
    return m_ddActive && m_back.live ? m_back.image.copy() : QImage();
}

int CVideoWnd::GetPixelFormat() const {
    CsLock lock(m_lock);
    return m_ddActive ? m_back.format : 0;
}

int CVideoWnd::SaveImage(const std::string& path) {
    const bool guiThread = QCoreApplication::instance() != nullptr &&
                           QThread::currentThread() == QCoreApplication::instance()->thread() &&
                           qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (guiThread) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    QImage shown = GrabClient();
    int ok = 0;
    if (shown.isNull()) {
        CsLock lock(m_lock);
        SetError("No picture to save.");
    } else {
        if (guiThread && QGuiApplication::clipboard() != nullptr) {
            QGuiApplication::clipboard()->setImage(shown);
        }
        std::string error;
        ok = WriteBitmapFile(path, BuildDib24(shown), &error);
        if (!ok) {
            CsLock lock(m_lock);
            SetError(error);
        }
    }
    if (guiThread) {
        QGuiApplication::restoreOverrideCursor();
    }
    return ok;
}

// Layout.

void CVideoWnd::SetChannelCount(int count) {
    CsLock lock(m_lock);
    if (count >= 1 && count <= kMaxChannels) {
        m_channelCount = count;
    }
}

int CVideoWnd::GetChannelCount() const {
    CsLock lock(m_lock);
    return m_channelCount;
}

int CVideoWnd::GetSplit(int* split, int* page) const {
    CsLock lock(m_lock);
    if (split != nullptr) {
        *split = m_split;
    }
    if (page != nullptr) {
        *page = m_page;
    }
    return m_split;
}

int CVideoWnd::SetSplit(int split, int page) {
    CsLock lock(m_lock);
    // A split of 0 has no cells and no pages; it is refused like a negative one.
    if (split <= 0 || split > m_channelCount) {
        return 0;
    }
    if (page >= 0) {
        m_page = page;
    } else if (split == m_split) {
        int pages = (m_channelCount + split - 1) / split;
        m_page = m_page + 1 >= pages ? 0 : m_page + 1;
    } else {
        m_page = 0;
    }
    m_split = split;
    if (split != 1) {
        m_rememberedSplit = split;
        m_rememberedPage = m_page;
    }
    RecomputeWindowLayout();
    SetUp();
    Repaint();
    return 1;
}

void CVideoWnd::ComputeLayout(int width, int height, RECT* rects) {
    CsLock lock(m_lock);
    const int n = std::max(m_split, 1);
    const int d = GridSide(n);
    const int e = width / d;
    const int f = height / d;
    const int rw = width - d * e;
    const int rh = height - d * f;
    for (int i = 0; i < kMaxChannels; ++i) {
        if (i >= m_channelCount) {
            m_visible[i] = 0;
            continue;
        }
        const int k = i % n;
        const int l = k % d;
        const int m = k / d;
        RECT& r = rects[i];
        r.left = e * l + std::min(rw, l);
        r.right = r.left + e + (l < rw ? 1 : 0);
        r.top = f * m + std::min(rh, m);
        r.bottom = r.top + f + (m < rh ? 1 : 0);
        m_visible[i] = (i / n == m_page) ? 1 : 0;
    }
}

void CVideoWnd::RecomputeWindowLayout() {
    CsLock lock(m_lock);
    if (m_clientWidth <= 0 || m_clientHeight <= 0 || m_channelCount <= 0) {
        return;
    }
    if (m_ddActive && m_back.live) {
        ComputeLayout(m_back.width, m_back.height, m_windowRects.data());
    } else {
        ComputeLayout(m_clientWidth, m_clientHeight, m_windowRects.data());
    }
}

RECT CVideoWnd::GetChannelRect(int channel) const {
    CsLock lock(m_lock);
    return channel >= 0 && channel < kMaxChannels ? m_windowRects[channel] : RECT{};
}

RECT CVideoWnd::GetExportRect(int channel) const {
    CsLock lock(m_lock);
    return channel >= 0 && channel < kMaxChannels ? m_exportRects[channel] : RECT{};
}

int CVideoWnd::IsChannelVisible(int channel) const {
    CsLock lock(m_lock);
    return channel >= 0 && channel < kMaxChannels ? m_visible[channel] : 0;
}

int CVideoWnd::HasPicture(int channel) const {
    CsLock lock(m_lock);
    return channel >= 0 && channel < kMaxChannels ? m_hasPicture[channel] : 0;
}

void CVideoWnd::GetPictureSize(int* width, int* fieldHeight) const {
    CsLock lock(m_lock);
    int w = 0;
    int h = 0;
    for (int ch = 0; ch < kMaxChannels; ++ch) {
        if (m_hasPicture[ch]) {
            w = std::max(w, m_widths[ch]);
            h = std::max(h, m_heights[ch]);
        }
    }
    if (width != nullptr) {
        *width = w > 0 ? w : 640;
    }
    if (fieldHeight != nullptr) {
        *fieldHeight = h > 0 ? h : 224;
    }
}

// Labels.

int CVideoWnd::SetShowLabels(int on) {
    CsLock lock(m_lock);
    m_showLabels = on ? 1 : 0;
    return 1;
}

int CVideoWnd::GetShowLabels() const {
    CsLock lock(m_lock);
    return m_showLabels;
}

int CVideoWnd::SetLabelFont(int height, int width, int weight, int italic,
                            const std::string& face) {
    CsLock lock(m_lock);
    m_labelFont = MakeLabelFont(height, width, weight, italic, face);
    ++m_fontSerial;
    return 1;
}

QFont CVideoWnd::GetLabelFont() const {
    CsLock lock(m_lock);
    return m_labelFont;
}

int CVideoWnd::SetTextColour(COLORREF colour) {
    CsLock lock(m_lock);
    m_textColour = colour == 0 ? 0x050505 : colour;
    return 1;
}

int CVideoWnd::SetOutlineColour(COLORREF colour) {
    CsLock lock(m_lock);
    m_outlineColour = colour == 0 ? 0x050505 : colour;
    return 1;
}

COLORREF CVideoWnd::GetTextColour() const {
    CsLock lock(m_lock);
    return m_textColour;
}

COLORREF CVideoWnd::GetOutlineColour() const {
    CsLock lock(m_lock);
    return m_outlineColour;
}

int CVideoWnd::SetShowTime(int flag) {
    CsLock lock(m_lock);
    m_showTime = flag ? 1 : 0;
    return 1;
}

int CVideoWnd::GetShowTime() const {
    CsLock lock(m_lock);
    return m_showTime;
}

int CVideoWnd::SetTimeFormat(const std::string& format) {
    CsLock lock(m_lock);
    m_timeFormat = format;
    return 1;
}

std::string CVideoWnd::GetTimeFormat() const {
    CsLock lock(m_lock);
    return m_timeFormat;
}

std::string CVideoWnd::GetLabelText(int channel) const {
    CsLock lock(m_lock);
    if (channel < 0 || channel >= kMaxChannels) {
        return std::string();
    }
    return MakeLabelText(channel, m_times[channel], m_showTime != 0, m_hasPicture[channel] != 0,
                         m_timeFormat);
}

void CVideoWnd::DrawLabel(int channel, const SYSTEMTIME& time, int x, int y) {
    CsLock lock(m_lock);
    if (!m_showLabels) {
        return;
    }
    if (m_ddActive) {
        if (m_back.live && !m_back.IsLost()) {
            DrawLabelOn(m_back.image, m_back.format, channel, time, x, y);
        }
    } else if (!m_gdi.isNull()) {
        DrawLabelOn(m_gdi, PF_RGB32, channel, time, x, y);
    }
}

void CVideoWnd::DrawExportLabel(int channel, const SYSTEMTIME& time, int x, int y) {
    CsLock lock(m_lock);
    if (m_composer) {
        DrawLabelOnFrame(m_composer->Frame(), channel, time, x, y);
    }
}

void CVideoWnd::DrawLabelOn(QImage& target, int format, int channel, const SYSTEMTIME& time, int x,
                            int y) {
    if (channel < 0 || channel >= kMaxChannels || target.isNull()) {
        return;
    }
    const QImage& label = LabelImage(m_labelCache[channel], channel, time, format);
    QPainter p(&target);
    p.drawImage(x - 2, y - 2, label);
}

void CVideoWnd::DrawLabelOnFrame(CSplitFrame& frame, int channel, const SYSTEMTIME& time, int x,
                                 int y) {
    if (channel < 0 || channel >= kMaxChannels) {
        return;
    }
    const QImage& label = LabelImage(m_exportLabelCache[channel], channel, time, PF_RGB24);
    // The frame's rows run bottom-up, which a QImage cannot: the label is
    // painted on a top-down copy of the pixels under it, then copied back.
    const QRect area = QRect(x - 2, y - 2, label.width(), label.height())
                           .intersected(QRect(0, 0, frame.Width(), frame.Height()));
    if (area.isEmpty()) {
        return;
    }
    QImage patch(area.size(), QImage::Format_BGR888);
    if (patch.isNull()) {
        return;
    }
    const size_t rowBytes = size_t(area.width()) * 3;
    for (int r = 0; r < area.height(); ++r) {
        std::memcpy(patch.scanLine(r), frame.Row(area.top() + r) + size_t(area.left()) * 3,
                    rowBytes);
    }
    {
        QPainter p(&patch);
        p.drawImage(x - 2 - area.left(), y - 2 - area.top(), label);
    }
    for (int r = 0; r < area.height(); ++r) {
        std::memcpy(frame.Row(area.top() + r) + size_t(area.left()) * 3, patch.constScanLine(r),
                    rowBytes);
    }
}

const QImage& CVideoWnd::LabelImage(LabelCache& cache, int channel, const SYSTEMTIME& time,
                                    int format) {
    std::string text =
        MakeLabelText(channel, time, m_showTime != 0, m_hasPicture[channel] != 0, m_timeFormat);
    const uint32_t textColour = SurfaceColour(m_textColour, format);
    const uint32_t outlineColour = SurfaceColour(m_outlineColour, format);
    if (cache.image.isNull() || cache.text != text || cache.textColour != textColour ||
        cache.outlineColour != outlineColour || cache.fontSerial != m_fontSerial) {
        // The outlined text is drawn once per change of text and kept, as the
        // time in a label changes once a second while pictures come 25 times.
        QString qtext = QString::fromStdString(text);
        QFontMetrics metrics(m_labelFont);
        int w = metrics.horizontalAdvance(qtext) + 4;
        int h = metrics.height() + 4;
        QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setFont(m_labelFont);
        p.setPen(ToQColor(outlineColour));
        const int base = 2 + metrics.ascent();
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                if (dx != 0 || dy != 0) {
                    p.drawText(2 + dx, base + dy, qtext);
                }
            }
        }
        p.setPen(ToQColor(textColour));
        p.drawText(2, base, qtext);
        p.end();
        cache.text = std::move(text);
        cache.textColour = textColour;
        cache.outlineColour = outlineColour;
        cache.fontSerial = m_fontSerial;
        cache.image = std::move(image);
    }
    return cache.image;
}

// Mouse.

MouseRecord CVideoWnd::GetMouseRecord() const {
    std::lock_guard<std::mutex> lock(m_mouseLock);
    return m_mouse;
}

int CVideoWnd::TakeMouseEvent(MouseRecord* record) {
    std::lock_guard<std::mutex> lock(m_mouseLock);
    if (!m_mouse.pending) {
        return 0;
    }
    if (record != nullptr) {
        *record = m_mouse;
    }
    m_mouse.pending = 0;
    return 1;
}

void CVideoWnd::ClearMousePending() {
    std::lock_guard<std::mutex> lock(m_mouseLock);
    m_mouse.pending = 0;
}

bool CVideoWnd::RecordMouse(int x, int y, int code, bool setCode) {
    const int w = width();
    const int h = height();
    if (x < 0 || y < 0 || x >= w || y >= h) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mouseLock);
    m_mouse.x = x;
    m_mouse.y = y;
    m_mouse.clientWidth = w;
    m_mouse.clientHeight = h;
    m_mouse.pending = 1;
    if (setCode) {
        m_mouse.eventCode = code;
    }
    return true;
}

void CVideoWnd::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    int flags = 0;
    if (event->buttons() & Qt::LeftButton) {
        flags |= 1;
    }
    if (event->buttons() & Qt::RightButton) {
        flags |= 2;
    }
    if (event->modifiers() & Qt::ShiftModifier) {
        flags |= 4;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        flags |= 8;
    }
    if (event->buttons() & Qt::MiddleButton) {
        flags |= 0x10;
    }
    RecordMouse(pos.x(), pos.y(), flags, flags <= 2);
}

void CVideoWnd::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint pos = event->position().toPoint();
        RecordMouse(pos.x(), pos.y(), kMouseLeftDown, true);
        return;
    }
    QWidget::mousePressEvent(event);
}

void CVideoWnd::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint pos = event->position().toPoint();
        int code = GetMouseRecord().eventCode;
        RecordMouse(pos.x(), pos.y(), kMouseMove,
                    code == kMouseLeftDown || code == kMouseRightDrag);
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void CVideoWnd::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        RecordMouse(pos.x(), pos.y(), kMouseRightDouble, true);
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    RecordMouse(pos.x(), pos.y(), kMouseLeftDouble, true);
    {
        CsLock lock(m_lock);
        if (m_split == 4 || m_split == 9 || m_split == 16) {
            for (int i = 0; i < m_channelCount; ++i) {
                const RECT& r = m_windowRects[i];
                if (m_visible[i] && pos.x() >= r.left && pos.x() < r.right && pos.y() >= r.top &&
                    pos.y() < r.bottom) {
                    SetSplit(1, i);
                    break;
                }
            }
        } else {
            SetSplit(m_rememberedSplit, m_rememberedPage);
        }
    }
    PostWindowMessage(parentWidget(), kMsgSplitChanged);
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

void CVideoWnd::ForcePixelFormat(int code) {
    CDisplayDevice::ForcePixelFormat(code);
}

void CVideoWnd::SetDisplayFormat(int bitsPerPixel, uint32_t redMask, int palettized) {
    CDisplayDevice::SetDisplayMode(bitsPerPixel, redMask, palettized);
}

} // namespace tv
